// The resolution driver on answers recorded from the lab: the passes of a resolution, the
// overall timeout, the limits, the fatal end of the unreported levels, the cache across runs and
// the raw text.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "dns_experience/scripted_lab.h"
#include "dns_experience/results/step_json.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

const std::vector<std::string> level_keys = {"qv-dns.results.level-id.number",
                                             "qv-dns.results.question.name",
                                             "qv-dns.results.server.name",
                                             "qv-dns.results.duration.ms"};

std::string test_value(const std::string& document, const std::string& key) {
  rapidjson::Document parsed;
  parsed.Parse(document.c_str());
  return value_at(parsed, "R:" + key);
}

class Driver : public Scripted_lab {};

TEST_F(Driver, AThreeLabelNameIsAskedFromTheMachineResolverDown) {
  const std::string result = engine("-j www.lab.test")->run();
  EXPECT_EQ(questions(), (std::vector<std::string>{"@127.53.0.53 -t ns .", "@127.53.1.1 -t ns test.",
                                                   "@127.53.2.1 -t a www.lab.test.",
                                                   "@127.53.4.1 -t a www.lab.test."}));
  // Only the levels below the top-level domain are reported, each naming its server.
  EXPECT_EQ(step_summaries(result, level_keys),
            (std::vector<std::string>{"1 www.lab.test. ns1.nic.test. 0",
                                      "2 www.lab.test. ns1.lab.test. 4"}));
  EXPECT_EQ(test_value(result, "qv-dns.results.duration.ms"), "4");
  EXPECT_EQ(test_value(result, "common.results.error-code"), "<absent>");
}

// The referral to lab.test's servers without their addresses: they are looked up on the machine.
std::string referral_without_glue() {
  const std::string referral = recorded("dig_referral_tld.txt");
  const std::size_t additional = referral.find(";; ADDITIONAL SECTION:");
  return referral.substr(0, additional) + referral.substr(referral.find(";; Query time"));
}

TEST_F(Driver, TheOverallTimeoutSparesTheUnreportedLevelsAndKeepsTheReportedOnes) {
  struct Timeout_case {
    std::string options;
    // The answer during which the test time runs out (or that leaves names to look up when the
    // time runs out during a look-up).
    Rule late;
    bool late_lookup;
    std::vector<std::string> steps;
    std::string error;
  };
  const std::string timeout = "qv-dns.results.error.nameserver-resolution-timeout";
  const std::vector<Timeout_case> cases = {
      // The root and top-level levels only warn: the test time starts at the first reported one.
      {"", {{"-t ns . "}, "dig_root_servers.txt"}, false,
       {"1 www.lab.test. ns1.nic.test. 0", "2 www.lab.test. ns1.lab.test. 4"}, "<absent>"},
      {"", {{"@127.53.2."}, "dig_referral_tld.txt"}, false, {"1 www.lab.test. ns1.nic.test. 0"},
       timeout},
      // While the next level's servers are looked up, or before the next server is asked after
      // a failure: the level measured stays, with nothing else.
      {"", {{"@127.53.2."}, referral_without_glue()}, true, {"1 www.lab.test. ns1.nic.test. 0"},
       timeout},
      {"-f", {{"@127.53.4.1"}, "dig_servfail.txt"}, false,
       {"1 www.lab.test. ns1.nic.test. 0", "2 www.servfail.test. ns1.lab.test. 2"}, timeout},
  };
  for (const Timeout_case& c : cases) {
    auto wrapper = engine("-j -Q 1 " + c.options + " www.lab.test");
    host_addresses = {{"ns1.lab.test.", "127.53.4.1"}, {"ns2.lab.test.", "127.53.4.2"}};
    rules.insert(rules.begin(), c.late);
    const auto late = [&] { wrapper->age(2); };
    if (c.late_lookup) {
      on_lookup = late;
    } else {
      rules.front().before = late;
    }
    const std::string result = wrapper->run();
    EXPECT_EQ(step_summaries(result, level_keys), c.steps) << c.late.file;
    EXPECT_EQ(test_value(result, "common.results.error-code"), c.error);
    rules = lab_rules();
    on_lookup = nullptr;
  }
  EXPECT_TRUE(logged("Queries not reported to the user are taking longer than expected"));
  EXPECT_TRUE(logged("Global timeout with visible levels reported to the user"));
}

