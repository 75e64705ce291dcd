// The results model: which responses count, how they are grouped, merged and failed, where an
// alias target's resolution starts, and how the model is written into the test result.
#include "dns_experience/results/results.h"

#include <gtest/gtest.h>

#include <sstream>

#include "dns_experience/results/step_json.h"
#include "support/fake_tools.h"
#include "wrapper/json_access.h"

namespace Network_tools::DNS_experience {
namespace {

using Network_tools::testing_support::thrown_by;
constexpr auto experience = test_type_t::DNS_experience;
constexpr auto traversal = test_type_t::DNS_traversal;
using Names = std::vector<std::string>;

// One dig query's result as the dig wrapper writes it.
class DigStep {
 public:
  DigStep(Logger& logger, int duration_ms) : result_(logger) {
    result_.add_other_data("qv-dns.results.duration.ms", duration_ms, 0, 0);
    result_.add_other_data("qv-dns.results.duration.us", duration_ms * 1000 + 250, 0, 0);
  }
  DigStep& server(const std::string& name, const std::string& status = "qv-dns.results.error.none",
                  const std::string& flags = "qr aa") {
    result_.add_other_data("qv-dns.results.server.port", 53, 0, 0);
    result_.add_other_data("qv-dns.results.id", 53, 0, 0);
    return other("server.name", name).other("status", status).other("flags", flags);
  }
  DigStep& question(const std::string& name) {
    return other("question.class", "IN").other("question.name", name).other("protocol", "UDP");
  }
  DigStep& record(const std::string& section, const std::string& name, const std::string& info,
                  int ttl = 300) {
    const std::string prefix = "qv-dns.results." + section;
    const int entry = result_.get_metrics_count(0, 0);
    result_.add_metric_data(prefix + ".name", name, 0, 0, entry);
    result_.add_metric_data(prefix + ".info", info, 0, 0, entry);
    result_.add_metric_data(prefix + ".ttl", ttl, 0, 0, entry);
    return *this;
  }
  DigStep& error(const std::string& key) {
    result_.add_other_data("common.results.error-code", key, 0, -1);
    return *this;
  }
  TestResult& result() { return result_; }
  const rapidjson::Value& step() { return *result_.retrieve_data_level_pointer(0, 0, -1); }

 private:
  DigStep& other(const std::string& key, const std::string& value) {
    result_.add_other_data("qv-dns.results." + key, value, 0, 0);
    return *this;
  }
  TestResult result_;
};

// Member `key` of `object` as compact JSON, or "absent".
std::string member(const rapidjson::Value& object, const std::string& key) {
  if (!object.IsObject() || !object.HasMember(key.c_str())) return "absent";
  return JSON_to_string(object[key.c_str()]);
}

std::vector<ServerInfo> servers(const Names& names) {
  std::vector<ServerInfo> list;
  for (const std::string& name : names) list.push_back({name, IP::Address("127.53.9.9"), -1});
  return list;
}

Names hostnames_of(const std::vector<ServerInfo>& list) {
  Names names;
  for (const ServerInfo& server : list) names.push_back(server.hostname);
  return names;
}

class ResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { results_.start_alias_traversal(); }

  void delegate(const std::string& zone, const std::string& server, int level) {
    DigStep step(logger_, 2);
    results_.add_level(zone, {}, step.record("authority", zone, server).result(), servers({server}),
                       level, false);
  }
  void answer(const std::string& server, const std::string& status, int level,
              test_type_t type = experience) {
    DigStep step(logger_, 10);
    step.server(server, status).question("www.lab.test.").record("answer", "www.", "127.0.0.1");
    if (type == traversal) {
      results_.add_traversal_level(ParsedResponse{}, {}, step.result(), level, false);
    } else {
      results_.add_level("", {}, step.result(), {}, level, false);
    }
  }
  void failure(const std::string& server, const std::string& error, int level) {
    DigStep step(logger_, 1500);
    results_.add_failure(step.question("www.lab.test.").error(error).result(), server, level);
  }
  // Fills a fresh document and returns its test level's `key`.
  std::string fill(test_type_t type, const std::string& key = "common.results.error-code") {
    result_.initialize_JSON_object();
    results_.fill_test_results(result_, type);
    return member(result_.document()["MonitorResults"][0]["OtherData"], key);
  }
  const rapidjson::Value& steps() { return result_.document()["MonitorResults"][0]["StepResults"]; }
  const Results::Level& last_level() { return results_.resolutions.back().levels.back(); }

