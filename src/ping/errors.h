// The ping error codes and the result keys that report them.
#ifndef NETWORK_TOOLS_PING_ERRORS_H_
#define NETWORK_TOOLS_PING_ERRORS_H_

#include <cstdint>
#include <string>

namespace Network_tools::Ping {

// Outcome of one ping. The same meaning may carry another number in the other tools'
// enumerations (internal error is 1002 here, time-out 11010).
enum class err_t : std::int32_t {
  none = 0,
  resolution_failed = 3,
  missing_host = 6,
  destination_unreachable = 12,
  trace_mode_not_specified = 101,
  duplicate_host = 1001,
  internal_error = 1002,
  missing_argument_value = 1003,
  unrecognized_argument = 1004,
  address_failure = 1005,
  network_unreachable = 1006,
  wrong_argument_value = 1007,
  destination_unrecognized = 1008,
  out_of_bounds_argument = 1009,
  missing_native_tools = 1010,
  missing_privileges = 1011,
  malformed_json = 1012,
  sack_issue = 1013,
  packet_loss_threshold_violation = 1014,
  timeout = 11010,
};

// The result key of `code`, e.g. "qv-ping.results.error.timeout"; a value without a key of its
// own gives "qv-ping.results.error.unknown".
std::string err_to_string(err_t code);

}  // namespace Network_tools::Ping

#endif  // NETWORK_TOOLS_PING_ERRORS_H_
