// The ping output parser on texts recorded from the traceroute stand-in in the lab and on
// hand-made ones, and the ping-like raw text.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ping/wrapper.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A wrapper that has parsed `text` for a ping of `probes` probes to `host`.
class Parsed {
 public:
  explicit Parsed(const std::string& text, int probes = 5, const std::string& host = "h",
                  std::uint8_t mode = 1)
      : logger_(LEVEL_ERROR), wrapper_(logger_, parameters(probes, host, mode)) {
    wrapper_.output_to_JSON(text);
  }

  static Parameters parameters(int probes, const std::string& host, std::uint8_t mode) {
    Parameters parameters;
    parameters.JSON_output = true;
    parameters.host = host;
    parameters.force_set_probes(probes);
    parameters.packet_loss_mode = mode;
    return parameters;
  }

  const rapidjson::Value& step() const {
    return wrapper_.get_test_result().document()["MonitorResults"][0]["StepResults"][0];
  }
  // The value of `key` in the step's other data as JSON text, or "absent".
  std::string other(const std::string& key) const {
    const rapidjson::Value& data = step()["OtherData"];
    return data.HasMember(key.c_str()) ? JSON_to_string(data[key.c_str()]) : "absent";
  }
  // `key` of every metric, "-" where a metric lacks it.
  std::vector<std::string> metrics(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& metric : step()["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      values.push_back(data.HasMember(key.c_str()) ? data[key.c_str()].GetString() : "-");
    }
    return values;
  }
  std::vector<std::string> rtts() const { return metrics("qv-ping.results.rtt"); }
  const Wrapper& wrapper() const { return wrapper_; }

 private:
  Logger logger_;
  Wrapper wrapper_;
};

using strings = std::vector<std::string>;

TEST(PingParserTest, RecordedRepliesGiveFiveTimesAndNoError) {
  for (const char* file : {"ping_icmp.txt", "ping_tcp_syn.txt"}) {
    Parsed parsed(recorded(file));
    EXPECT_EQ(parsed.rtts().size(), 5u) << file;
    for (const std::string& rtt : parsed.rtts()) EXPECT_NE(rtt, "null") << file;
    EXPECT_EQ(parsed.other("common.results.error-code"), "absent") << file;
    EXPECT_EQ(parsed.wrapper().get_error_code(), err_t::none);
  }
  Parsed icmp(recorded("ping_icmp.txt"));
  EXPECT_EQ(icmp.rtts(), (strings{"0.045", "0.005", "0.005", "0.006", "0.004"}));
  EXPECT_EQ(icmp.other("common.results.host.address"), "\"127.53.1.1\"");
  EXPECT_EQ(icmp.other("common.results.host.name"), "\"h\"");
  EXPECT_FLOAT_EQ(icmp.step()["OtherData"]["qv-ping.results.duration.ms"].GetFloat(), 6.824F);
}

TEST(PingParserTest, EveryProbeTimedOut) {
  Parsed recorded_run(recorded("ping_timed_out.txt"), 3);
  EXPECT_EQ(recorded_run.rtts(), (strings{"null", "null", "null"}));
  EXPECT_EQ(recorded_run.other("common.results.error-code"), "\"qv-ping.results.error.timeout\"");

  // Without the tool's own verdict the count of time-outs decides.
  Parsed counted("ping to h (10.0.0.1), 128 hops max\n128  * * * * *\nDuration: 5000.5\n");
  EXPECT_EQ(counted.rtts(), strings(5, "null"));
  EXPECT_EQ(counted.wrapper().get_error_code(), err_t::timeout);
}