TEST_F(Driver, RunsEndAtTheLevelAndAliasLimits) {
  struct Limit_case {
    Rule endless;
    std::string error;
    std::string details;
    std::size_t steps;
  };
  const std::vector<Limit_case> cases = {
      // Every server below the root refers to lab.test's servers again.
      {{{"-t a www.lab.test. "}, "dig_referral_tld.txt"},
       "too-many-levels",
       "Maximum number of servers allowed reached",
       16},
      // Every top-level-domain server answers with an alias: the tenth one is one too many.
      {{{"-t a "}, "dig_cname_other_tld.txt"},
       "too-many-cname-traversal",
       "Too many aliases in the resolution chain",
       10},
  };
  for (const Limit_case& c : cases) {
    rules.insert(rules.begin(), c.endless);
    auto wrapper = engine("-j www.lab.test");
    const std::string result = wrapper->run();
    EXPECT_EQ(step_summaries(result, level_keys).size(), c.steps) << c.error;
    EXPECT_EQ(test_value(result, "common.results.error-code"), "qv-dns.results.error." + c.error);
    EXPECT_EQ(test_value(result, "common.results.error-details"),
              c.details + " (qv-dns.results.error." + c.error + ")");
    rules = lab_rules();
  }
}

TEST_F(Driver, UnreportedLevelsWhoseServersAllFailEndTheProcess) {
  using ::testing::ExitedWithCode;
  resolvers = {};
  EXPECT_EXIT(engine("-j www.lab.test")->run(), ExitedWithCode(1),
              "^Fatal error: No local resolver was found. "
              "\\(qv-dns.results.error.no-local-resolver-available\\)\n$");
  resolvers = {"127.53.0.53", "127.53.0.54"};
  rules.insert(rules.begin(), Rule{{"-t ns . "}, "dig_timeout.txt", 9});
  EXPECT_EXIT(engine("-j www.lab.test")->run(), ExitedWithCode(1),
              "Fatal error: Last Failure: .*timeout.*\\. All the servers at query not shown to the "
              "user: 1 failed\\. Aborting the test\\. "
              "\\(qv-dns.results.error.root-server-or-tld-query-error\\)\n$");
}

// Runs sharing one cache file, as consecutive tests of an agent do.
class Cached_runs : public Scripted_lab {
 protected:
  ~Cached_runs() override { std::remove(path.c_str()); }
  std::string path = tools.path() + "cache.dat";
};

TEST_F(Cached_runs, DelegationsLastTheirLifetimeClampedAndTheRootOneTheTestsOwn) {
  // The top-level domain's referral lives 60 s by its records: cached for an hour all the same.
  std::string referral = recorded("dig_referral_tld.txt");
  for (std::size_t at = referral.find("3600"); at != std::string::npos; at = referral.find("3600")) {
    referral.replace(at, 4, "60");
  }
  rules.insert(rules.begin(), Rule{{"@127.53.2."}, referral});
  engine("-j -C " + path + " www.lab.test")->run();

  struct Lifetime_case {
    std::string name;
    std::int64_t seconds;
  };
  const std::int64_t now = Cache::wall_clock_seconds();
  for (const Lifetime_case& c : {Lifetime_case{".", 86400}, Lifetime_case{"test.", 86400},
                                 Lifetime_case{"www.lab.test.", 3600}}) {
    for (const std::int64_t offset : {-5, 5}) {
      Cache cache(logger, path, 1000, [&] { return now + c.seconds + offset; });
      std::vector<ServerInfo> servers;
      std::string raw, json;
      EXPECT_EQ(cache.get_cached_answer(c.name, Cache::servers_only, servers, raw, json),
                offset < 0)
          << c.name << " at " << offset;
    }
  }
}

