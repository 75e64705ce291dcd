// ping_wrapper run as a user would, inside the lab: ICMP and TCP SYN pings of lab servers, the
// address that drops everything, the JSON document form, and hostile input.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::run_tool_in_lab;

class PingWrapperLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::ensure_lab_up(); }
};

TEST_F(PingWrapperLabTest, CompletedPingsExitWithZeroWhateverTheyFound) {
  struct {
    std::string options;
    std::string input;
    std::size_t probes;
    bool answered;
    std::string error;  // "common.results.error-code", or "" for none
  } cases[] = {
      {" -j 127.53.1.1", "", 5, true, ""},
      {" -j -T -p 53 127.53.4.1", "", 5, true, ""},
      {" -j -q 3 -w 1 -N 3 127.53.5.1", "", 3, false, "qv-ping.results.error.timeout"},
      {"",
       "{\"Capabilities\":{\"test.common.url\":\"qv-ping-tcp://www.lab.test:53\"},"
       "\"Settings\":{\"SimProbes\":5}}\n",
       5, true, ""},
  };
  for (const auto& ping : cases) {
    const testing_support::Lab_run run = run_tool_in_lab("ping_wrapper", ping.options, ping.input);
    SCOPED_TRACE(ping.options + ping.input + run.out + run.err);
    ASSERT_EQ(run.status, 0);
    rapidjson::Document result;
    result.Parse(run.out.c_str());
    ASSERT_FALSE(result.HasParseError());
    const rapidjson::Value& step = result["MonitorResults"][0]["StepResults"][0];
    ASSERT_EQ(step["Metrics"].Size(), ping.probes);
    for (const auto& metric : step["Metrics"].GetArray()) {
      const std::string rtt = metric["MetricData"]["qv-ping.results.rtt"].GetString();
      EXPECT_EQ(rtt == "null", !ping.answered) << rtt;
    }
    const rapidjson::Value& other = step["OtherData"];
    const auto error = other.FindMember("common.results.error-code");
    EXPECT_EQ(error == other.MemberEnd() ? "" : error->value.GetString(), ping.error);
    EXPECT_TRUE(other["qv-ping.results.duration.ms"].IsNumber());
  }
}

TEST_F(PingWrapperLabTest, HostileInputIsRefusedBeforeAnyProbe) {
  const auto document = [](const std::string& capabilities) {
    return R"({"Capabilities":{)" + capabilities + R"(},"Settings":{"DebugModeOn":true}})" + "\n";
  };
  const std::string wrong = " (qv-ping.results.error.wrong-argument-value)";
  const std::string not_a_host = "]: not a DNS name or an IP address" + wrong;
  testing_support::expect_refused(
      "ping_wrapper",
      {
          // traceroute would take these for its own options.
          {"-d -j -- -V", "", "Invalid host [-V" + not_a_host},
          {"", document(R"("test.common.url":"qv-ping://127.53.1.1;reboot")"),
           "Invalid host [127.53.1.1;reboot" + not_a_host},
          {"", document(R"("test.common.url":"qv-ping://127.53.1.1\u0000")"),
           "URL [qv-ping://127.53.1.1\\x00] holds a control character" + wrong},
          {"", document(R"("test.common.url":"qv-ping://127.53.1.1","common.test.test-id":"a\nb")"),
           "Test ID [a\\x0ab] holds a control character" + wrong},
          {"-d -j " + std::string(254, 'a'), "", "Host name too long: aaaa"},
      });
}

}  // namespace
}  // namespace Network_tools
