// The ping output parser on texts recorded from the traceroute stand-in in the lab and on
// hand-made ones, and the ping-like raw text.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "ping/wrapper.h"
#include "support/scripted_ping.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

using strings = std::vector<std::string>;
using testing_support::metric_values;
using testing_support::recorded;
using testing_support::value_at;

// The result document after parsing `text` for a ping of `probes` probes in run mode `mode`.
rapidjson::Document parsed(const std::string& text, int probes = 5, std::uint8_t mode = 1) {
  Parameters parameters;
  parameters.host = "h";
  parameters.force_set_probes(probes);
  parameters.packet_loss_mode = mode;
  Logger logger(LEVEL_ERROR);
  Wrapper wrapper(logger, parameters);
  wrapper.output_to_JSON(text);
  rapidjson::Document result;
  result.CopyFrom(wrapper.get_test_result().document(), result.GetAllocator());
  return result;
}

// The step's "qv-ping.results.duration.ms".
const rapidjson::Value& duration_of(const rapidjson::Value& result) {
  return result["MonitorResults"][0]["StepResults"][0]["OtherData"]["qv-ping.results.duration.ms"];
}

const std::string head = "ping to h (10.0.0.1), 128 hops max\n128  ";
const std::string error_code = "S:common.results.error-code";

TEST(PingParserTest, TimesAndVerdicts) {
  struct Case {
    std::string text;
    int probes;
    strings times;
    std::string error;  // the key's last part, "" for none
    std::string details;
  };
  const std::string other = "Destination replied with a different IP address than expected";
  // clang-format off
  const Case cases[] = {
      {recorded("ping_icmp.txt"), 5, {"0.045", "0.005", "0.005", "0.006", "0.004"}, "", ""},
      {recorded("ping_tcp_syn.txt"), 5, {"0.057", "0.018", "0.006", "0.007", "0.007"}, "", ""},
      {recorded("ping_timed_out.txt"), 3, strings(3, "null"), "timeout", ""},
      // Without the tool's verdict the count of time-outs decides.
      {head + "* * *\n", 3, strings(3, "null"), "timeout", ""},
      // Replies only from another address, even one that merely starts like the destination.
      {head + "10.0.0.9  1.5 ms  2.5 ms\n", 2, {"null", "null"}, "destination-unrecognized", other},
      {head + "10.0.0.10  1.5 ms\n", 1, {"null"}, "destination-unrecognized", other},
      // Once the destination answers again its times count.
      {head + "10.0.0.9  1.5 ms  10.0.0.1  2.5 ms\n", 2, {"null", "2.5"}, "", ""},
      // Times without any address: the destination was never reached.
      {head + "1.5 ms  2.5 ms\n", 2, {"1.5", "2.5"}, "destination-unreachable", ""},
      {head + "10.0.0.1  1.5 ms !H  2.5 ms\n", 2, {"null", "2.5"}, "", ""},
      // Every probe lost or unreachable: the last unreachable's description.
      {head + "10.0.0.1  1.5 ms !X  *  3.5 ms !13\n", 3, strings(3, "null"),
       "destination-unreachable", "ICMP unreachable code 13"},
      // Six significant digits; three times of five probes: the last two are null.
      {head + "10.0.0.1  12.3456789 ms  0.100 ms  3.0 ms\nECN: off\nDestinationReached: yes\n"
       "Path 1\n\n128  <syn,ack>  F=1  D\n", 5, {"12.3457", "0.1", "3", "null", "null"}, "", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    const rapidjson::Document result = parsed(c.text, c.probes);
    EXPECT_EQ(metric_values(result), c.times) << c.text;
    EXPECT_EQ(value_at(result, error_code),
              c.error.empty() ? "<absent>" : "qv-ping.results.error." + c.error)
        << c.text;
    EXPECT_EQ(value_at(result, "S:common.results.error-details"),
              c.details.empty() ? "<absent>" : c.details)
        << c.text;
  }
}

TEST(PingParserTest, AddressesDurationAndAnnotations) {
  const rapidjson::Document icmp = parsed(recorded("ping_icmp.txt"));
  EXPECT_EQ(value_at(icmp, "S:common.results.host.address"), "127.53.1.1");
  EXPECT_NEAR(duration_of(icmp).GetDouble(), 6.824, 1e-3);

  const rapidjson::Document other =
      parsed(head + "10.0.0.9  1.5 ms  10.0.0.1  2.5 ms  10.0.0.10  3.5 ms\n", 3);
  EXPECT_EQ(metric_values(other, "common.results.host.address"),
            (strings{"10.0.0.9", "<absent>", "10.0.0.10"}));

  const rapidjson::Document annotated =
      parsed(head + "10.0.0.1  1.5 ms !H  2.5 ms\nMSS: 1460\n", 2);
  EXPECT_EQ(metric_values(annotated, "common.results.error-code"),
            (strings{"qv-ping.results.error.destination-unreachable", "<absent>"}));
  EXPECT_EQ(metric_values(annotated, "common.results.error-details"),
            (strings{"Host unreachable", "<absent>"}));
  EXPECT_EQ(value_at(annotated, "S:qv-ping.results.path-mss"), "1460");
  // Without a "Duration:" line the duration is the wall time, a whole number.
  ASSERT_TRUE(duration_of(annotated).IsInt());
  EXPECT_LT(duration_of(annotated).GetInt(), 5000);
}

TEST(PingParserTest, AStoppedViolationCheckSavesItsStateAndIsContinuedFromIt) {
  const rapidjson::Document first = parsed(recorded("ping_packet_loss.txt"), 6, 0);
  EXPECT_EQ(metric_values(first), (strings{"null", "null"}));
  EXPECT_EQ(value_at(first, "S:qv-ping.results.missing-probes"), "4");
  EXPECT_EQ(value_at(first, "S:qv-ping.results.starting-rtt"), "2");
  EXPECT_EQ(value_at(first, "S:qv-ping.results.timeout-count"), "2");
  EXPECT_EQ(value_at(first, error_code), "qv-ping.results.error.packet-loss-threshold-violation");
  // The state is the result as it stood before the violation verdict.
  const std::string state = value_at(first, "R:common.results.monitor.state");
  EXPECT_EQ(state.find("packet-loss-threshold-violation"), std::string::npos);

  // Fed back, it continues the probe indexes, the counters and the duration, and the time left;
  // the rest partly answered, or all lost: the verdict covers all six probes.
  rapidjson::Document input;
  input.Parse(R"({"Capabilities":{"test.common.url":"qv-ping://10.0.0.1",)"
              R"("qv-ping.test.continuous-ping-spacing":10},"Settings":{}})");
  input["Capabilities"].AddMember("test.common.monitor.state",
                                  rapidjson::Value(state.c_str(), input.GetAllocator()),
                                  input.GetAllocator());
  const std::pair<const char*, const char*> rests[] = {
      {"1.0 ms  *  *  4.0 ms", "<absent>"}, {"*  *  *  *", "qv-ping.results.error.timeout"}};
  for (const auto& [probes, error] : rests) {
    Logger logger(LEVEL_ERROR);
    std::stringbuf line(JSON_to_string(input) + "\n");
    Wrapper second(logger, "", &line);
    second.input_sanity_check();
    EXPECT_NE(second.get_parameters().get_cmd_line().find(
                  " -q 4 -z 0.010000 -w 2,0,0 -n -Q 68 -N 1 127.53.5.1 "),
              std::string::npos);
    second.output_to_JSON("ping to h (127.53.5.1), 128 hops max\n128  127.53.5.1  " +
                          std::string(probes) + "\nDuration: 40.0\n");
    const rapidjson::Document& result = second.get_test_result().document();
    const strings times = metric_values(result);
    ASSERT_EQ(times.size(), 6u) << probes;
    EXPECT_EQ(times[2], probes[0] == '*' ? "null" : "1");
    EXPECT_EQ(value_at(result, error_code), error) << probes;
    EXPECT_EQ(value_at(result, "S:qv-ping.results.missing-probes"), "<absent>");
    EXPECT_NEAR(duration_of(result).GetDouble(), 2051.277, 0.01);
  }
}

TEST(PingParserDeathTest, MalformedTextsAreInternalErrors) {
  const std::pair<std::string, const char*> cases[] = {
      {"traceroute to h (10.0.0.1)\n", "Weird first line, expected \"ping\""},
      {"ping to h 10.0.0.1\n", "Missing right bracket in \\[10.0.0.1\\]"},
      {head + "x  10.0.0.1\nx128\n", "Hop number expected, got \\[x128\\]"},
      {head + "10.0.0.1  1.0 ms !Q\n", "ICMP error code malformed: Expected number, got \\[Q\\]"},
      {head + "10.0.0.1  1.0\n", "Expected 'ms' but found \\[\\]"},
      {head + "host (10.0.0.1)  1.0 ms\n", "Unexpected '\\(' found"},
      {head + "!H\n", "ICMP unreachable \\[!H\\] before any probe"},
      // No JSON number can hold these, and none fits the int or the double.
      {head + "*\nDuration: nan\n", "Duration expected, got \\[nan\\]"},
      {head + "*\nDuration: -inf\n", "Duration expected, got \\[-inf\\]"},
      {head + "*\nMSS: 12345678901\n", "MSS expected, got \\[12345678901\\]"},
      {head + "10.0.0.1  " + std::string(400, '9') + ".5 ms\n", "Round-trip time out of range"},
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EXIT(parsed(text), ::testing::ExitedWithCode(1),
                std::string("Internal error: Parsing error. ") + message);
  }
}

TEST(PingifyTest, FirstTwoLinesReadLikePing) {
  EXPECT_EQ(Wrapper::pingify(recorded("ping_icmp.txt")),
            "ping to 127.53.1.1 (127.53.1.1), 128 ttl, 60 byte packets\n  127.53.1.1  0.045 ms  "
            "0.005 ms  0.005 ms  0.006 ms  0.004 ms\n");
  EXPECT_EQ(Wrapper::pingify("traceroute to h (10.0.0.1), 128 hops max\n"),
            "ping to h (10.0.0.1), 128 ttl\n\n");
  EXPECT_EQ(Wrapper::pingify(""), "\n");
}

}  // namespace
}  // namespace Network_tools::Ping
