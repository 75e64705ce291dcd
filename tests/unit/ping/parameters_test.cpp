// Ping parameters: the traceroute command line, the setters' limits and the high-frequency
// probe count.
#include "ping/parameters.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ping/errors.h"

namespace Network_tools::Ping {
namespace {

const std::string tool = "/opt/Tarvex/Tools/traceroute/QV_traceroute";

// The command line without the executable.
std::string arguments(const Parameters& parameters) {
  const std::string line = parameters.get_cmd_line();
  return line.substr(line.find(' ') + 1);
}

TEST(PingCommandLineTest, DefaultsAndProbeKinds) {
  Parameters parameters;
  parameters.host = "H";
  EXPECT_EQ(parameters.get_cmd_line(),
            tool + " -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 H 2>&1");

  const std::pair<protocol_t, std::string> kinds[] = {{protocol_unset, "-4"},
                                                      {protocol_TCP, "-T -4"},
                                                      {protocol_UDP, "-4"},
                                                      {protocol_in_session_TCP, "--tcpdata -4"},
                                                      {protocol_QUIC, "--quic -4"}};
  for (const auto& [kind, start] : kinds) {
    parameters.set_protocol(kind);
    EXPECT_EQ(arguments(parameters).substr(0, start.size() + 1), start + " ") << int(kind);
  }

  Parameters all;
  all.host = "h";
  all.use_IPv6 = true;
  all.loose_match = true;
  all.set_TTL(64);
  all.set_probes(3);
  all.set_probe_timeout(4);
  all.set_here_factor(5);
  all.set_near_factor(6);
  all.set_timeout(9, 1, 300);
  all.set_port(53);
  all.set_sim_probes(7);
  EXPECT_EQ(arguments(all),
            "-I -6 --loose-match --ping=64 -q 3 -w 4,5,6 -n -Q 9 -p 53 -N 7 h 2>&1");
}

TEST(PingCommandLineTest, UdpWritesTheFixedPortOnlyWithAPort) {
  Parameters parameters;
  parameters.host = "h";
  parameters.set_protocol(protocol_UDP);
  EXPECT_EQ(arguments(parameters), "-4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 h 2>&1");
  parameters.set_port(53);
  EXPECT_EQ(arguments(parameters),
            "-4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -p 53 -O fix_dest_port -N 1 h 2>&1");
  parameters.set_protocol(protocol_TCP);
  EXPECT_EQ(arguments(parameters).find("fix_dest_port"), std::string::npos);
}

TEST(PingCommandLineTest, SpacingUpToTenIsWrittenInSeconds) {
  Parameters parameters;
  parameters.set_high_frequency_interval(0);
  const std::pair<int, std::string> spacings[] = {
      {1, "0.001000"}, {5, "0.005000"}, {10, "0.010000"}, {11, "11"}, {3000, "3000"}};
  for (const auto& [spacing, text] : spacings) {
    parameters.set_probe_spacing(spacing);
    EXPECT_NE(arguments(parameters).find(" -q 5 -z " + text + " -w "), std::string::npos)
        << arguments(parameters);
  }
}

TEST(PingCommandLineTest, PacketLossOptionsOnlyInViolationCheckRuns) {
  Parameters parameters;
  parameters.set_high_frequency_interval(0);
  parameters.set_packet_loss_threshold(40);
  parameters.set_probe_spacing(1000);
  for (const std::uint8_t mode : {1, 2}) {
    parameters.packet_loss_mode = mode;
    EXPECT_EQ(arguments(parameters).find("packet-loss"), std::string::npos);
  }
  parameters.packet_loss_mode = 0;
  // Window length 5000 ms: the window size in probes is the length over the spacing, at least 1.
  const std::pair<int, int> windows[] = {{1000, 5}, {3000, 1}, {5000, 1}, {6000, 1}, {7, 714}};
  for (const auto& [spacing, probes] : windows) {
    parameters.set_probe_spacing(spacing);
    EXPECT_NE(arguments(parameters)
                  .find(" --packet-loss-threshold=40 --packet-loss-window-size=" +
                        std::to_string(probes) + " -w "),
              std::string::npos)
        << spacing << ": " << arguments(parameters);
  }
  // Without a spacing there is no window.
  Parameters unspaced;
  unspaced.packet_loss_mode = 0;
  EXPECT_EQ(arguments(unspaced).find("packet-loss"), std::string::npos);
}

TEST(PingCommandLineTest, InputValuesCannotRunCommands) {
  Parameters parameters("/tmp/tools dir/");
  parameters.host = "h; touch /tmp/x";
  EXPECT_EQ(parameters.get_cmd_line(),
            "'/tmp/tools dir/QV_traceroute' -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 "
            "'h; touch /tmp/x' 2>&1");
}

TEST(PingParametersTest, HighFrequencyRunsDeriveTheProbeCount) {
  Parameters parameters;
  parameters.set_high_frequency_interval(60000);
  parameters.set_probe_spacing(7000);
  EXPECT_EQ(parameters.get_probes(), 9u);  // 60000 / 7000 rounded up
  parameters.set_probes(3);
  parameters.set_probes(5000);  // ignored without a check while the run is high-frequency
  EXPECT_EQ(parameters.get_probes(), 9u);
  parameters.set_high_frequency_interval(1000);
  EXPECT_EQ(parameters.get_probes(), 1u);
  EXPECT_NE(arguments(parameters).find(" -q 1 -z 7000 "), std::string::npos);

  parameters.force_set_probes(4);
  EXPECT_EQ(parameters.get_probes(), 4u);
  EXPECT_THROW(parameters.force_set_probes(0), Network_tools::Parameters::exception);

  parameters.set_high_frequency_interval(0);  // ends the high-frequency run, keeps the count
  EXPECT_EQ(parameters.get_probes(), 4u);
  parameters.set_probes(3);
  EXPECT_EQ(parameters.get_probes(), 3u);
}

// The message of the refusal of `set`, or "" when it was accepted.
std::string refusal(const std::function<void()>& set) {
  try {
    set();
  } catch (const Network_tools::Parameters::exception& refused) {
    return refused.what();
  }
  return "";
}

TEST(PingParametersTest, SettersRefuseOutOfRangeValuesAndKeepTheOldOne) {
  Parameters p;
  EXPECT_EQ(refusal([&] { p.set_TTL(31); }), "TTL of 31 under the limit of 32");
  EXPECT_EQ(refusal([&] { p.set_TTL(32); }), "");
  EXPECT_EQ(refusal([&] { p.set_TTL(256); }), "TTL of 256 over the limit of 255");
  EXPECT_EQ(p.get_TTL(), 32);
  EXPECT_EQ(refusal([&] { p.set_port(0); }), "Port 0 under the limit of 1");
  EXPECT_EQ(p.get_port(), 0);
  EXPECT_EQ(refusal([&] { p.set_probe_timeout(70); }),
            "Probe timeout of 70s over the limit of 65s");
  EXPECT_EQ(p.get_probe_timeout(), 2);
  EXPECT_EQ(refusal([&] { p.set_probe_spacing(0); }),
            "Probe spacing of 0ms under the limit of 1ms");
  EXPECT_EQ(refusal([&] { p.set_probes(1001); }), "Probes of 1001 over the limit of 1000");
  EXPECT_EQ(refusal([&] { p.set_sim_probes(33); }),
            "Simultaneous probes of 33 over the limit of 32");
  EXPECT_EQ(refusal([&] { p.set_here_factor(-1); }), "Here factor of -1 under the limit of 0");
  EXPECT_EQ(refusal([&] { p.set_packet_loss_window_length(10001); }),
            "Packet loss window length of 10001 over the limit of 10000");
  EXPECT_EQ(refusal([&] { p.set_high_frequency_interval(3600001); }),
            "High frequency interval of 3600001 over the limit of 3600000");
  EXPECT_EQ(refusal([&] { p.set_starting_duration(300000.5F); }),
            "Starting duration of 300000.500000 over the limit of 300000");
  EXPECT_EQ(refusal([&] { p.set_starting_duration(-1.0F); }),
            "Starting duration of -1.000000 under the limit of 0");
  EXPECT_EQ(refusal([&] { p.set_protocol(static_cast<protocol_t>(6)); }),
            "Protocol type 6 is not supported in this wrapper");
  EXPECT_EQ(p.get_protocol(), protocol_ICMP);
  EXPECT_EQ(refusal([&] { p.set_timeout(301, 1, 300); }), "Timeout of 301 over the limit of 300");
}

TEST(PingErrorsTest, KeysFollowTheCodes) {
  EXPECT_EQ(err_to_string(err_t::internal_error), "qv-ping.results.error.internal-error");
  EXPECT_EQ(err_to_string(err_t::timeout), "qv-ping.results.error.timeout");
  EXPECT_EQ(err_to_string(err_t::packet_loss_threshold_violation),
            "qv-ping.results.error.packet-loss-threshold-violation");
  EXPECT_EQ(err_to_string(static_cast<err_t>(12)), "qv-ping.results.error.destination-unreachable");
  EXPECT_EQ(err_to_string(static_cast<err_t>(1015)), "qv-ping.results.error.unknown");
}

}  // namespace
}  // namespace Network_tools::Ping
