// The ping parameters: defaults and validating setters.
#include "ping/parameters.h"

#include <string>

#include "frame/system.h"

namespace Network_tools::Ping {
namespace {

// Throws the refusal of `value` when it lies outside [minimum, maximum]: "Probe timeout of 70s
// over the limit of 65s" (the unit follows the value and the limit).
void check_range(const char* label, long long value, long long minimum, long long maximum,
                 const char* unit = "") {
  const std::string shown = label + std::to_string(value) + unit;
  if (value < minimum) {
    throw Network_tools::Parameters::exception(shown + " under the limit of " +
                                               std::to_string(minimum) + unit);
  }
  if (value > maximum) {
    throw Network_tools::Parameters::exception(shown + " over the limit of " +
                                               std::to_string(maximum) + unit);
  }
}

// `interval` divided by `spacing`, rounded up.
std::uint32_t derived_probes(std::uint32_t interval, std::uint32_t spacing) {
  return (interval + spacing - 1) / spacing;
}

}  // namespace

Parameters::Parameters(std::string tool_folder)
    : Network_tools::Parameters(default_executable, std::move(tool_folder), 70) {}

void Parameters::set_here_factor(int value) {
  check_range("Here factor of ", value, 0, 100);
  here_factor_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_near_factor(int value) {
  check_range("Near factor of ", value, 0, 100);
  near_factor_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_high_frequency_interval(int value) {
  check_range("High frequency interval of ", value, 0, 3600000);
  high_frequency_interval_ = static_cast<std::uint32_t>(value);
  // An interval of 0 ends the high-frequency run; it must not derive a count of 0 probes.
  if (probe_spacing_ != 0 && high_frequency_interval_ != 0)
    probes_ = derived_probes(high_frequency_interval_, probe_spacing_);
}

void Parameters::set_TTL(int value) {
  check_range("TTL of ", value, 32, 255);
  TTL_ = static_cast<std::uint8_t>(value);
}

void Parameters::set_sim_probes(int value) {
  check_range("Simultaneous probes of ", value, 1, 32);
  sim_probes_ = static_cast<std::uint8_t>(value);
}

void Parameters::set_port(int value) {
  check_range("Port ", value, 1, 65535);
  port_ = static_cast<std::uint16_t>(value);
}

void Parameters::set_packet_loss_threshold(int value) {
  check_range("Packet loss threshold of ", value, 0, 100);
  packet_loss_threshold_ = static_cast<std::uint8_t>(value);
}

void Parameters::set_probes(int value) {
  // A high-frequency run owns the probe count.
  if (high_frequency_interval_ != 0 && probe_spacing_ != 0) return;
  force_set_probes(value);
}

void Parameters::force_set_probes(int value) {
  check_range("Probes of ", value, 1, 1000);
  probes_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_probe_timeout(int value) {
  check_range("Probe timeout of ", value, 1, 65, "s");
  probe_timeout_ = static_cast<std::uint8_t>(value);
}

void Parameters::set_packet_loss_window_length(int value) {
  check_range("Packet loss window length of ", value, 1, 10000);
  packet_loss_window_length_ = static_cast<std::uint16_t>(value);
}

void Parameters::set_probe_spacing(int value) {
  check_range("Probe spacing of ", value, 1, 30000, "ms");
  probe_spacing_ = static_cast<std::uint32_t>(value);
  if (high_frequency_interval_ != 0) {
    probes_ = derived_probes(high_frequency_interval_, probe_spacing_);
  }
}

void Parameters::set_starting_RTT(int value) {
  check_range("Starting RTT of ", value, 0, 65535);
  starting_RTT_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_timeout_count(int value) {
  check_range("Timeout count of ", value, 0, 65535);
  timeout_count_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_unreachable_count(int value) {
  check_range("Unreachable count of ", value, 0, 65535);
  unreachable_count_ = static_cast<std::uint32_t>(value);
}

void Parameters::set_starting_duration(float value) {
  // The value is shown as "%f"; the limit as a whole number.
  const std::string shown = format_text("%f", static_cast<double>(value));
  if (!(value >= 0.0F)) {
    throw Network_tools::Parameters::exception("Starting duration of " + shown +
                                               " under the limit of 0");
  }
  if (value > 300000.0F) {
    throw Network_tools::Parameters::exception("Starting duration of " + shown +
                                               " over the limit of 300000");
  }
  starting_duration_ = value;
}

void Parameters::set_protocol(protocol_t value) {
  if (value > protocol_QUIC) {
    throw Network_tools::Parameters::exception("Protocol type " + std::to_string(value) +
                                               " is not supported in this wrapper");
  }
  protocol_ = value;
}

}  // namespace Network_tools::Ping
