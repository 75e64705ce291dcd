// The DNS experience error codes, the result keys that report them, and the translation of the
// dig wrapper's error keys into them.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_ERRORS_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_ERRORS_H_

#include <cstdint>
#include <string>

namespace Network_tools::DNS_experience {

// Values 0 to 10 are the DNS response codes; the same meaning may carry another number in the
// other tools' enumerations.
enum class err_t : std::int32_t {
  no_local_resolver_available = -2,
  root_server_or_tld_query_error = -1,
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
  missing_host = 13,
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
  too_many_cname_traversal = 1015,
  too_many_levels = 1016,
  nameserver_resolution_timeout = 1017,
  no_answers_or_authorities = 1018,
  no_valid_answers = 1019,
};

// The result key of `code`, e.g. "qv-dns.results.error.timeout"; values without a key of their
// own (1006, 1008, ...) give "qv-dns.results.error.unknown".
std::string err_to_string(err_t code);

// The experience error for a dig wrapper error key: "qv-dns.results.error.dnssec-unknown" gives
// `internal_error`; a key the dig wrapper never writes gives `unknown`.
err_t direct_error_to_experience_error(const std::string& dig_key);

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_ERRORS_H_
