// The shared harness of the fuzz targets.
#include "support/harness.h"

#include <rapidjson/memorystream.h>
#include <rapidjson/reader.h>
#include <stdlib.h>
#include <sys/socket.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <streambuf>

#include "frame/exception.h"
#include "frame/signals.h"

namespace Network_tools::fuzz {
namespace {

// Thrown where a real run would end the process.
struct Process_ended {
  int status;
};

[[noreturn]] void end_input(int status) {
  throw Process_ended{status};
}

// Swallows everything: the messages of fatal errors and the log lines are not looked at.
class Null_buffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

Null_buffer discarded;

// Standard error swallowed while alive. Given back before the buffer goes, as the standard
// streams are flushed once more after every static object of ours is gone.
class Silenced_standard_error {
 public:
  Silenced_standard_error() : previous_(std::cerr.rdbuf(&buffer_)) {}
  ~Silenced_standard_error() { std::cerr.rdbuf(previous_); }
  Silenced_standard_error(const Silenced_standard_error&) = delete;
  Silenced_standard_error& operator=(const Silenced_standard_error&) = delete;

 private:
  Null_buffer buffer_;
  std::streambuf* previous_;
};

// Installed once: fatal errors end the input, and their messages go nowhere.
void prepare_process() {
  static const Silenced_standard_error silenced;
  static const bool prepared = [] {
    set_exit_handler(end_input);
    return true;
  }();
  static_cast<void>(prepared);
}

// A folder under the system's temporary folder, removed when the process ends normally.
class Scratch_folder {
 public:
  Scratch_folder() {
    path_ = (std::filesystem::temp_directory_path() / "nt_fuzz.XXXXXX").string();
    if (mkdtemp(path_.data()) == nullptr) {
      std::perror("fuzz harness: mkdtemp");
      std::abort();
    }
    path_ += "/";
  }
  ~Scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Scratch_folder(const Scratch_folder&) = delete;
  Scratch_folder& operator=(const Scratch_folder&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const Scratch_folder& scratch_folder() {
  static const Scratch_folder folder;
  return folder;
}

}  // namespace

void run_input(const std::function<void()>& body) {
  prepare_process();
  try {
    body();
  } catch (const Process_ended&) {
  } catch (const exception& failure) {
    if (failure.need_JSON_output()) {
      check(is_JSON(failure.error_message()), "the error document is not valid JSON");
    }
  }
}

void check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

bool is_JSON(const std::string& text) {
  // Read without building a document: only whether it parses matters.
  rapidjson::Reader reader;
  rapidjson::MemoryStream bytes(text.data(), text.size());
  rapidjson::BaseReaderHandler<> ignored;
  return !reader.Parse(bytes, ignored).IsError();
}

std::vector<std::string> split_at_nul(std::string_view text) {
  std::vector<std::string> pieces;
  while (true) {
    const std::size_t nul = text.find('\0');
    pieces.emplace_back(text.substr(0, nul));
    if (nul == std::string_view::npos) return pieces;
    text.remove_prefix(nul + 1);
  }
}

Silent_logger::Silent_logger() : sink_(&discarded), logger_(LEVEL_DEBUG, "", sink_) {}

const std::string& tool_folder() {
  static const std::string folder = [] {
    std::string path = scratch_folder().path() + "tools/";
    std::filesystem::create_directories(path);
    for (const char* name : {"QV_dig", "QV_delv", "QV_traceroute"}) std::ofstream(path + name);
    return path;
  }();
  return folder;
}

std::string scratch_path(const std::string& name) {
  return scratch_folder().path() + name;
}

void write_file(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  check(file != nullptr, "cannot write a scratch file");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  check(std::fclose(file) == 0 && written, "cannot write a scratch file");
}

IP::Address scripted_lookup(const std::string& host, resolution_strategy_t) {
  const std::string_view invalid = ".invalid";
  if (host.empty() || (host.size() >= invalid.size() &&
                       host.compare(host.size() - invalid.size(), invalid.size(), invalid) == 0)) {
    return IP::Address();
  }
  return IP::Address(host.find("v6") != std::string::npos ? "2001:db8::1" : "192.0.2.1");
}

void Scripted_tools::install(Wrapper& wrapper) {
  wrapper.set_host_lookup(scripted_lookup);
  wrapper.set_resolver_configuration([] {
    return std::vector<std::string>{"127.53.0.53", "::1", "127.53.0.54"};
  });
  // The stream is only a token: the reader answers for the command it stands for.
  wrapper.set_command_launcher([this](const std::string& command, Pipe_registry&) {
    last_command = command;
    return stdin;
  });
  wrapper.set_command_reader(
      [this](FILE*, int& exit_status) { return answer(last_command, exit_status); });
}

}  // namespace Network_tools::fuzz
