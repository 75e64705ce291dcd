// The Delv wrapper's error codes and the result keys that report them.
#ifndef NETWORK_TOOLS_DELV_ERRORS_H_
#define NETWORK_TOOLS_DELV_ERRORS_H_

#include <cstdint>
#include <string>

namespace Network_tools::Delv {

enum class err_t : std::int32_t {
  none = 0,
  missing_query_type = 14,
  duplicate_host = 1001,
  invalid_host = 1002,
  internal_error = 1003,
  missing_argument_value = 1004,
  unrecognized_argument = 1005,
  wrong_argument_value = 1007,
  out_of_bounds_argument = 1009,
  missing_native_tools = 1010,
  missing_privileges = 1011,
  resolution_failure = 1012,
  answer_unsigned = 1013,
  transfer_not_supported = 1014,
};

// The result key of `code`, e.g. "qv-delv.results.error.answer-unsigned"; values without a key
// of their own give "qv-delv.results.error.unknown".
std::string err_to_string(err_t code);

}  // namespace Network_tools::Delv

#endif  // NETWORK_TOOLS_DELV_ERRORS_H_
