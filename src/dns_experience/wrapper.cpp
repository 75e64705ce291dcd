// The DNS experience wrapper: failures and raw-output helpers.
#include "dns_experience/wrapper.h"

namespace Network_tools::DNS_experience {

Wrapper::~Wrapper() = default;

void Wrapper::output_to_JSON(const std::string& /*native_output*/) {}

void Wrapper::throw_exception(err_t code, const std::string& message) {
  // A failure passed on from the dig wrapper already names its key: it is not named twice.
  const std::string key = err_to_string(code);
  const std::string suffix = " (" + key + ")";
  const std::string details =
      message.ends_with(suffix) ? message.substr(0, message.size() - suffix.size()) : message;
  Network_tools::Wrapper::throw_exception(static_cast<int>(code), key, details,
                                          parameters_.JSON_output, 0, -1);
}

void Wrapper::throw_fatal_error(err_t code, const std::string& message) {
  Network_tools::Wrapper::throw_fatal_error(message + " (" + err_to_string(code) + ")");
}

bool Wrapper::need_raw_output() const {
  if (parameters_.JSON_output) return false;
  return parameters_.get_query_type() == "ptr" || level_ >= 3;
}

std::string Wrapper::raw_output_title() const {
  std::string title =
      "## Level " + std::to_string(static_cast<std::uint32_t>(results_.reported_level_count + 1));
  const long alias = static_cast<long>(results_.resolutions.size()) - 1;
  if (alias > 0) title += " (alias resolution " + std::to_string(alias) + ")";
  return title;
}

std::string ToYesOrNoString(bool value) {
  return value ? "yes" : "no";
}

}  // namespace Network_tools::DNS_experience
