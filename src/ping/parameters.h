// The description of one ping made with the traceroute build in ping mode, and its command line.
#ifndef NETWORK_TOOLS_PING_PARAMETERS_H_
#define NETWORK_TOOLS_PING_PARAMETERS_H_

#include <cstdint>
#include <string>

#include "wrapper/parameters.h"

namespace Network_tools::Ping {

// Transport, probe count, spacing and time-outs, packet-loss detection and the destination of
// one ping. Setters refuse out-of-range values with `Network_tools::Parameters::exception`
// ("TTL of 31 under the limit of 32", "Probe timeout of 70s over the limit of 65s") and keep
// the old value. The base's `packet_loss_mode` chooses a normal run (1), a packet-loss
// violation check (0) or the continuation of a stopped check (2).
class Parameters : public Network_tools::Parameters {
 public:
  static constexpr const char* default_executable = "/opt/Tarvex/Tools/traceroute/QV_traceroute";

  // The defaults: ICMP ECHO, IPv4, TTL 128, 5 probes, 2 s per probe, 70 s overall. A non-empty
  // `tool_folder` (ending in "/") replaces the directory of the executable.
  explicit Parameters(std::string tool_folder = "");

  // The traceroute command line, e.g. for host H with the defaults:
  //   /opt/Tarvex/Tools/traceroute/QV_traceroute -I -4 --ping=128 -q 5 -w 2,0,0 -n -Q 70 -N 1 H
  //   2>&1
  // The executable and the host pass through `shell_quote`.
  std::string get_cmd_line() const override;

  void set_here_factor(int value);              // 0 to 100
  void set_near_factor(int value);              // 0 to 100
  void set_high_frequency_interval(int value);  // 0 to 3600000 ms; may derive `probes`
  void set_TTL(int value);                      // 32 to 255
  void set_sim_probes(int value);               // 1 to 32
  void set_port(int value);                     // 1 to 65535
  void set_packet_loss_threshold(int value);    // 0 to 100 percent
  // 1 to 1000; ignored without a check while a high-frequency run derives the count (both the
  // interval and the spacing are set).
  void set_probes(int value);
  // 1 to 1000, always checked and stored (the continuation of a stopped run uses it).
  void force_set_probes(int value);
  void set_probe_timeout(int value);              // 1 to 65 s
  void set_packet_loss_window_length(int value);  // 1 to 10000 ms
  // 1 to 30000 ms; with a high-frequency interval, `probes` becomes the interval divided by
  // the spacing, rounded up.
  void set_probe_spacing(int value);
  void set_starting_RTT(int value);         // 0 to 65535
  void set_timeout_count(int value);        // 0 to 65535
  void set_unreachable_count(int value);    // 0 to 65535
  void set_starting_duration(float value);  // 0.0 to 300000.0 ms
  // 0 (unset) to 5 (QUIC); see `Network_tools::protocol_t`.
  void set_protocol(protocol_t value);

  protocol_t get_protocol() const { return protocol_; }
  std::uint8_t get_TTL() const { return TTL_; }
  std::uint32_t get_probes() const { return probes_; }
  std::uint32_t get_probe_spacing() const { return probe_spacing_; }
  std::uint8_t get_probe_timeout() const { return probe_timeout_; }
  std::uint16_t get_port() const { return port_; }
  std::uint8_t get_packet_loss_threshold() const { return packet_loss_threshold_; }
  std::uint16_t get_packet_loss_window_length() const { return packet_loss_window_length_; }
  std::uint8_t get_sim_probes() const { return sim_probes_; }
  std::uint32_t get_here_factor() const { return here_factor_; }
  std::uint32_t get_near_factor() const { return near_factor_; }
  std::uint32_t get_high_frequency_interval() const { return high_frequency_interval_; }
  std::uint32_t get_starting_RTT() const { return starting_RTT_; }
  float get_starting_duration() const { return starting_duration_; }
  std::uint32_t get_timeout_count() const { return timeout_count_; }
  std::uint32_t get_unreachable_count() const { return unreachable_count_; }

  // Destination name or address.
  std::string host;
  // " -6" instead of " -4".
  bool use_IPv6 = false;
  // In-session TCP may fall back to TCP SYN when the destination's SACK options forbid it.
  bool in_session_fall_back = true;
  // Accept loosely matching ICMP replies.
  bool loose_match = false;
  // Resolve the destination the way the operating system would.
  bool force_OS_behavior = false;

 private:
  protocol_t protocol_ = protocol_ICMP;
  std::uint8_t TTL_ = 128;
  std::uint32_t probes_ = 5;
  std::uint32_t probe_spacing_ = 0;
  std::uint8_t probe_timeout_ = 2;
  std::uint16_t port_ = 0;
  std::uint8_t packet_loss_threshold_ = 100;
  std::uint16_t packet_loss_window_length_ = 5000;
  std::uint8_t sim_probes_ = 1;
  std::uint32_t here_factor_ = 0;
  std::uint32_t near_factor_ = 0;
  std::uint32_t high_frequency_interval_ = 60000;
  std::uint32_t starting_RTT_ = 0;
  float starting_duration_ = 0.0F;
  std::uint32_t timeout_count_ = 0;
  std::uint32_t unreachable_count_ = 0;
};

}  // namespace Network_tools::Ping

#endif  // NETWORK_TOOLS_PING_PARAMETERS_H_
