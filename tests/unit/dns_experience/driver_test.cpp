// The resolution driver on answers recorded from the lab: the passes of a resolution, the
// overall timeout, the limits, the fatal end of the unreported levels, the cache across runs and
// the raw text.
#include <gtest/gtest.h>

#include <cstdio>

#include "dns_experience/scripted_lab.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

const std::string tld_level = "1 www.lab.test. ns1.nic.test. 0";
const std::string domain_level = "2 www.lab.test. ns1.lab.test. 4";

class Driver : public Scripted_lab {};

TEST_F(Driver, AThreeLabelNameIsAskedFromTheMachineResolverDown) {
  const std::string result = engine("-j www.lab.test")->run();
  EXPECT_EQ(questions(), (std::vector<std::string>{
                             "@127.53.0.53 -t ns .", "@127.53.1.1 -t ns test.",
                             "@127.53.2.1 -t a www.lab.test.", "@127.53.4.1 -t a www.lab.test."}));
  // Only the levels below the top-level domain are reported, each naming its server.
  EXPECT_EQ(levels_of(result), (std::vector<std::string>{tld_level, domain_level, "test 4 -"}));
}

// The referral to lab.test's servers without their addresses: they are looked up on the machine.
std::string referral_without_glue() {
  const std::string referral = recorded("dig_referral_tld.txt");
  return referral.substr(0, referral.find(";; ADDITIONAL SECTION:")) +
         referral.substr(referral.find(";; Query time"));
}

TEST_F(Driver, TheOverallTimeoutSparesTheUnreportedLevelsAndKeepsTheReportedOnes) {
  struct Timeout_case {
    std::string options;
    Rule late;  // the test time runs out while it is answered (or its names are looked up)
    bool during_lookup;
    std::vector<std::string> levels;
  };
  const std::vector<Timeout_case> cases = {
      // The root and top-level levels only warn: the test time starts at the first reported one.
      {"", {{"-t ns . "}, "dig_root_servers.txt"}, false, {tld_level, domain_level, "test 4 -"}},
      {"",
       {{"@127.53.2."}, "dig_referral_tld.txt"},
       false,
       {tld_level, "test 2000 nameserver-resolution-timeout"}},
      // While the next level's servers are looked up, or before another server is asked after a
      // failure: the level measured stays, with nothing else.
      {"",
       {{"@127.53.2."}, referral_without_glue()},
       true,
       {tld_level, "test 2000 nameserver-resolution-timeout"}},
      {"-f",
       {{"@127.53.4.1"}, "dig_servfail.txt"},
       false,
       {tld_level, "2 www.servfail.test. ns1.lab.test. 2",
        "test 2000 nameserver-resolution-timeout"}},
  };
  for (const Timeout_case& c : cases) {
    auto wrapper = engine("-j -Q 1 " + c.options + " www.lab.test");
    host_addresses = {{"ns1.lab.test.", "127.53.4.1"}, {"ns2.lab.test.", "127.53.4.2"}};
    rules = lab_rules();
    rules.insert(rules.begin(), c.late);
    (c.during_lookup ? on_lookup : rules.front().before) = [&] { wrapper->age(2); };
    std::vector<std::string> levels = levels_of(wrapper->run());
    // The test time of a test ended by the overall timeout is the time it ran.
    std::string& test = levels.back();
    if (test.ends_with("resolution-timeout")) {
      EXPECT_GE(std::stoi(test.substr(5)), 2000);
      test.replace(5, test.rfind(' ') - 5, "2000");
    }
    EXPECT_EQ(levels, c.levels) << c.late.file;
    on_lookup = nullptr;
  }
  EXPECT_TRUE(logged("Queries not reported to the user are taking longer than expected"));
}

TEST_F(Driver, RunsEndAtTheLevelAndAliasLimits) {
  // Every server below the root refers to lab.test's servers again: 16 levels are reported.
  rules.insert(rules.begin(), Rule{{"-t a www.lab.test. "}, "dig_referral_tld.txt"});
  std::vector<std::string> levels = levels_of(engine("-j www.lab.test")->run());
  EXPECT_EQ(levels.size(), 17u);
  EXPECT_EQ(levels.back(), "test 0 too-many-levels");
  // Every top-level-domain server answers with an alias: the tenth is one too many.
  rules = lab_rules();
  rules.insert(rules.begin(), Rule{{"-t a "}, "dig_cname_other_tld.txt"});
  auto wrapper = engine("-j www.lab.test");
  levels = levels_of(wrapper->run());
  EXPECT_EQ(levels.size(), 11u);
  EXPECT_EQ(levels.back(), "test 0 too-many-cname-traversal");
  EXPECT_EQ(value_at(wrapper->test_result(), "R:common.results.error-details"),
            "Too many aliases in the resolution chain "
            "(qv-dns.results.error.too-many-cname-traversal)");
}

TEST_F(Driver, UnreportedLevelsWhoseServersAllFailEndTheProcess) {
  resolvers = {};
  EXPECT_EXIT(engine("-j www.lab.test")->run(), ::testing::ExitedWithCode(1),
              "^Fatal error: No local resolver was found. "
              "\\(qv-dns.results.error.no-local-resolver-available\\)\n$");
  resolvers = {"127.53.0.53", "127.53.0.54"};
  rules.insert(rules.begin(), Rule{{"-t ns . "}, "dig_timeout.txt", 9});
  EXPECT_EXIT(engine("-j www.lab.test")->run(), ::testing::ExitedWithCode(1),
              "Fatal error: Last Failure: .*timeout.*\\. All the servers at query not shown to the "
              "user: 1 failed\\. Aborting the test\\. "
              "\\(qv-dns.results.error.root-server-or-tld-query-error\\)\n$");
}