TEST(PingParserTest, RepliesFromAnotherAddress) {
  Parsed other("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.9  1.5 ms  2.5 ms\n", 2);
  EXPECT_EQ(other.rtts(), (strings{"null", "null"}));
  EXPECT_EQ(other.metrics("common.results.host.address"), (strings{"10.0.0.9", "10.0.0.9"}));
  EXPECT_EQ(other.other("common.results.error-code"),
            "\"qv-ping.results.error.destination-unrecognized\"");
  EXPECT_EQ(other.other("common.results.error-details"),
            "\"Destination replied with a different IP address than expected\"");

  // An address that merely starts like the destination is another address.
  Parsed longer("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.10  1.5 ms\n", 1);
  EXPECT_EQ(longer.wrapper().get_error_code(), err_t::destination_unrecognized);

  // Once the destination answers again its times count.
  Parsed mixed("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.9  1.5 ms  10.0.0.1  2.5 ms\n", 2);
  EXPECT_EQ(mixed.rtts(), (strings{"null", "2.5"}));
  EXPECT_EQ(mixed.wrapper().get_error_code(), err_t::none);

  // Times without any address: the destination was never reached.
  Parsed anonymous("ping to h (10.0.0.1), 128 hops max\n128  1.5 ms  2.5 ms\n", 2);
  EXPECT_EQ(anonymous.rtts(), (strings{"1.5", "2.5"}));
  EXPECT_EQ(anonymous.wrapper().get_error_code(), err_t::destination_unreachable);
}

TEST(PingParserTest, UnreachableAnnotations) {
  Parsed one("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.1  1.5 ms !H  2.5 ms\n", 2);
  EXPECT_EQ(one.rtts(), (strings{"null", "2.5"}));
  EXPECT_EQ(one.metrics("common.results.error-code"),
            (strings{"qv-ping.results.error.destination-unreachable", "-"}));
  EXPECT_EQ(one.metrics("common.results.error-details"), (strings{"Host unreachable", "-"}));
  EXPECT_EQ(one.wrapper().get_error_code(), err_t::none);

  // Every probe lost or unreachable: the run fails with the last unreachable's description.
  Parsed all("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.1  1.5 ms !X  *  3.5 ms !13\n", 3);
  EXPECT_EQ(all.rtts(), (strings{"null", "null", "null"}));
  EXPECT_EQ(all.other("common.results.error-code"),
            "\"qv-ping.results.error.destination-unreachable\"");
  EXPECT_EQ(all.other("common.results.error-details"), "\"ICMP unreachable code 13\"");

  EXPECT_EQ(Wrapper::destination_unreachable_details("N"), "Network unreachable");
  EXPECT_EQ(Wrapper::destination_unreachable_details("C"), "Precedence cutoff in effect");
  EXPECT_THROW(Wrapper::destination_unreachable_details("Q"), std::invalid_argument);
  EXPECT_THROW(Wrapper::destination_unreachable_details(""), std::invalid_argument);
}

TEST(PingParserTest, TimesKeepSixSignificantDigits) {
  Parsed parsed("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.1  12.3456789 ms  0.100 ms\n", 2);
  EXPECT_EQ(parsed.rtts(), (strings{"12.3457", "0.1"}));
}

TEST(PingParserTest, MissingDurationAndMissingProbes) {
  // Three times out of five: the last two are null; the duration is the wall time.
  Parsed parsed("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.1  1.0 ms  2.0 ms  3.0 ms\n", 5);
  EXPECT_EQ(parsed.rtts(), (strings{"1", "2", "3", "null", "null"}));
  const rapidjson::Value& duration = parsed.step()["OtherData"]["qv-ping.results.duration.ms"];
  ASSERT_TRUE(duration.IsInt());
  EXPECT_GE(duration.GetInt(), 0);
  EXPECT_LT(duration.GetInt(), 5000);
  EXPECT_EQ(parsed.wrapper().get_error_code(), err_t::none);

  // Other lines the tool may print are read or skipped.
  Parsed extras(
      "\nping to h (10.0.0.1), 128 hops max\nDestinationReached: yes\nPath 1 2\nMSS: 1460\nECN: "
      "off\n128  10.0.0.1  <syn,ack>  1.0 ms  F=1  D\n",
      1);
  EXPECT_EQ(extras.rtts(), (strings{"1"}));
  EXPECT_EQ(extras.other("qv-ping.results.path-mss"), "1460");
}

