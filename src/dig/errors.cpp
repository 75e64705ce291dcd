// Dig error keys.
#include "dig/errors.h"

namespace Network_tools::Dig {

std::string err_to_string(err_t code) {
  switch (code) {
    case err_t::none:
      return "qv-dns.results.error.none";
    case err_t::form_err:
      return "qv-dns.results.error.form-err";
    case err_t::serv_fail:
      return "qv-dns.results.error.serv-fail";
    case err_t::nx_domain:
      return "qv-dns.results.error.nx-domain";
    case err_t::not_imp:
      return "qv-dns.results.error.not-imp";
    case err_t::refused:
      return "qv-dns.results.error.refused";
    case err_t::yx_domain:
      return "qv-dns.results.error.yx-domain";
    case err_t::yxrr_set:
      return "qv-dns.results.error.yxrr-set";
    case err_t::nxrr_set:
      return "qv-dns.results.error.nxrr-set";
    case err_t::not_auth:
      return "qv-dns.results.error.not-auth";
    case err_t::not_zone:
      return "qv-dns.results.error.not-zone";
    case err_t::timeout:
      return "qv-dns.results.error.timeout";
    case err_t::missing_query_type:
      return "qv-dns.results.error.missing-query-type";
    case err_t::duplicate_host:
      return "qv-dns.results.error.duplicate-host";
    case err_t::invalid_host:
      return "qv-dns.results.error.invalid-host";
    case err_t::internal_error:
      return "qv-dns.results.error.internal-error";
    case err_t::missing_argument_value:
      return "qv-dns.results.error.missing-argument-value";
    case err_t::unrecognized_argument:
      return "qv-dns.results.error.unrecognized-argument";
    case err_t::wrong_argument_value:
      return "qv-dns.results.error.wrong-argument-value";
    case err_t::out_of_bounds_argument:
      return "qv-dns.results.error.out-of-bounds-argument";
    case err_t::missing_native_tools:
      return "qv-dns.results.error.missing-native-tools";
    case err_t::missing_privileges:
      return "qv-dns.results.error.missing-privileges";
    case err_t::nameserver_resolution_failure:
      return "qv-dns.results.error.nameserver-resolution-failure";
    case err_t::malformed_json:
      return "qv-dns.results.error.malformed-json";
    case err_t::nameserver_unreachable:
      return "qv-dns.results.error.nameserver-unreachable";
    case err_t::dnssec_resolution_failure:
      return "qv-dns.results.error.dnssec-resolution-failure";
    case err_t::dnssec_answer_unsigned:
      return "qv-dns.results.error.dnssec-answer-unsigned";
    case err_t::dnssec_unknown:
      return "qv-dns.results.error.dnssec-unknown";
    case err_t::no_answers_or_authorities:
      return "qv-dns.results.error.no-answers-or-authorities";
    case err_t::unknown:
      break;
  }
  return "qv-dns.results.error.unknown";
}

}  // namespace Network_tools::Dig