TEST_F(Cached_runs, CachedLevelsTakeNoTimeAndUnusableOnesAreQueriedAgainAndReplaced) {
  // A level the cache may serve but does not yet is measured like any other.
  std::string slow_referral = recorded("dig_referral_tld.txt");
  slow_referral.replace(slow_referral.find("969 usec"), 8, "7969 usec");
  rules.insert(rules.begin(), Rule{{"@127.53.2."}, slow_referral});
  const std::string cold = engine("-j -c -C " + path + " www.lab.test")->run();
  EXPECT_EQ(step_summaries(cold, level_keys).front(), "1 www.lab.test. ns1.nic.test. 7");
  const std::size_t cold_queries = scripted.commands.size();
  const std::string warm = engine("-j -c -C " + path + " www.lab.test")->run();
  // Levels 1 to 3 come from the cache: one query, and the cached level counts 0 ms.
  EXPECT_EQ(scripted.commands.size(), cold_queries + 1);
  const std::vector<std::string> levels = {"1 www.lab.test. ns1.nic.test. 0",
                                           "2 www.lab.test. ns1.lab.test. 4"};
  EXPECT_EQ(step_summaries(warm, level_keys), levels);
  rules = lab_rules();

  for (const std::string unusable : {"{not json", "[]", R"({"OtherData":{}})",
                                     R"({"Metrics":[],"OtherData":[]})"}) {
    {
      Cache cache(logger, path, 1000);
      cache.set_cache_answer("www.lab.test.", {ServerInfo{"ns1.lab.test.", IP::Address("127.53.4.1"), -1}},
                             3600, "", unusable);
    }
    scripted.commands.clear();
    const std::string result = engine("-j -c -C " + path + " www.lab.test")->run();
    EXPECT_EQ(questions(), (std::vector<std::string>{"@127.53.2.1 -t a www.lab.test.",
                                                     "@127.53.4.1 -t a www.lab.test."}))
        << unusable;
    EXPECT_EQ(step_summaries(result, level_keys), levels);
    Cache cache(logger, path, 1000);
    std::vector<ServerInfo> servers;
    std::string raw, json;
    ASSERT_TRUE(cache.get_cached_answer("www.lab.test.", Cache::servers_and_json, servers, raw, json));
    EXPECT_EQ(json.find(R"({"Metrics":[)"), 0u) << json;
  }
  EXPECT_TRUE(logged("Json retrieved from Cache was malformed, redoing the query"));
}

TEST_F(Cached_runs, RawTextShowsFailuresCachedLevelsAndAliases) {
  // ns1.alias.test refuses; with -f its partner answers.
  rules.insert(rules.begin(), Rule{{"@127.53.4.1", "to-example"}, "dig_refused.txt"});
  rules.insert(rules.begin(), Rule{{"@127.53.4.2", "to-example"}, "dig_cname_other_tld.txt"});
  const std::string arguments = "-f -c -C " + path + " to-example.alias.test";
  engine(arguments)->run();
  auto wrapper = engine(arguments);
  std::istringstream text(wrapper->run());
  std::vector<std::string> headings;
  for (std::string line; std::getline(text, line);) {
    if (line.starts_with("##")) headings.push_back(line);
  }
  EXPECT_EQ(headings, (std::vector<std::string>{
                          "## Level 1 *Cached*",
                          "## Level 2",
                          "##  nameserver: 127.53.4.1 [ns1.alias.test.]",
                          "##  FAILURE #1",
                          "##  nameserver: 127.53.4.2 [ns2.alias.test.]",
                          "## Level 3 (alias resolution 1) *Cached*",
                          "## Level 4 (alias resolution 1)",
                          "##  nameserver: 127.53.4.4 [ns2.lab.example.]",
                          "## Test time: 0ms",
                      }));
}

}  // namespace
}  // namespace Network_tools::DNS_experience
