// The Dig wrapper's error codes and the result keys that report them.
#ifndef NETWORK_TOOLS_DIG_ERRORS_H_
#define NETWORK_TOOLS_DIG_ERRORS_H_

#include <cstdint>
#include <string>

namespace Network_tools::Dig {

// Values 0 to 10 are the DNS response codes.
enum class err_t : std::int32_t {
  none = 0,
  form_err = 1,
  serv_fail = 2,
  nx_domain = 3,
  not_imp = 4,
  refused = 5,
  yx_domain = 6,
  yxrr_set = 7,
  nxrr_set = 8,
  not_auth = 9,
  not_zone = 10,
  unknown = 11,
  timeout = 12,
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
  nameserver_resolution_failure = 1012,
  malformed_json = 1013,
  nameserver_unreachable = 1014,
  dnssec_resolution_failure = 1015,
  dnssec_answer_unsigned = 1016,
  dnssec_unknown = 1017,
  no_answers_or_authorities = 1018,
};

// The result key of `code`, e.g. "qv-dns.results.error.nx-domain"; values without a key of their
// own (11, 13, 1006, ...) give "qv-dns.results.error.unknown".
std::string err_to_string(err_t code);

}  // namespace Network_tools::Dig

#endif  // NETWORK_TOOLS_DIG_ERRORS_H_