  std::ostringstream log_;
  Logger logger_{LEVEL_DEBUG, "", log_};
  Results results_{logger_};
  TestResult result_{logger_};
};

TEST_F(ResultsTest, DomainWithoutServersOrTheReverseIsRefused) {
  DigStep step(logger_, 5);
  EXPECT_STREQ(
      thrown_by([&] { results_.add_level("lab.test.", {}, step.result(), {}, 3, false); }).what(),
      "Invalid Combination when adding a result Level. name_servers: empty; "
      "relative_authoritative_domain: not empty");
  EXPECT_EQ(thrown_by([&] {
              results_.add_level("", {}, step.result(), servers({"a."}), 3, false);
            }).error_code(),
            1003);
  EXPECT_EQ(results_.total_duration_ms, 0);
  results_.add_level("", {}, step.result(), {}, 3, false);
  EXPECT_EQ(results_.reported_level_count, 1);
  Results unstarted(logger_);
  EXPECT_EQ(thrown_by([&] { unstarted.add_failure(step.result(), "", 3); }).error_code(), 1003);
}

TEST_F(ResultsTest, AgreeingServersMergeWhateverTheirTtlServerOrFlags) {
  DigStep first(logger_, 30), second(logger_, 40), other_zone(logger_, 50);
  first.server("a.tld.test.", "qv-dns.results.error.none", "qr")
      .record("authority", "lab.test.", "ns1.lab.test.", 172800);
  second.server("b.tld.test.", "qv-dns.results.error.none", "qr ra")
      .record("authority", "lab.test.", "ns1.lab.test.", 3600)
      .record("additional", "ns1.lab.test.", "127.53.3.1");  // glue plays no part
  ParsedResponse parsed;
  parsed.relative_authoritative_domain = "lab.test.";
  parsed.name_servers = servers({"ns1.lab.test."});
  results_.add_traversal_level(parsed, {}, first.result(), 3, false);
  parsed.name_servers = servers({"ns2.lab.test.", "ns1.lab.test."});
  results_.add_traversal_level(parsed, {}, second.result(), 3, false);

  ASSERT_EQ(last_level().groups.size(), 1u);
  EXPECT_EQ(hostnames_of(last_level().groups[0].name_servers),
            (Names{"ns1.lab.test.", "ns2.lab.test."}));
  // Its record and one entry per server.
  const rapidjson::Value& metrics = last_level().groups[0].response["Metrics"];
  ASSERT_EQ(metrics.Size(), 3u);
  EXPECT_EQ(member(metrics[2]["MetricData"], "qv-dns.results.flags"), R"("qr ra")");

  other_zone.record("authority", "lab.test.", "ns9.lab.test.");
  parsed.name_servers = servers({"ns9.lab.test."});
  results_.add_traversal_level(parsed, {}, other_zone.result(), 3, false);
  EXPECT_EQ(last_level().groups.size(), 2u);
  EXPECT_EQ(results_.reported_level_count, 1);
  EXPECT_EQ(results_.total_duration_ms, 120);
}

// Unreported levels are neither timed, counted nor written; the test-level keys are.
TEST_F(ResultsTest, RootAndTopLevelCountOnlyInADirectLookup) {
  for (const bool direct : {false, true}) {
    Results results(logger_);
    results.direct_lookup = direct;
    results.network_outage_detected = direct;
    results.start_alias_traversal();
    DigStep root(logger_, 40), failed(logger_, 9);
    root.record("authority", ".", "a.root.test.");
    results.add_level(".", {}, root.result(), servers({"a.root.test."}), 1, false);
    results.add_failure(failed.error("qv-dns.results.error.timeout").result(), "b.root.test.", 2);
    EXPECT_EQ(results.resolutions[0].levels.size(), direct ? 2u : 1u);
    EXPECT_EQ(results.reported_level_count, direct ? 2 : 0);
    result_.initialize_JSON_object();
    results.fill_test_results(result_, traversal);
    const rapidjson::Value& test_keys = result_.document()["MonitorResults"][0]["OtherData"];
    EXPECT_EQ(member(test_keys, "qv-dns.results.duration.ms"), direct ? "49" : "0");
    EXPECT_EQ(member(test_keys, "qv-dns.results.is-network-outage-detected"),
              direct ? "true" : "false");
    // Without a direct lookup, only the empty step of a fresh document is there.
    EXPECT_EQ(steps().Size(), direct ? 2u : 1u);
    EXPECT_EQ(steps()[0]["Metrics"].Size(), direct ? 1u : 0u);
  }
}

TEST_F(ResultsTest, CachedResponsesTakeNoTime) {
  const auto first_duration = [this] {
    return member(last_level().groups[0].response["OtherData"], "qv-dns.results.duration.ms");
  };
  DigStep step(logger_, 25);
  step.server("ns1.lab.test.").record("authority", "lab.test.", "ns1.lab.test.");
  ParsedResponse parsed;
  parsed.relative_authoritative_domain = "lab.test.";
  parsed.name_servers = servers({"ns1.lab.test."});
  results_.add_traversal_level(parsed, {}, step.result(), 3, true);
  EXPECT_EQ(first_duration(), "0");
  for (const char* key : {"qv-dns.results.duration.ms", "qv-dns.results.duration.us"}) {
    EXPECT_EQ(member(last_level().groups[0].response["Metrics"][1]["MetricData"], key), "0");
  }
  // From the cache's text, the zone is the owner of the first authority record.
  std::string domain = "www.lab.test.";
  EXPECT_TRUE(
      results_.add_level(JSON_to_string(step.step()), servers({"ns1.lab.test."}), 4, true, domain));
  EXPECT_EQ(domain, "lab.test.");
  EXPECT_EQ(first_duration(), "0");
  EXPECT_EQ(results_.total_duration_ms, 0);
  EXPECT_EQ(results_.total_duration_us, 0);
  EXPECT_EQ(results_.reported_level_count, 2);
  EXPECT_FALSE(results_.add_level(R"({"Metrics":[)", {}, 5, true, domain));
  // A damaged entry nested deeper than any step is refused, without exhausting the stack.
  EXPECT_FALSE(results_.add_level(std::string(1000000, '['), {}, 5, true, domain));
  EXPECT_EQ(results_.resolutions[0].levels.size(), 2u);
  // An unreported level is kept without its text (not even read); a live response then opens a
  // group of its own.
  std::string root = ".";
  EXPECT_TRUE(results_.add_level("not json", servers({"a.root.test."}), 1, true, root));
  delegate(".", "a.root.test.", 1);
  EXPECT_EQ(last_level().groups.size(), 2u);
  // Nor does a cached response recorded the experience test's way.
  DigStep cached(logger_, 25);
  cached.record("authority", "lab.test.", "ns1.lab.test.");
  results_.add_level("lab.test.", {}, cached.result(), servers({"ns1.lab.test."}), 6, true);
  EXPECT_EQ(first_duration(), "0");
}

TEST_F(ResultsTest, FailuresJoinTheirLevelOrOpenIt) {
  DigStep answer(logger_, 10), refused(logger_, 7), timed_out(logger_, 1500);
  answer.record("answer", "www.lab.test.", "127.53.3.80");
  refused.server("127.53.3.2", "qv-dns.results.error.refused")
      .error("qv-dns.results.error.refused");
  timed_out.error("qv-dns.results.error.timeout");  // no server line: dig got no reply

  results_.add_level("", {}, answer.result(), {}, 3, false);
  results_.add_failure(refused.result(), "ns2.lab.test.", 3);
  EXPECT_EQ(results_.resolutions[0].levels.size(), 1u);
  results_.add_failure(timed_out.result(), "ns3.lab.test.", 4);
  ASSERT_EQ(results_.resolutions[0].levels.size(), 2u);
  EXPECT_EQ(results_.reported_level_count, 2);
  // The failed server is named even though dig could not name it.
  const rapidjson::Value& details = last_level().failures[0].response["OtherData"];
  EXPECT_EQ(member(details, "qv-dns.results.server.name"), R"("ns3.lab.test.")");
  EXPECT_EQ(member(details, "qv-dns.results.status"), R"("qv-dns.results.error.timeout")");
  EXPECT_NE(log_.str().find("hostname entry when collecting a failure"), std::string::npos);

  results_.add_level("", {}, answer.result(), {}, 4, false);
  EXPECT_EQ(last_level().groups.size(), 1u);
  // Only the last level is compared: level 3 coming back opens a level of its own.
  results_.add_level("", {}, answer.result(), {}, 3, false);
  EXPECT_EQ(results_.resolutions[0].levels.size(), 3u);
  EXPECT_EQ(results_.total_duration_ms, 10 + 7 + 1500 + 10 + 10);
  EXPECT_EQ(results_.total_duration_us, (10 + 7 + 1500 + 10 + 10) * 1000 + 5 * 250);
}

TEST_F(ResultsTest, AliasTargetStartsFromTheLongestDelegatedParent) {
  delegate(".", "a.root.test.", 1);
  delegate("test.", "a.tld.test.", 2);
  delegate("lab.test.", "ns1.lab.test.", 3);
  const auto closest = [this](std::string hostname) {
    Names found = hostnames_of(results_.get_closest_level(hostname));
    found.push_back(hostname);
    return found;
  };
  EXPECT_EQ(closest("a.b.lab.test."), (Names{"ns1.lab.test.", "lab.test."}));
  // The match needs the dot: the domain itself, or a name merely ending like it, is not in it.
  EXPECT_EQ(closest("lab.test."), (Names{"a.tld.test.", "test."}));
  EXPECT_EQ(closest("xlab.test."), (Names{"a.tld.test.", "test."}));
  EXPECT_EQ(closest("www.example."), (Names{"www.example."}));  // the root is no shortcut
  results_.start_alias_traversal();
  delegate("test.", "b.tld.test.", 2);
  EXPECT_EQ(closest("www.test."), (Names{"b.tld.test.", "test."}));  // the last equal one wins
}

// A resolution's hostname.bind answer joins the last entry of its own last step.
TEST_F(ResultsTest, FailuresStepPrecedesGroupStepWithTheirIdentifiers) {
  failure("ns1.lab.test.", "qv-dns.results.error.timeout", 3);
  failure("ns2.lab.test.", "qv-dns.results.error.refused", 3);
  answer("ns3.lab.test.", "qv-dns.results.error.none", 3);
  results_.start_alias_traversal();  // an alias target numbers on; its groups start again
  answer("ns1.other.test.", "qv-dns.results.error.none", 4);
  DigStep bind(logger_, 1);
  bind.record("answer", "other.", "\"no\"").record("answer", "hostname.bind.", "\"ns1\"");
  auto& stored = results_.resolutions[0].hostname_bind_response;  // the first host name's
  stored.CopyFrom(bind.step(), stored.GetAllocator());
  EXPECT_EQ(fill(experience, "qv-dns.results.duration.us"), "3021000");
  EXPECT_EQ(fill(experience, "qv-dns.results.duration.ms"), "3020");

  ASSERT_EQ(steps().Size(), 3u);
  EXPECT_EQ(JSON_to_string(steps()[0]["OtherData"]),
            R"({"qv-dns.results.protocol":"UDP","qv-dns.results.question.class":"IN",)"
            R"("qv-dns.results.question.name":"www.lab.test.","qv-dns.results.level-id.number":1,)"
            R"("qv-dns.results.recursion-level.number":0,"qv-dns.results.group-id.number":1})");
  ASSERT_EQ(steps()[0]["Metrics"].Size(), 2u);
  EXPECT_EQ(JSON_to_string(steps()[0]["Metrics"][1]["MetricData"]),
            R"({"qv-dns.results.duration.ms":1500,"qv-dns.results.duration.us":1500250,)"
            R"("qv-dns.results.server.name":"ns2.lab.test.",)"
            R"("qv-dns.results.status":"qv-dns.results.error.refused"})");
  EXPECT_EQ(member(steps()[1]["OtherData"], "qv-dns.results.group-id.number"), "2");
  EXPECT_EQ(member(steps()[1]["Metrics"][1]["MetricData"], "qv-dns.results.hostname-bind"),
            R"("\"ns1\"")");
  const rapidjson::Value& alias = steps()[2]["OtherData"];
  EXPECT_EQ(member(alias, "qv-dns.results.level-id.number") +
                member(alias, "qv-dns.results.recursion-level.number") +
                member(alias, "qv-dns.results.group-id.number"),
            "211");
  // Writing again gives the same document.
  const std::string first = result_.to_string();
  fill(experience);
  EXPECT_EQ(result_.to_string(), first);
  // A hostname.bind query that failed adds nothing.
  stored["OtherData"].AddMember("common.results.error-code", "x", stored.GetAllocator());
  fill(experience);
  EXPECT_EQ(result_.to_string().find("hostname-bind"), std::string::npos);
}

TEST_F(ResultsTest, ExperienceTestTakesTheErrorOfTheFinalLevelsLastGroup) {
  failure("ns1.lab.test.", "qv-dns.results.error.refused", 3);
  answer("ns2.lab.test.", "qv-dns.results.error.none", 3);
  EXPECT_EQ(fill(experience), "absent");
  failure("ns3.lab.test.", "qv-dns.results.error.timeout", 4);  // an earlier level says nothing
  EXPECT_EQ(fill(experience), R"("qv-dns.results.error.timeout")");
  answer("ns4.lab.test.", "qv-dns.results.error.nx-domain", 4);
  EXPECT_EQ(fill(experience), R"("qv-dns.results.error.nx-domain")");
  // An error the test already carries is kept.
  result_.initialize_JSON_object();
  result_.add_other_data("common.results.error-code", "qv-dns.results.error.too-many-levels", 0,
                         -1);
  results_.fill_test_results(result_, experience);
  EXPECT_EQ(result_.retrieve_error("common.results.error-code", 0, -1),
            "qv-dns.results.error.too-many-levels");
}

TEST_F(ResultsTest, TraversalTestTakesTheFirstErrorOfTheFinalLevel) {
  // Two agreeing servers make one group; the second's status is the first error met, and a
  // later group's error does not replace it.
  answer("ns1.lab.test.", "qv-dns.results.error.none", 3, traversal);
  answer("ns2.lab.test.", "qv-dns.results.error.serv-fail", 3, traversal);
  DigStep other(logger_, 5);
  other.server("ns3.lab.test.", "qv-dns.results.error.refused");
  results_.add_traversal_level(ParsedResponse{}, {}, other.result(), 3, false);
  EXPECT_EQ(fill(traversal), R"("qv-dns.results.error.serv-fail")");
  // Record and server entries only: the rest of the details would speak for one server.
  EXPECT_EQ(steps()[0]["Metrics"].Size(), 3u);
  failure("ns4.lab.test.", "qv-dns.results.error.timeout", 3);  // failures come first
  EXPECT_EQ(fill(traversal), R"("qv-dns.results.error.timeout")");
}

}  // namespace
}  // namespace Network_tools::DNS_experience
