// ping_wrapper run as a user would, inside the lab: ICMP and TCP SYN pings of lab servers, the
// address that drops everything, in-session TCP (which the lab's traceroute build refuses), the
// JSON document form and the continuation of a stopped packet-loss check.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "support/lab_run.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

using testing_support::built_tool;
using testing_support::Lab_run;
using testing_support::run_in_lab;

const std::string ping_wrapper = built_tool("ping_wrapper");

class PingWrapperLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { testing_support::ensure_lab_up(); }

  // Parses the run's standard output as the result document.
  static rapidjson::Document result(const Lab_run& run) {
    rapidjson::Document document;
    document.Parse(run.out.c_str());
    EXPECT_FALSE(document.HasParseError()) << run.out << run.err;
    return document;
  }
  static const rapidjson::Value& other_data(const rapidjson::Document& document) {
    return document["MonitorResults"][0]["StepResults"][0]["OtherData"];
  }
  static std::string other(const rapidjson::Document& document, const char* key) {
    const rapidjson::Value& data = other_data(document);
    return data.HasMember(key) ? JSON_to_string(data[key]) : "absent";
  }
  static std::vector<std::string> rtts(const rapidjson::Document& document) {
    std::vector<std::string> times;
    for (const auto& metric :
         document["MonitorResults"][0]["StepResults"][0]["Metrics"].GetArray()) {
      times.push_back(metric["MetricData"]["qv-ping.results.rtt"].GetString());
    }
    return times;
  }
  // Five measured times: numbers, none null.
  static void expect_five_times(const rapidjson::Document& document) {
    const std::vector<std::string> times = rtts(document);
    ASSERT_EQ(times.size(), 5u);
    for (const std::string& time : times) {
      EXPECT_NE(time, "null");
      EXPECT_GE(std::stod(time), 0.0) << time;
    }
  }
};

TEST_F(PingWrapperLabTest, IcmpToALabServer) {
  const Lab_run run = run_in_lab(ping_wrapper + " -j 127.53.1.1");
  ASSERT_EQ(run.status, 0) << run.err;
  const rapidjson::Document document = result(run);
  expect_five_times(document);
  EXPECT_EQ(other(document, "common.results.error-code"), "absent");
  EXPECT_EQ(other(document, "common.results.host.address"), "\"127.53.1.1\"");
  EXPECT_TRUE(other_data(document)["qv-ping.results.duration.ms"].IsNumber());
  // Nothing but the result on standard output, without a line end.
  EXPECT_EQ(run.out.back(), '}');

  // A name is resolved by the lab resolver; the raw text reads like ping.
  const Lab_run named = run_in_lab(ping_wrapper + " -q 2 www.lab.test");
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(named.out.rfind("ping to www.lab.test (127.53.100.1), 128 ttl, 60 byte packets\n", 0),
            0u)
      << named.out;
}

TEST_F(PingWrapperLabTest, TcpSynToANameServerPort) {
  const Lab_run run = run_in_lab(ping_wrapper + " -j -T -p 53 127.53.4.1");
  ASSERT_EQ(run.status, 0) << run.err;
  const rapidjson::Document document = result(run);
  expect_five_times(document);
  EXPECT_EQ(other(document, "common.results.error-code"), "absent");
}

TEST_F(PingWrapperLabTest, TheDroppingAddressTimesOutAsACompletedPing) {
  const Lab_run run = run_in_lab(ping_wrapper + " -j -q 3 -w 1 -N 3 127.53.5.1");
  EXPECT_EQ(run.status, 0) << run.err;
  const rapidjson::Document document = result(run);
  EXPECT_EQ(rtts(document), std::vector<std::string>(3, "null"));
  EXPECT_EQ(other(document, "common.results.error-code"), "\"qv-ping.results.error.timeout\"");
}

TEST_F(PingWrapperLabTest, InSessionTcpRefusedByTheToolIsAnInternalError) {
  // The lab's build refuses --tcpdata without naming a SACK problem, so there is nothing to
  // fall back on, with or without permission: the tool's answer cannot be interpreted.
  for (const char* options : {" -j -i 127.53.4.1", " -j -i -f 127.53.4.1"}) {
    const Lab_run run = run_in_lab(ping_wrapper + options);
    EXPECT_EQ(run.status, 1) << options;
    EXPECT_EQ(run.out, "") << options;
    EXPECT_NE(run.err.find("Internal error: Native tool returned 1\n"), std::string::npos)
        << options << ": " << run.err;
  }
}

TEST_F(PingWrapperLabTest, DocumentFormAndContinuationOfAStoppedCheck) {
  // Windows of 2 probes 100 ms apart at the dropping address: the first window loses both.
  const Lab_run stopped =
      run_in_lab(ping_wrapper + "",
                 std::string("{\"Capabilities\":{\"test.common.url\":\"qv-ping://127.53.5.1\","
                             "\"qv-ping.test.continuous-ping-spacing\":100,"
                             "\"test.common.flag.debug-on-error\":true},"
                             "\"Settings\":{\"ProbeTimeout\":1,\"PacketLossThreshold\":50,"
                             "\"PacketLossWindowLength\":200,\"ForbidPartialResults\":false,"
                             "\"SimProbes\":2}}\n"));
  ASSERT_EQ(stopped.status, 0) << stopped.err;
  const rapidjson::Document first = result(stopped);
  // 60 s of probes 100 ms apart would be 600; the check stopped after the first window.
  EXPECT_EQ(rtts(first), std::vector<std::string>(2, "null"));
  EXPECT_EQ(other(first, "qv-ping.results.missing-probes"), "598");
  EXPECT_EQ(other(first, "common.results.error-code"),
            "\"qv-ping.results.error.packet-loss-threshold-violation\"");
  const std::string state =
      first["MonitorResults"][0]["OtherData"]["common.results.monitor.state"].GetString();

  rapidjson::Document input;
  input.Parse(
      "{\"Capabilities\":{\"test.common.url\":\"qv-ping://127.53.5.1\","
      "\"qv-ping.test.continuous-ping-spacing\":10},\"Settings\":{\"ProbeTimeout\":1}}");
  input["Capabilities"].AddMember("test.common.monitor.state",
                                  rapidjson::Value(state.c_str(), input.GetAllocator()),
                                  input.GetAllocator());
  // The continuation must not send all 598 probes: a short overall limit ends it.
  input["Capabilities"].AddMember("common.test.max-step-time", 2, input.GetAllocator());
  const Lab_run continued = run_in_lab(ping_wrapper, JSON_to_string(input) + "\n");
  ASSERT_EQ(continued.status, 0) << continued.err;
  const rapidjson::Document second = result(continued);
  const std::vector<std::string> times = rtts(second);
  ASSERT_EQ(times.size(), 600u);
  EXPECT_EQ(other(second, "common.results.error-code"), "\"qv-ping.results.error.timeout\"");
  EXPECT_EQ(other(second, "qv-ping.results.missing-probes"), "absent");
  EXPECT_GT(other_data(second)["qv-ping.results.duration.ms"].GetDouble(), 2000.0);
}

}  // namespace
}  // namespace Network_tools
