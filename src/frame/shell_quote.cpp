// Shell quoting.
#include "frame/shell_quote.h"

#include <algorithm>

namespace Network_tools {
namespace {

bool is_ordinary(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("._:/@%+=,-").find(c) != std::string_view::npos;
}

}  // namespace

std::string shell_quote(std::string_view value) {
  if (!value.empty() && std::all_of(value.begin(), value.end(), is_ordinary)) {
    return std::string(value);
  }
  std::string quoted = "'";
  for (const char c : value) {
    // A single quote cannot appear inside single quotes: close, add an escaped one, reopen.
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

}  // namespace Network_tools
