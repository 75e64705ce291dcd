// The ping error keys.
#include "ping/errors.h"

namespace Network_tools::Ping {

std::string err_to_string(err_t code) {
  const std::string prefix = "qv-ping.results.error.";
  switch (code) {
    case err_t::none:
      return prefix + "none";
    case err_t::resolution_failed:
      return prefix + "resolution-failed";
    case err_t::missing_host:
      return prefix + "missing-host";
    case err_t::destination_unreachable:
      return prefix + "destination-unreachable";
    case err_t::trace_mode_not_specified:
      return prefix + "trace-mode-not-specified";
    case err_t::duplicate_host:
      return prefix + "duplicate-host";
    case err_t::internal_error:
      return prefix + "internal-error";
    case err_t::missing_argument_value:
      return prefix + "missing-argument-value";
    case err_t::unrecognized_argument:
      return prefix + "unrecognized-argument";
    case err_t::address_failure:
      return prefix + "address-failure";
    case err_t::network_unreachable:
      return prefix + "network-unreachable";
    case err_t::wrong_argument_value:
      return prefix + "wrong-argument-value";
    case err_t::destination_unrecognized:
      return prefix + "destination-unrecognized";
    case err_t::out_of_bounds_argument:
      return prefix + "out-of-bounds-argument";
    case err_t::missing_native_tools:
      return prefix + "missing-native-tools";
    case err_t::missing_privileges:
      return prefix + "missing-privileges";
    case err_t::malformed_json:
      return prefix + "malformed-json";
    case err_t::sack_issue:
      return prefix + "sack-issue";
    case err_t::packet_loss_threshold_violation:
      return prefix + "packet-loss-threshold-violation";
    case err_t::timeout:
      return prefix + "timeout";
  }
  return prefix + "unknown";
}

}  // namespace Network_tools::Ping