TEST(PingParserTest, ViolationCheckStopsEarlyAndSavesItsState) {
  Parsed parsed(recorded("ping_packet_loss.txt"), 6, "127.53.5.1", 0);
  EXPECT_EQ(parsed.rtts(), (strings{"null", "null"}));
  EXPECT_EQ(parsed.other("qv-ping.results.missing-probes"), "4");
  EXPECT_EQ(parsed.other("qv-ping.results.starting-rtt"), "2");
  EXPECT_EQ(parsed.other("qv-ping.results.timeout-count"), "2");
  EXPECT_EQ(parsed.other("qv-ping.results.unreachable-count"), "0");
  EXPECT_EQ(parsed.other("common.results.error-code"),
            "\"qv-ping.results.error.packet-loss-threshold-violation\"");
  // The state is the result as it stood before the violation verdict.
  const rapidjson::Value& result =
      parsed.wrapper().get_test_result().document()["MonitorResults"][0];
  const std::string state = result["OtherData"]["common.results.monitor.state"].GetString();
  EXPECT_NE(state.find("\"qv-ping.results.missing-probes\":4"), std::string::npos);
  EXPECT_NE(state.find("qv-ping.results.error.timeout"), std::string::npos);
  EXPECT_EQ(state.find("packet-loss-threshold-violation"), std::string::npos);

  // The same text in a normal run: no state, the unsent probes are null.
  Parsed normal(recorded("ping_packet_loss.txt"), 6, "127.53.5.1", 1);
  EXPECT_EQ(normal.rtts(), strings(6, "null"));
  EXPECT_EQ(normal.other("qv-ping.results.missing-probes"), "absent");
}

// Parses `text` in a death test, which must end with the internal error `message`.
void expect_parsing_error(const std::string& text, const std::string& message) {
  EXPECT_EXIT(Parsed{text}, ::testing::ExitedWithCode(1),
              "Internal error: Parsing error. " + message)
      << text;
}

TEST(PingParserDeathTest, MalformedTextsAreInternalErrors) {
  expect_parsing_error("traceroute to h (10.0.0.1)\n", "Weird first line, expected \"ping\"");
  expect_parsing_error("ping from h (10.0.0.1)\n", "Weird first line, expected \"to\"");
  expect_parsing_error("ping to h 10.0.0.1\n", "Missing right bracket in \\[10.0.0.1\\]");
  expect_parsing_error("ping to h (10.0.0.1)\nx128  10.0.0.1  1.0 ms\n",
                       "Hop number expected, got \\[x128\\]");
  expect_parsing_error("ping to h (10.0.0.1)\n128  10.0.0.1  1.0 ms !Q\n",
                       "ICMP error code malformed: Expected number, got \\[Q\\]");
  expect_parsing_error("ping to h (10.0.0.1)\n128  10.0.0.1  1.0 s\n",
                       "Expected 'ms' but found \\[s\\]");
  expect_parsing_error("ping to h (10.0.0.1)\n128  10.0.0.1  1.0\n",
                       "Expected 'ms' but found \\[\\]");
  expect_parsing_error("ping to h (10.0.0.1)\n128  host (10.0.0.1)  1.0 ms\n",
                       "Unexpected '\\(' found");
  expect_parsing_error("ping to h (10.0.0.1)\n128  !H\n",
                       "ICMP unreachable \\[!H\\] before any probe");
  expect_parsing_error("ping to h (10.0.0.1)\nDuration: soon\n", "Duration expected");
}

TEST(PingifyTest, FirstTwoLinesReadLikePing) {
  EXPECT_EQ(Wrapper::pingify("traceroute to h (10.0.0.1), 128 hops max, 60 byte packets\n"
                             "128  10.0.0.1  1.0 ms\nDuration: 3.0\n"),
            "ping to h (10.0.0.1), 128 ttl, 60 byte packets\n  10.0.0.1  1.0 ms\n");
  EXPECT_EQ(Wrapper::pingify("ping to h (10.0.0.1), 64 hops max\n64 *"),
            "ping to h (10.0.0.1), 64 ttl\n *\n");
  EXPECT_EQ(Wrapper::pingify(""), "\n");
  EXPECT_EQ(Wrapper::pingify("only one line"), "only one line\n");
}

}  // namespace
}  // namespace Network_tools::Ping
