// The results model: which responses count, how they are grouped and merged, how failures and
// cached levels enter it, and where an alias target's resolution can start.
#include "dns_experience/results/results.h"

#include <gtest/gtest.h>

#include <sstream>

#include "dns_experience/results/dig_step.h"

namespace Network_tools::DNS_experience {
namespace {

using testing::DigStep;
using testing::fault_of;
using testing::member;
using Names = std::vector<std::string>;

std::vector<ServerInfo> servers(const Names& names) {
  std::vector<ServerInfo> list;
  for (const std::string& name : names) list.push_back({name, IP::Address("127.53.9.9"), -1});
  return list;
}

class ResultsTest : public ::testing::Test {
 protected:
  void SetUp() override { results_.start_alias_traversal(); }

  void delegate(const std::string& zone, const std::string& server, int level) {
    DigStep step(logger_, 2);
    results_.add_level(zone, {}, step.record("authority", zone, server).result(), servers({server}),
                       level, false);
  }
  const Results::Level& last_level() { return results_.resolutions.back().levels.back(); }
  std::string duration_of_group(int group) {
    return member(last_level().groups[group].response["OtherData"], "qv-dns.results.duration.ms");
  }

  std::ostringstream log_;
  Logger logger_{LEVEL_DEBUG, "", log_};
  Results results_{logger_};
};

TEST_F(ResultsTest, DomainWithoutServersOrTheReverseIsRefused) {
  DigStep step(logger_, 5);
  EXPECT_EQ(fault_of([&] { results_.add_level("lab.test.", {}, step.result(), {}, 3, false); }),
            "Invalid Combination when adding a result Level. name_servers: empty; "
            "relative_authoritative_domain: not empty");
  EXPECT_EQ(fault_of([&] { results_.add_level("", {}, step.result(), servers({"a."}), 3, false); }),
            "Invalid Combination when adding a result Level. name_servers: not empty; "
            "relative_authoritative_domain: empty");
  EXPECT_EQ(results_.total_duration_ms, 0);
  results_.add_level("", {}, step.result(), {}, 3, false);
  EXPECT_EQ(results_.reported_level_count, 1);
  Results unstarted(logger_);
  EXPECT_EQ(fault_of([&] { unstarted.add_failure(step.result(), "", 3); }),
            "No hostname resolution was started before adding a result");
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
  Names merged;
  for (const ServerInfo& server : last_level().groups[0].name_servers) {
    merged.push_back(server.hostname);
  }
  EXPECT_EQ(merged, (Names{"ns1.lab.test.", "ns2.lab.test."}));
  // Its record and one entry per server: the second's records are not copied.
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

TEST_F(ResultsTest, RootAndTopLevelCountOnlyInADirectLookup) {
  for (const bool direct : {false, true}) {
    Results results(logger_);
    results.direct_lookup = direct;
    results.start_alias_traversal();
    DigStep root(logger_, 40), failed(logger_, 9);
    results.add_level(".", {}, root.result(), servers({"a.root.test."}), 1, false);
    results.add_failure(failed.error("qv-dns.results.error.timeout").result(), "b.root.test.", 2);
    EXPECT_EQ(results.resolutions[0].levels.size(), direct ? 2u : 1u);
    EXPECT_EQ(results.reported_level_count, direct ? 2 : 0);
    EXPECT_EQ(results.total_duration_ms, direct ? 49 : 0);
  }
}

TEST_F(ResultsTest, CachedResponsesTakeNoTime) {
  DigStep step(logger_, 25);
  step.record("authority", "lab.test.", "ns1.lab.test.");
  results_.add_level("lab.test.", {}, step.result(), servers({"ns1.lab.test."}), 3, true);
  EXPECT_EQ(duration_of_group(0), "0");
  // From the cache's text, the zone is the owner of the first authority record.
  std::string domain = "www.lab.test.";
  EXPECT_TRUE(
      results_.add_level(JSON_to_string(step.step()), servers({"ns1.lab.test."}), 4, true, domain));
  EXPECT_EQ(domain, "lab.test.");
  EXPECT_EQ(duration_of_group(0), "0");
  EXPECT_EQ(results_.total_duration_ms, 0);
  EXPECT_EQ(results_.reported_level_count, 2);
  EXPECT_FALSE(results_.add_level(R"({"Metrics":[)", {}, 5, true, domain));
  EXPECT_EQ(results_.resolutions[0].levels.size(), 2u);
  // An unreported level is kept without its text, which is not even read; a live response at
  // that level then opens a group of its own.
  std::string root = ".";
  EXPECT_TRUE(results_.add_level("not json", servers({"a.root.test."}), 1, true, root));
  delegate(".", "a.root.test.", 1);
  EXPECT_EQ(last_level().groups.size(), 2u);
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
}

TEST_F(ResultsTest, AliasTargetStartsFromTheLongestDelegatedParent) {
  delegate(".", "a.root.test.", 1);
  delegate("test.", "a.tld.test.", 2);
  delegate("lab.test.", "ns1.lab.test.", 3);
  const auto closest = [this](std::string hostname) {
    Names found;
    for (const ServerInfo& server : results_.get_closest_level(hostname)) {
      found.push_back(server.hostname);
    }
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

}  // namespace
}  // namespace Network_tools::DNS_experience
