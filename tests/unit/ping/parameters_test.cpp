// Ping parameters: the traceroute command line and the high-frequency probe count.
#include "ping/parameters.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace Network_tools::Ping {
namespace {

// The command line without the executable, after `change` was applied to the defaults.
std::string arguments(const std::function<void(Parameters&)>& change) {
  Parameters parameters;
  parameters.host = "h";
  change(parameters);
  const std::string line = parameters.get_cmd_line();
  return line.substr(line.find(' ') + 1);
}

TEST(PingCommandLineTest, PiecesFollowTheParameters) {
  const std::pair<std::function<void(Parameters&)>, std::string> cases[] = {
      {[](Parameters&) {}, "-I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 h 2>&1"},
      {[](Parameters& p) { p.set_protocol(protocol_UDP); },
       "-4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 h 2>&1"},
      {[](Parameters& p) {
         p.set_protocol(protocol_UDP);
         p.set_port(53);
       },
       "-4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -p 53 -O fix_dest_port -N 1 h 2>&1"},
      // Spacing up to 10 ms is written in seconds; packet-loss options only in a check run.
      {[](Parameters& p) { p.set_probe_spacing(10); },
       "-I -4 --ping=128 -q 6000 -z 0.010000 -w 2,0,0 -n -Q 70 -N 1 h 2>&1"},
      {[](Parameters& p) {
         p.set_high_frequency_interval(0);
         p.set_probe_spacing(11);
         p.packet_loss_mode = 0;
       },
       "-I -4 --ping=128 -q 5 -z 11 --packet-loss-threshold=100 --packet-loss-window-size=454 -w "
       "2,0,0 -n -Q 70 -N 1 h 2>&1"},
      {[](Parameters& p) {  // a spacing above the window length: windows of one probe
         p.set_high_frequency_interval(0);
         p.set_probe_spacing(6000);
         p.packet_loss_mode = 0;
       },
       "-I -4 --ping=128 -q 5 -z 6000 --packet-loss-threshold=100 --packet-loss-window-size=1 -w "
       "2,0,0 -n -Q 70 -N 1 h 2>&1"},
  };
  for (const auto& [change, expected] : cases) EXPECT_EQ(arguments(change), expected);

  Parameters quoted("/tmp/tools dir/");
  quoted.host = "h; touch /tmp/x";
  EXPECT_EQ(quoted.get_cmd_line(),
            "'/tmp/tools dir/QV_traceroute' -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 "
            "'h; touch /tmp/x' 2>&1");
}

TEST(PingParametersTest, HighFrequencyRunsDeriveTheProbeCount) {
  Parameters parameters;
  parameters.set_high_frequency_interval(60000);
  parameters.set_probe_spacing(7000);
  EXPECT_EQ(parameters.get_probes(), 9u);  // rounded up
  parameters.set_probes(3);
  parameters.set_probes(5000);  // ignored without a check
  EXPECT_EQ(parameters.get_probes(), 9u);
  parameters.force_set_probes(4);
  parameters.set_high_frequency_interval(0);  // ends the high-frequency run, keeps the count
  EXPECT_EQ(parameters.get_probes(), 4u);
  parameters.set_probes(3);
  EXPECT_EQ(parameters.get_probes(), 3u);
}

}  // namespace
}  // namespace Network_tools::Ping
