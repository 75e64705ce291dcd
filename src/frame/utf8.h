// UTF-8 validity of texts that reach a JSON document.
#ifndef NETWORK_TOOLS_FRAME_UTF8_H_
#define NETWORK_TOOLS_FRAME_UTF8_H_

#include <string>
#include <string_view>

namespace Network_tools {

// True when `text` is well-formed UTF-8: no stray continuation byte, no truncated or overlong
// sequence, no surrogate, nothing above U+10FFFF.
bool is_valid_UTF8(std::string_view text);

// `text` with every byte that is not part of a well-formed sequence replaced by U+FFFD, so that
// a JSON document holding it stays valid; well-formed text comes back unchanged.
std::string to_valid_UTF8(std::string_view text);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_UTF8_H_
