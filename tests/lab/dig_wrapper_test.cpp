// dig_wrapper run as a user would, inside the DNS lab, against its real BIND servers.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <regex>
#include <string>

#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::built_tool;
using testing_support::Lab_run;
using testing_support::run_in_lab;

class DigWrapperLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::ensure_lab_up(); }

  // Runs dig_wrapper with `arguments` and parses what it printed.
  Lab_run dig(const std::string& arguments, const std::string& input = "") {
    Lab_run run = run_in_lab(built_tool("dig_wrapper") + " " + arguments, input);
    document.Parse(run.out.c_str());
    return run;
  }
  // "OtherData" value `key` at the step (0) or at the result (-1), as text.
  std::string other(const std::string& key, int step = 0) {
    if (document.HasParseError() || !document.IsObject()) return "<no document>";
    const rapidjson::Value& result = document["MonitorResults"][0];
    const rapidjson::Value& data =
        step < 0 ? result["OtherData"] : result["StepResults"][0]["OtherData"];
    if (!data.HasMember(key.c_str())) return "<absent>";
    const rapidjson::Value& value = data[key.c_str()];
    return value.IsString() ? value.GetString() : std::to_string(value.GetInt());
  }
  // Member `key` of record entry `index`.
  std::string record(int index, const std::string& key) {
    const rapidjson::Value& metrics = document["MonitorResults"][0]["StepResults"][0]["Metrics"];
    if (index >= static_cast<int>(metrics.Size())) return "<no record>";
    const rapidjson::Value& data = metrics[index]["MetricData"];
    if (!data.HasMember(key.c_str())) return "<absent>";
    return data[key.c_str()].IsString() ? data[key.c_str()].GetString()
                                        : std::to_string(data[key.c_str()].GetInt());
  }

  rapidjson::Document document;
};

