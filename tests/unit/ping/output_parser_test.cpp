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

using strings = std::vector<std::string>;

std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A wrapper that has parsed `text` for a ping of `probes` probes in run mode `mode`.
struct Parsed {
  explicit Parsed(const std::string& text, int probes = 5, std::uint8_t mode = 1)
      : wrapper(logger, [&] {
          Parameters parameters;
          parameters.host = "h";
          parameters.force_set_probes(probes);
          parameters.packet_loss_mode = mode;
          return parameters;
        }()) {
    wrapper.output_to_JSON(text);
  }
  const rapidjson::Value& step() const {
    return wrapper.get_test_result().document()["MonitorResults"][0]["StepResults"][0];
  }
  // `key` of the step's other data as JSON text, or "absent".
  std::string other(const char* key) const {
    const rapidjson::Value& data = step()["OtherData"];
    return data.HasMember(key) ? JSON_to_string(data[key]) : "absent";
  }
  // `key` of every metric, "-" where a metric lacks it.
  strings metrics(const char* key = "qv-ping.results.rtt") const {
    strings values;
    for (const auto& metric : step()["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      values.push_back(data.HasMember(key) ? data[key].GetString() : "-");
    }
    return values;
  }

  Logger logger{LEVEL_ERROR};
  Wrapper wrapper;
};

const std::string head = "ping to h (10.0.0.1), 128 hops max\n128  ";

TEST(PingParserTest, RecordedTexts) {
  Parsed icmp(recorded("ping_icmp.txt"));
  EXPECT_EQ(icmp.metrics(), (strings{"0.045", "0.005", "0.005", "0.006", "0.004"}));
  EXPECT_EQ(icmp.other("common.results.host.address"), "\"127.53.1.1\"");
  EXPECT_EQ(icmp.other("common.results.error-code"), "absent");
  EXPECT_NEAR(icmp.step()["OtherData"]["qv-ping.results.duration.ms"].GetDouble(), 6.824, 1e-3);
  EXPECT_EQ(Parsed(recorded("ping_tcp_syn.txt")).other("common.results.error-code"), "absent");

  Parsed timed_out(recorded("ping_timed_out.txt"), 3);
  EXPECT_EQ(timed_out.metrics(), strings(3, "null"));
  EXPECT_EQ(timed_out.other("common.results.error-code"), "\"qv-ping.results.error.timeout\"");
}

TEST(PingParserTest, ErrorsDecidedAtTheEndOfTheText) {
  // Without the tool's verdict the count of time-outs decides.
  EXPECT_EQ(Parsed(head + "* * * * *\n").wrapper.get_error_code(), err_t::timeout);
  // Replies only from another address; an address that merely starts like the destination is
  // another address.
  for (const char* other : {"10.0.0.9", "10.0.0.10"}) {
    Parsed parsed(head + other + "  1.5 ms  2.5 ms\n", 2);
    EXPECT_EQ(parsed.metrics(), (strings{"null", "null"}));
    EXPECT_EQ(parsed.metrics("common.results.host.address"), (strings{other, other}));
    EXPECT_EQ(parsed.other("common.results.error-details"),
              "\"Destination replied with a different IP address than expected\"");
  }
  // Once the destination answers again its times count.
  Parsed mixed(head + "10.0.0.9  1.5 ms  10.0.0.1  2.5 ms\n", 2);
  EXPECT_EQ(mixed.metrics(), (strings{"null", "2.5"}));
  EXPECT_EQ(mixed.wrapper.get_error_code(), err_t::none);
  // Times without any address: the destination was never reached.
  EXPECT_EQ(Parsed(head + "1.5 ms  2.5 ms\n", 2).wrapper.get_error_code(),
            err_t::destination_unreachable);
}

TEST(PingParserTest, UnreachableAnnotations) {
  Parsed one(head + "10.0.0.1  1.5 ms !H  2.5 ms\n", 2);
  EXPECT_EQ(one.metrics(), (strings{"null", "2.5"}));
  EXPECT_EQ(one.metrics("common.results.error-code"),
            (strings{"qv-ping.results.error.destination-unreachable", "-"}));
  EXPECT_EQ(one.metrics("common.results.error-details"), (strings{"Host unreachable", "-"}));
  EXPECT_EQ(one.wrapper.get_error_code(), err_t::none);

  // Every probe lost or unreachable: the run fails with the last unreachable's description.
  Parsed all(head + "10.0.0.1  1.5 ms !X  *  3.5 ms !13\n", 3);
  EXPECT_EQ(all.other("common.results.error-code"),
            "\"qv-ping.results.error.destination-unreachable\"");
  EXPECT_EQ(all.other("common.results.error-details"), "\"ICMP unreachable code 13\"");
}

TEST(PingParserTest, TimesMissingProbesAndOtherLines) {
  // Six significant digits; three times of five probes: the last two are null.
  Parsed parsed(head +
                "10.0.0.1  12.3456789 ms  0.100 ms  3.0 ms\nMSS: 1460\nECN: off\n"
                "DestinationReached: yes\nPath 1\n\n128  <syn,ack>  F=1  D\n");
  EXPECT_EQ(parsed.metrics(), (strings{"12.3457", "0.1", "3", "null", "null"}));
  EXPECT_EQ(parsed.other("qv-ping.results.path-mss"), "1460");
  // Without a "Duration:" line the duration is the wall time, a whole number.
  const rapidjson::Value& duration = parsed.step()["OtherData"]["qv-ping.results.duration.ms"];
  ASSERT_TRUE(duration.IsInt());
  EXPECT_LT(duration.GetInt(), 5000);
}

TEST(PingParserTest, ViolationCheckStopsEarlyAndSavesItsState) {
  Parsed parsed(recorded("ping_packet_loss.txt"), 6, 0);
  EXPECT_EQ(parsed.metrics(), (strings{"null", "null"}));
  EXPECT_EQ(parsed.other("qv-ping.results.missing-probes"), "4");
  EXPECT_EQ(parsed.other("qv-ping.results.starting-rtt"), "2");
  EXPECT_EQ(parsed.other("qv-ping.results.timeout-count"), "2");
  EXPECT_EQ(parsed.other("common.results.error-code"),
            "\"qv-ping.results.error.packet-loss-threshold-violation\"");
  // The state is the result as it stood before the violation verdict.
  const std::string state =
      parsed.wrapper.get_test_result()
          .document()["MonitorResults"][0]["OtherData"]["common.results.monitor.state"]
          .GetString();
  EXPECT_NE(state.find("\"qv-ping.results.missing-probes\":4"), std::string::npos);
  EXPECT_EQ(state.find("packet-loss-threshold-violation"), std::string::npos);

  // The same text in a normal run: no state, the unsent probes are null.
  Parsed normal(recorded("ping_packet_loss.txt"), 6, 1);
  EXPECT_EQ(normal.metrics(), strings(6, "null"));
  EXPECT_EQ(normal.other("qv-ping.results.missing-probes"), "absent");
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
  };
  for (const auto& [text, message] : cases) {
    EXPECT_EXIT(Parsed{text}, ::testing::ExitedWithCode(1),
                std::string("Internal error: Parsing error. ") + message);
  }
}

TEST(PingifyTest, FirstTwoLinesReadLikePing) {
  EXPECT_EQ(Wrapper::pingify("traceroute to h (10.0.0.1), 128 hops max, 60 byte packets\n"
                             "128  10.0.0.1  1.0 ms\nDuration: 3.0\n"),
            "ping to h (10.0.0.1), 128 ttl, 60 byte packets\n  10.0.0.1  1.0 ms\n");
  EXPECT_EQ(Wrapper::pingify(""), "\n");
}

}  // namespace
}  // namespace Network_tools::Ping
