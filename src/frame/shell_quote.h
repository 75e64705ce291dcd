// Quoting of values for the shell command lines of the native tools.
#ifndef NETWORK_TOOLS_FRAME_SHELL_QUOTE_H_
#define NETWORK_TOOLS_FRAME_SHELL_QUOTE_H_

#include <string>
#include <string_view>

namespace Network_tools {

// Returns `value` as one shell word that stands for exactly `value`. Ordinary words (ASCII
// letters, digits and ._:/@%+=,-) stay bare, so usual command lines read as typed by hand;
// anything else is single-quoted: "a b" gives 'a b', "it's" gives 'it'\''s', "" gives ''.
// Every value from the input (host, server, query type, test ID) goes through it.
std::string shell_quote(std::string_view value);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_SHELL_QUOTE_H_
