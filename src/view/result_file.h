// Reading a result document from a file or from standard input, bounded in size.
#ifndef NETWORK_TOOLS_VIEW_RESULT_FILE_H_
#define NETWORK_TOOLS_VIEW_RESULT_FILE_H_

#include <rapidjson/document.h>

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Network_tools::View {

// A result document is far smaller: the input documents of the tools are bounded alike.
inline constexpr std::size_t max_result_size = std::size_t{16} * 1024 * 1024;

// A file that cannot be read, is too large or holds no JSON; the message names the file.
class unreadable_result : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads and parses the JSON document at `path` ("-" for standard input), at most
// `max_result_size` bytes. Throws unreadable_result, for example "result.json is not JSON:
// Invalid value." or "/dev/zero is larger than 16 MiB: not a result document".
rapidjson::Document load_result(const std::string& path);

}  // namespace Network_tools::View

#endif  // NETWORK_TOOLS_VIEW_RESULT_FILE_H_
