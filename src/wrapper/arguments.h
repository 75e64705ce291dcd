// Reading of command-line option arguments.
#ifndef NETWORK_TOOLS_WRAPPER_ARGUMENTS_H_
#define NETWORK_TOOLS_WRAPPER_ARGUMENTS_H_

#include <string>

namespace Network_tools {

// The argument of option `option_name`. Throws std::length_error(option_name) when it is
// absent, empty or begins with "-" (the next option was taken for the value).
std::string retrieve_string_option(const std::string& option_name, const char* argument);

// The argument as an int. Throws std::length_error(option_name) as above and when the value is
// outside the int range, std::invalid_argument(option_name) when it is not a whole decimal
// number ("12a", "x").
int retrieve_int_option(const std::string& option_name, const char* argument);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_ARGUMENTS_H_
