// Command-line argument readers.
#include "wrapper/arguments.h"

#include <charconv>
#include <stdexcept>
#include <system_error>

namespace Network_tools {

std::string retrieve_string_option(const std::string& option_name, const char* argument) {
  if (argument == nullptr || argument[0] == '\0' || argument[0] == '-') {
    throw std::length_error(option_name);
  }
  return argument;
}

int retrieve_int_option(const std::string& option_name, const char* argument) {
  const std::string text = retrieve_string_option(option_name, argument);
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error == std::errc::result_out_of_range) throw std::length_error(option_name);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument(option_name);
  }
  return value;
}

}  // namespace Network_tools
