// The parameter-set base.
#include "wrapper/parameters.h"

namespace Network_tools {

std::string Parameters::get_native_tool_executable() const {
  if (tool_folder_.empty()) return executable_;
  return tool_folder_ + executable_.substr(executable_.rfind('/') + 1);
}

void Parameters::set_timeout(int value, int minimum, int maximum) {
  if (value > maximum) {
    throw exception("Timeout of " + std::to_string(value) + " over the limit of " +
                    std::to_string(maximum));
  }
  if (value < minimum) {
    throw exception("Timeout of " + std::to_string(value) + " under the limit of " +
                    std::to_string(minimum));
  }
  timeout_ = static_cast<std::uint16_t>(value);
}

}  // namespace Network_tools
