// The traceroute command line of a ping.
#include <cstdio>
#include <string>

#include "frame/shell_quote.h"
#include "frame/system.h"
#include "ping/parameters.h"

namespace Network_tools::Ping {
namespace {

// The switch that selects the probe kind; UDP is traceroute's default and needs none.
const char* probe_kind_switch(protocol_t protocol) {
  switch (protocol) {
    case protocol_ICMP:
      return " -I";
    case protocol_TCP:
      return " -T";
    case protocol_in_session_TCP:
      return " --tcpdata";
    case protocol_QUIC:
      return " --quic";
    default:
      return "";
  }
}

// Spacing up to 10 is read by traceroute as seconds, above 10 as milliseconds.
std::string spacing_text(std::uint32_t spacing_ms) {
  if (spacing_ms > 10) return std::to_string(spacing_ms);
  return format_text("%f", spacing_ms / 1000.0);
}

}  // namespace

std::string Parameters::get_cmd_line() const {
  std::string line = shell_quote(get_native_tool_executable());
  line += probe_kind_switch(protocol_);
  line += use_IPv6 ? " -6" : " -4";
  if (loose_match) line += " --loose-match";
  line += " --ping=" + std::to_string(TTL_);
  line += " -q " + std::to_string(probes_);
  if (probe_spacing_ != 0) {
    line += " -z " + spacing_text(probe_spacing_);
    if (packet_loss_mode == 0) {
      const std::uint32_t window_probes = probe_spacing_ <= packet_loss_window_length_
                                              ? packet_loss_window_length_ / probe_spacing_
                                              : 1;
      line += " --packet-loss-threshold=" + std::to_string(packet_loss_threshold_);
      line += " --packet-loss-window-size=" + std::to_string(window_probes);
    }
  }
  line += " -w " + std::to_string(probe_timeout_) + "," + std::to_string(here_factor_) + "," +
          std::to_string(near_factor_);
  line += " -n -Q " + std::to_string(timeout_);
  if (port_ != 0) {
    line += " -p " + std::to_string(port_);
    if (protocol_ == protocol_UDP) line += " -O fix_dest_port";
  }
  line += " -N " + std::to_string(sim_probes_);
  if (!host.empty()) line += " " + shell_quote(host);
  return line + " 2>&1";
}

}  // namespace Network_tools::Ping
