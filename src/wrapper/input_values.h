// Checks of the values a test gets from its input (options and the JSON document) before any
// of them reaches a native tool's command line or the result document.
#ifndef NETWORK_TOOLS_WRAPPER_INPUT_VALUES_H_
#define NETWORK_TOOLS_WRAPPER_INPUT_VALUES_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace Network_tools {

// The longest host name: 253 characters, one more for a final dot.
inline constexpr std::size_t max_host_name_length = 253;
// Bounds of free texts: a test URL, a test ID and other short labels, a file path.
inline constexpr std::size_t max_URL_length = 2048;
inline constexpr std::size_t max_label_length = 1024;
inline constexpr std::size_t max_path_length = 4096;

// Each check returns "" for an acceptable value, otherwise the message of its refusal.

// A host to query or a name server: an IPv4 or IPv6 address, or a DNS name of labels made of
// letters, digits, "-" and "_" (none starting with "-"), or "*", separated by dots, with an
// optional final dot ("." alone is the root). So no host can be taken for a tool's option.
// `role` names the value in the message: host_problem("+tcp", "host") gives
// "Invalid host [+tcp]: not a DNS name or an IP address"; a name that is too long gives
// "Host name too long: " and the start of the name.
std::string host_problem(std::string_view value, std::string_view role = "host");

// A DNS record type: a mnemonic that dig knows ("a", "AAAA", "https", "any", "axfr"...), in
// any case, or TYPE followed by a number from 0 to 65535 ("type65"). Otherwise
// "Invalid query type [type99999]: not a DNS record type". An empty type is no type at all:
// the tools' input checks report it as missing.
std::string query_type_problem(std::string_view value);

// A free text: well-formed UTF-8, without control characters, at most `max_length` bytes.
// `label` starts the message: text_problem("Test ID", "a\nb", 64) gives
// "Test ID [a\x0ab] holds a control character".
std::string text_problem(std::string_view label, std::string_view value, std::size_t max_length);

// `value` for a message: its first 64 bytes, every byte outside printable ASCII written as
// \xNN, and "..." when something was left out. "www.lab.test" stays as it is.
std::string shown_value(std::string_view value);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_INPUT_VALUES_H_