// Runs sharing one cache file, as consecutive tests of an agent do.
class Cached_runs : public Scripted_lab {
 protected:
  ~Cached_runs() override { std::remove(path.c_str()); }
  bool cached(const std::string& name, Cache::output_t output, std::int64_t at = 0) {
    Cache cache(logger, path, 1000, [at] { return at == 0 ? Cache::wall_clock_seconds() : at; });
    std::vector<ServerInfo> servers;
    return cache.get_cached_answer(name, output, servers, raw, json);
  }
  std::string path = tools.path() + "cache.dat";
  std::string raw, json;
};

TEST_F(Cached_runs, DelegationsLastTheirLifetimeClampedAndTheRootOneTheTestsOwn) {
  // The top-level domain's referral says 60 s: it is kept for an hour all the same.
  std::string referral = recorded("dig_referral_tld.txt");
  for (std::size_t at; (at = referral.find("3600")) != std::string::npos;)
    referral.replace(at, 4, "60");
  rules.insert(rules.begin(), Rule{{"@127.53.2."}, referral});
  engine("-j -C " + path + " www.lab.test")->run();
  const std::int64_t now = Cache::wall_clock_seconds();
  for (const auto& [name, lifetime] : std::vector<std::pair<std::string, std::int64_t>>{
           {".", 86400}, {"test.", 86400}, {"www.lab.test.", 3600}}) {
    EXPECT_TRUE(cached(name, Cache::servers_only, now + lifetime - 5)) << name;
    EXPECT_FALSE(cached(name, Cache::servers_only, now + lifetime + 5)) << name;
  }
}

TEST_F(Cached_runs, CachedLevelsTakeNoTimeAndUnusableOnesAreQueriedAgainAndReplaced) {
  // A level the cache may serve but does not yet is measured like any other.
  std::string slow_referral = recorded("dig_referral_tld.txt");
  slow_referral.replace(slow_referral.find("969 usec"), 8, "7969 usec");
  rules.insert(rules.begin(), Rule{{"@127.53.2."}, slow_referral});
  EXPECT_EQ(levels_of(engine("-j -c -C " + path + " www.lab.test")->run()).front(),
            "1 www.lab.test. ns1.nic.test. 7");
  rules = lab_rules();
  // Levels 1 to 3 come from the cache (names are compared without case): one query left, and
  // the cached level counts 0 ms.
  scripted.commands.clear();
  const std::vector<std::string> warm = {tld_level, domain_level, "test 4 -"};
  EXPECT_EQ(levels_of(engine("-j -c -C " + path + " WWW.Lab.Test")->run()), warm);
  EXPECT_EQ(scripted.commands.size(), 1u);

  // Texts that are no step, and a step without the servers to ask next.
  ASSERT_TRUE(cached("www.lab.test.", Cache::servers_and_json));
  const std::vector<ServerInfo> servers = {{"ns1.lab.test.", IP::Address("127.53.4.1"), -1}};
  for (const auto& [unusable, next] : std::vector<std::pair<std::string, std::vector<ServerInfo>>>{
           {"{not json", servers},
           {"[]", servers},
           {R"({"OtherData":{}})", servers},
           {R"({"Metrics":[],"OtherData":[]})", servers},
           {json, {}}}) {
    Cache(logger, path, 1000).set_cache_answer("www.lab.test.", next, 3600, "", unusable);
    scripted.commands.clear();
    EXPECT_EQ(levels_of(engine("-j -c -C " + path + " www.lab.test")->run()), warm) << unusable;
    EXPECT_EQ(questions(), (std::vector<std::string>{"@127.53.2.1 -t a www.lab.test.",
                                                     "@127.53.4.1 -t a www.lab.test."}));
    std::vector<ServerInfo> replaced;
    ASSERT_TRUE(
        Cache(logger, path, 1000)
            .get_cached_answer("www.lab.test.", Cache::servers_and_json, replaced, raw, json));
    EXPECT_TRUE(json.starts_with(R"({"Metrics":[)") && replaced.size() == 2) << json;
  }
  EXPECT_TRUE(logged("Json retrieved from Cache was malformed, redoing the query"));
}

TEST_F(Cached_runs, RawTextShowsFailuresCachedLevelsAndAliases) {
  // ns1.alias.test refuses; with -f its partner answers.
  rules.insert(rules.begin(), Rule{{"@127.53.4.1", "to-example"}, "dig_refused.txt"});
  rules.insert(rules.begin(), Rule{{"@127.53.4.2", "to-example"}, "dig_cname_other_tld.txt"});
  const std::string arguments = "-f -c -C " + path + " to-example.alias.test";
  engine(arguments)->run();
  EXPECT_EQ(headings(engine(arguments)->run()),
            (std::vector<std::string>{
                "## Level 1 *Cached*", "## Level 2", "##  nameserver: 127.53.4.1 [ns1.alias.test.]",
                "##  FAILURE #1", "##  nameserver: 127.53.4.2 [ns2.alias.test.]",
                "## Level 3 (alias resolution 1) *Cached*", "## Level 4 (alias resolution 1)",
                "##  nameserver: 127.53.4.4 [ns2.lab.example.]", "## Test time: 0ms"}));
}

}  // namespace
}  // namespace Network_tools::DNS_experience
