// Delv error keys.
#include "delv/errors.h"

namespace Network_tools::Delv {

std::string err_to_string(err_t code) {
  switch (code) {
    case err_t::none:
      return "qv-delv.results.error.none";
    case err_t::missing_query_type:
      return "qv-delv.results.error.missing-query-type";
    case err_t::duplicate_host:
      return "qv-delv.results.error.duplicate-host";
    case err_t::invalid_host:
      return "qv-delv.results.error.invalid-host";
    case err_t::internal_error:
      return "qv-delv.results.error.internal-error";
    case err_t::missing_argument_value:
      return "qv-delv.results.error.missing-argument-value";
    case err_t::unrecognized_argument:
      return "qv-delv.results.error.unrecognized-argument";
    case err_t::wrong_argument_value:
      return "qv-delv.results.error.wrong-argument-value";
    case err_t::out_of_bounds_argument:
      return "qv-delv.results.error.out-of-bounds-argument";
    case err_t::missing_native_tools:
      return "qv-delv.results.error.missing-native-tools";
    case err_t::missing_privileges:
      return "qv-delv.results.error.missing-privileges";
    case err_t::resolution_failure:
      return "qv-delv.results.error.resolution-failure";
    case err_t::answer_unsigned:
      return "qv-delv.results.error.answer-unsigned";
    case err_t::transfer_not_supported:
      return "qv-delv.results.error.transfer-not-supported";
  }
  return "qv-delv.results.error.unknown";
}

}  // namespace Network_tools::Delv