TEST_F(DigWrapperLabTest, AnswerOfALabServerWithDigsOwnQueryTime) {
  // Debug mode logs dig's text, whose query time the document must report.
  const Lab_run run = dig("-d -j -n 127.53.4.1 -t a www.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("common.results.error-code", -1), "<absent>");
  EXPECT_EQ(other("qv-dns.results.status"), "qv-dns.results.error.none");
  EXPECT_EQ(record(0, "qv-dns.results.answer.name"), "www.lab.test.");
  EXPECT_EQ(record(0, "qv-dns.results.answer.info"), "127.53.100.1");
  EXPECT_EQ(record(0, "qv-dns.results.answer.ttl"), "300");
  EXPECT_EQ(other("qv-dns.results.server.address"), "127.53.4.1");
  std::smatch query_time;
  ASSERT_TRUE(std::regex_search(run.err, query_time, std::regex("Query time: (\\d+) usec")));
  const std::string milliseconds = std::to_string(std::stoi(query_time[1]) / 1000);
  EXPECT_EQ(other("qv-dns.results.duration.ms", -1), milliseconds);
  EXPECT_EQ(other("qv-dns.results.duration.ms", 0), milliseconds);
  EXPECT_NE(run.err.find("[NATIVE INPUT]"), std::string::npos);
}

TEST_F(DigWrapperLabTest, MachineResolverAndNegativeAnswers) {
  Lab_run run = dig("-j -t a www.lab.example");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("qv-dns.results.server.name"), "127.53.0.53");
  EXPECT_EQ(record(0, "qv-dns.results.answer.info"), "127.53.100.11");

  run = dig("-j -n 127.53.4.1 -t a nx.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("common.results.error-code", -1), "qv-dns.results.error.nx-domain");
  EXPECT_EQ(record(0, "qv-dns.results.authority.type"), "SOA");

  run = dig("-j -n 127.53.5.3 -t a www.refused.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("common.results.error-code", -1), "qv-dns.results.error.refused");
}

TEST_F(DigWrapperLabTest, SilentServerTimesOutAfterEveryTry) {
  const Lab_run run = dig("-j -r 2 -w 500 -n 127.53.5.1 -t a www.timeout.test");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(other("common.results.error-code", -1), "qv-dns.results.error.timeout");
  EXPECT_EQ(other("qv-dns.results.status"), "qv-dns.results.error.timeout");
  EXPECT_EQ(other("qv-dns.results.duration.ms", -1), "1000");
  EXPECT_NE(run.err.find("Measurement timed out (qv-dns.results.error.timeout)"),
            std::string::npos);
}

TEST_F(DigWrapperLabTest, ClosedServerIsUnreachable) {
  const Lab_run run = dig("-j -n 127.53.5.2 -t a www.closed.test");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(other("common.results.error-code", -1), "qv-dns.results.error.nameserver-unreachable");
  EXPECT_EQ(other("common.results.error-details", -1), "Connection refused");
}

TEST_F(DigWrapperLabTest, ServerIdentityNSIDAndClientSubnet) {
  Lab_run run = dig("-j -H -n 127.53.4.2 -t a www.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("qv-dns.results.hostname-bind"), "\"dom-test-2.dnslab\"");
  EXPECT_EQ(record(0, "qv-dns.results.answer.info"), "127.53.100.1");

  run = dig("-j -S -n 127.53.2.1 -t ns test.");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("qv-dns.results.nsid"), "tld-test-1");

  run = dig("-j -s 127.53.200.7/24 -t a www.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(record(0, "qv-dns.results.additional.name"), "Client subnet");
  EXPECT_EQ(record(0, "qv-dns.results.additional.info"),
            "127.53.200.0/24 (scope prefix-length: 0)");
  EXPECT_EQ(other("qv-dns.results.edns-client-subnet"), "127.53.200.0/24");
}

TEST_F(DigWrapperLabTest, DNSSECValidationOfSignedAndUnsignedNames) {
  Lab_run run = dig("-j -D -n 127.53.0.53 -t a www.lab.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("common.results.error-code", -1), "<absent>");
  EXPECT_NE(other("qv-dns.results.dnssec-duration.ms"), "<absent>");
  EXPECT_NE(record(2, "qv-dns.results.dnssec-trust-chain").find("    DS on lab.test. with digest"),
            std::string::npos);

  run = dig("-j -D -n 127.53.0.53 -t a www.unsigned.test");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(other("common.results.error-code", -1), "qv-dns.results.error.dnssec-answer-unsigned");
  EXPECT_EQ(other("common.results.error-code", 0), "qv-dns.results.error.dnssec-answer-unsigned");
}

TEST_F(DigWrapperLabTest, DocumentOnStandardInputWithSettingsStandingIn) {
  const Lab_run run =
      dig("", R"({"Capabilities":{"test.common.url":"qv-dns-direct://mail.lab.test",)"
              R"("qv-dns.test.query-type":"a","qv-dns.test.server":"127.53.9.9",)"
              R"("qv-dns.test.query-retry-timeout":"slow"},)"
              R"("Settings":{"Server":"127.53.4.1","RetryTimeout":1000}})"
              "\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("Capability qv-dns.test.query-retry-timeout is supposed to be Int"),
            std::string::npos);
  EXPECT_EQ(other("qv-dns.results.url", -1), "qv-dns-direct://mail.lab.test");
  EXPECT_EQ(other("qv-dns.results.server.address"), "127.53.4.1");
  EXPECT_EQ(record(0, "qv-dns.results.answer.info"), "127.53.100.2");
}

TEST_F(DigWrapperLabTest, InputErrorsAreReportedWithoutAQuery) {
  Lab_run run = dig("-t a -- -f/etc/passwd");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err,
            "Fatal error: Invalid host: -f/etc/passwd (qv-dns.results.error.invalid-host)\n");
  run = dig("-j -n ns9.nowhere.test -t a www.lab.test");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(other("common.results.error-code", -1),
            "qv-dns.results.error.nameserver-resolution-failure");
  run = dig("-h");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("Usage: dig_wrapper ", 0), 0u);
}

}  // namespace
}  // namespace Network_tools
