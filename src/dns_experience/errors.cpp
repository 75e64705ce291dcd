// The DNS experience error keys and the dig-to-experience error map.
#include "dns_experience/errors.h"

#include <map>

namespace Network_tools::DNS_experience {

std::string err_to_string(err_t code) {
  const std::string prefix = "qv-dns.results.error.";
  switch (code) {
    case err_t::no_local_resolver_available:
      return prefix + "no-local-resolver-available";
    case err_t::root_server_or_tld_query_error:
      return prefix + "root-server-or-tld-query-error";
    case err_t::none:
      return prefix + "none";
    case err_t::form_err:
      return prefix + "form-err";
    case err_t::serv_fail:
      return prefix + "serv-fail";
    case err_t::nx_domain:
      return prefix + "nx-domain";
    case err_t::not_imp:
      return prefix + "not-imp";
    case err_t::refused:
      return prefix + "refused";
    case err_t::yx_domain:
      return prefix + "yx-domain";
    case err_t::yxrr_set:
      return prefix + "yxrr-set";
    case err_t::nxrr_set:
      return prefix + "nxrr-set";
    case err_t::not_auth:
      return prefix + "not-auth";
    case err_t::not_zone:
      return prefix + "not-zone";
    case err_t::unknown:
      return prefix + "unknown";
    case err_t::timeout:
      return prefix + "timeout";
    case err_t::missing_host:
      return prefix + "missing-host";
    case err_t::missing_query_type:
      return prefix + "missing-query-type";
    case err_t::duplicate_host:
      return prefix + "duplicate-host";
    case err_t::invalid_host:
      return prefix + "invalid-host";
    case err_t::internal_error:
      return prefix + "internal-error";
    case err_t::missing_argument_value:
      return prefix + "missing-argument-value";
    case err_t::unrecognized_argument:
      return prefix + "unrecognized-argument";
    case err_t::wrong_argument_value:
      return prefix + "wrong-argument-value";
    case err_t::out_of_bounds_argument:
      return prefix + "out-of-bounds-argument";
    case err_t::missing_native_tools:
      return prefix + "missing-native-tools";
    case err_t::missing_privileges:
      return prefix + "missing-privileges";
    case err_t::nameserver_resolution_failure:
      return prefix + "nameserver-resolution-failure";
    case err_t::malformed_json:
      return prefix + "malformed-json";
    case err_t::nameserver_unreachable:
      return prefix + "nameserver-unreachable";
    case err_t::too_many_cname_traversal:
      return prefix + "too-many-cname-traversal";
    case err_t::too_many_levels:
      return prefix + "too-many-levels";
    case err_t::nameserver_resolution_timeout:
      return prefix + "nameserver-resolution-timeout";
    case err_t::no_answers_or_authorities:
      return prefix + "no-answers-or-authorities";
    case err_t::no_valid_answers:
      return prefix + "no-valid-answers";
  }
  return prefix + "unknown";
}

err_t direct_error_to_experience_error(const std::string& dig_key) {
  // The dig wrapper numbers some meanings differently (its DNSSEC errors reuse 1015 to 1017), so
  // the translation goes through the key, never through the number.
  static const std::map<std::string, err_t> dig_to_experience = {
      {"qv-dns.results.error.dnssec-answer-unsigned", err_t::internal_error},
      {"qv-dns.results.error.dnssec-resolution-failure", err_t::internal_error},
      {"qv-dns.results.error.dnssec-unknown", err_t::internal_error},
      {"qv-dns.results.error.duplicate-host", err_t::duplicate_host},
      {"qv-dns.results.error.form-err", err_t::form_err},
      {"qv-dns.results.error.internal-error", err_t::internal_error},
      {"qv-dns.results.error.invalid-host", err_t::invalid_host},
      {"qv-dns.results.error.malformed-json", err_t::malformed_json},
      {"qv-dns.results.error.missing-argument-value", err_t::missing_argument_value},
      {"qv-dns.results.error.missing-native-tools", err_t::missing_native_tools},
      {"qv-dns.results.error.missing-privileges", err_t::missing_privileges},
      {"qv-dns.results.error.missing-query-type", err_t::missing_query_type},
      {"qv-dns.results.error.nameserver-resolution-failure", err_t::nameserver_resolution_failure},
      {"qv-dns.results.error.nameserver-unreachable", err_t::nameserver_unreachable},
      {"qv-dns.results.error.no-answers-or-authorities", err_t::no_answers_or_authorities},
      {"qv-dns.results.error.none", err_t::none},
      {"qv-dns.results.error.not-auth", err_t::not_auth},
      {"qv-dns.results.error.not-imp", err_t::not_imp},
      {"qv-dns.results.error.not-zone", err_t::not_zone},
      {"qv-dns.results.error.nx-domain", err_t::nx_domain},
      {"qv-dns.results.error.nxrr-set", err_t::nxrr_set},
      {"qv-dns.results.error.out-of-bounds-argument", err_t::out_of_bounds_argument},
      {"qv-dns.results.error.refused", err_t::refused},
      {"qv-dns.results.error.serv-fail", err_t::serv_fail},
      {"qv-dns.results.error.timeout", err_t::timeout},
      {"qv-dns.results.error.unknown", err_t::unknown},
      {"qv-dns.results.error.unrecognized-argument", err_t::unrecognized_argument},
      {"qv-dns.results.error.wrong-argument-value", err_t::wrong_argument_value},
      {"qv-dns.results.error.yx-domain", err_t::yx_domain},
      {"qv-dns.results.error.yxrr-set", err_t::yxrr_set},
  };
  const auto found = dig_to_experience.find(dig_key);
  return found == dig_to_experience.end() ? err_t::unknown : found->second;
}

}  // namespace Network_tools::DNS_experience
