// Writing the model into the test result: steps and their identifiers, the error the final level
// suggests, the hostname.bind answer, and the server entry made from a dig step.
#include <gtest/gtest.h>

#include "dns_experience/results/dig_step.h"
#include "dns_experience/results/results.h"
#include "dns_experience/results/step_json.h"

namespace Network_tools::DNS_experience {
namespace {

using testing::DigStep;
using testing::fault_of;
using testing::member;
constexpr auto experience = test_type_t::DNS_experience;
constexpr auto traversal = test_type_t::DNS_traversal;

class EmitTest : public ::testing::Test {
 protected:
  void SetUp() override { results_.start_alias_traversal(); }

  // An answer from `server` with `status`, recorded the way each test type records it.
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
  // Fills a fresh document and returns what its test level says under `key`.
  std::string fill(test_type_t type, const std::string& key = "common.results.error-code") {
    result_.initialize_JSON_object();
    results_.fill_test_results(result_, type);
    return member(result_.document()["MonitorResults"][0]["OtherData"], key);
  }
  const rapidjson::Value& steps() { return result_.document()["MonitorResults"][0]["StepResults"]; }

  Logger logger_{LEVEL_ERROR};
  Results results_{logger_};
  TestResult result_{logger_};
};

TEST_F(EmitTest, UnreportedLevelsWriteOnlyTheTestKeys) {
  DigStep root(logger_, 40);
  results_.add_level(".", {}, root.result(), {{"a.root.test.", {}, -1}}, 1, false);
  results_.network_outage_detected = true;
  fill(traversal);
  EXPECT_EQ(result_.to_string(),
            R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},"PageResults":{}}],)"
            R"("OtherData":{"qv-dns.results.duration.ms":0,)"
            R"("qv-dns.results.is-network-outage-detected":true}}],"OtherData":{}})");
}

TEST_F(EmitTest, FailuresStepPrecedesGroupStepWithTheirIdentifiers) {
  failure("ns1.lab.test.", "qv-dns.results.error.timeout", 3);
  failure("ns2.lab.test.", "qv-dns.results.error.refused", 3);
  answer("ns3.lab.test.", "qv-dns.results.error.none", 3);
  results_.start_alias_traversal();  // an alias target numbers on; its groups start again
  answer("ns1.other.test.", "qv-dns.results.error.none", 4);
  EXPECT_EQ(fill(experience, "qv-dns.results.duration.ms"), "3020");

  ASSERT_EQ(steps().Size(), 3u);
  EXPECT_EQ(JSON_to_string(steps()[0]["OtherData"]),
            R"({"qv-dns.results.protocol":"UDP","qv-dns.results.question.class":"IN",)"
            R"("qv-dns.results.question.name":"www.lab.test.","qv-dns.results.level-id.number":1,)"
            R"("qv-dns.results.recursion-level.number":0,"qv-dns.results.group-id.number":1})");
  // One entry per failure, without the question already written for the step.
  ASSERT_EQ(steps()[0]["Metrics"].Size(), 2u);
  EXPECT_EQ(JSON_to_string(steps()[0]["Metrics"][1]["MetricData"]),
            R"({"qv-dns.results.duration.ms":1500,"qv-dns.results.server.name":"ns2.lab.test.",)"
            R"("qv-dns.results.status":"qv-dns.results.error.refused"})");
  // The group: its record, then the rest of the response's details.
  EXPECT_EQ(member(steps()[1]["OtherData"], "qv-dns.results.group-id.number"), "2");
  ASSERT_EQ(steps()[1]["Metrics"].Size(), 2u);
  EXPECT_EQ(member(steps()[1]["Metrics"][1]["MetricData"], "qv-dns.results.server.name"),
            R"("ns3.lab.test.")");
  const rapidjson::Value& alias = steps()[2]["OtherData"];
  EXPECT_EQ(member(alias, "qv-dns.results.level-id.number") +
                member(alias, "qv-dns.results.recursion-level.number") +
                member(alias, "qv-dns.results.group-id.number"),
            "211");
  // The model is left as it was: writing again gives the same document.
  const std::string first = result_.to_string();
  fill(experience);
  EXPECT_EQ(result_.to_string(), first);
}

