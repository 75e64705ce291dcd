// Reading a result document: the file's bytes, bounded before they are kept, then the JSON
// parser that neither recurses nor accepts invalid UTF-8.
#include "view/result_file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "frame/system.h"
#include "wrapper/json_access.h"

namespace Network_tools::View {

namespace {

// Closes a file descriptor when it goes out of scope (standard input stays open).
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ > STDIN_FILENO) close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }

 private:
  int descriptor_;
};

// The bytes of `descriptor` up to its end; refuses more than max_result_size without reading
// them all, so that a device or an endless pipe cannot fill the memory.
std::string read_bounded(int descriptor, const std::string& name) {
  std::string text;
  char buffer[65536];
  while (true) {
    const ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) throw unreadable_result("cannot read " + name + ": " + error_text(errno));
    if (count == 0) return text;
    if (text.size() + static_cast<std::size_t>(count) > max_result_size) {
      throw unreadable_result(name + " is larger than 16 MiB: not a result document");
    }
    text.append(buffer, static_cast<std::size_t>(count));
  }
}

}  // namespace

rapidjson::Document load_result(const std::string& path) {
  const bool standard_input = path == "-";
  const std::string name = standard_input ? "standard input" : path;
  const Descriptor file(standard_input ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) throw unreadable_result("cannot open " + name + ": " + error_text(errno));
  const std::string text = read_bounded(file.get(), name);

  rapidjson::Document document;
  const std::string error = parse_JSON(document, text);
  if (!error.empty()) throw unreadable_result(name + " is not JSON: " + error);
  return document;
}

}  // namespace Network_tools::View