TEST_F(EmitTest, ExperienceTestTakesTheErrorOfTheFinalLevelsLastGroup) {
  failure("ns1.lab.test.", "qv-dns.results.error.refused", 3);
  answer("ns2.lab.test.", "qv-dns.results.error.none", 3);
  EXPECT_EQ(fill(experience), "absent");
  failure("ns3.lab.test.", "qv-dns.results.error.timeout", 4);  // an earlier level says nothing
  EXPECT_EQ(fill(experience), R"("qv-dns.results.error.timeout")");
  answer("ns4.lab.test.", "qv-dns.results.error.nx-domain", 4);
  EXPECT_EQ(fill(experience), R"("qv-dns.results.error.nx-domain")");
  result_.initialize_JSON_object();
  result_.add_other_data("common.results.error-code", "qv-dns.results.error.too-many-levels", 0,
                         -1);
  results_.fill_test_results(result_, experience);
  EXPECT_EQ(result_.retrieve_error("common.results.error-code", 0, -1),
            "qv-dns.results.error.too-many-levels");
}

TEST_F(EmitTest, TraversalTestTakesTheFirstErrorOfTheFinalLevel) {
  // Two agreeing servers make one group; the second's status is the first error met, and a
  // later group's error does not replace it.
  answer("ns1.lab.test.", "qv-dns.results.error.none", 3, traversal);
  answer("ns2.lab.test.", "qv-dns.results.error.serv-fail", 3, traversal);
  DigStep other(logger_, 5);
  other.server("ns3.lab.test.", "qv-dns.results.error.refused");
  results_.add_traversal_level(ParsedResponse{}, {}, other.result(), 3, false);
  EXPECT_EQ(fill(traversal), R"("qv-dns.results.error.serv-fail")");
  EXPECT_EQ(fill(traversal, "qv-dns.results.is-network-outage-detected"), "false");
  // Record and server entries only: the rest of the details would speak for one server.
  EXPECT_EQ(steps()[0]["Metrics"].Size(), 3u);
  failure("ns4.lab.test.", "qv-dns.results.error.timeout", 3);  // failures come first
  EXPECT_EQ(fill(traversal), R"("qv-dns.results.error.timeout")");
}

TEST_F(EmitTest, HostnameBindAnswerJoinsTheLastEntryOfTheResolution) {
  answer("ns1.lab.test.", "qv-dns.results.error.none", 3);
  DigStep bind(logger_, 1);
  bind.record("answer", "other.", "\"no\"").record("answer", "hostname.bind.", "\"ns1\"");
  auto& stored = results_.resolutions[0].hostname_bind_response;
  stored.CopyFrom(bind.step(), stored.GetAllocator());
  fill(experience);
  EXPECT_EQ(member(steps()[0]["Metrics"][1]["MetricData"], "qv-dns.results.hostname-bind"),
            R"("\"ns1\"")");
  stored["OtherData"].AddMember("common.results.error-code", "x", stored.GetAllocator());
  fill(experience);
  EXPECT_EQ(result_.to_string().find("hostname-bind"), std::string::npos);
}

TEST(ServerDetails, MoveIntoANewEntryKeepingTheDuration) {
  Logger logger(LEVEL_ERROR);
  DigStep step(logger, 17);
  move_server_detail_to_metrics(step.server("ns1.").question("www.").result(), true);
  EXPECT_EQ(JSON_to_string(step.step()["Metrics"][0]["MetricData"]),
            R"({"qv-dns.results.server.name":"ns1.","qv-dns.results.server.port":53,)"
            R"("qv-dns.results.duration.ms":0,"qv-dns.results.id":53,"qv-dns.results.status":)"
            R"("qv-dns.results.error.none","qv-dns.results.flags":"qr aa"})");
  // What stays: the duration (for the total), the question and the transport.
  EXPECT_EQ(step.step()["OtherData"].MemberCount(), 4u);
  EXPECT_EQ(member(step.step()["OtherData"], "qv-dns.results.duration.ms"), "0");

  DigStep malformed(logger, 1);
  malformed.result().import(
      R"("{\"MonitorResults\":[{\"StepResults\":[{\"OtherData\":{}}],\"OtherData\":{}}]}")");
  EXPECT_EQ(fault_of([&] { move_server_detail_to_metrics(malformed.result(), false); }),
            "Cannot move server details to metrics. No 'Metrics' key found in step_result or "
            "it's not an array.");
  EXPECT_EQ(fault_of([&] { get_mandatory_json_iterator(malformed.step(), "Metrics"); }),
            "Missing mandatory field Metrics");
}

}  // namespace
}  // namespace Network_tools::DNS_experience
