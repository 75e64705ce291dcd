// Reading and applying the JSON input document.
#include <rapidjson/error/en.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <iostream>
#include <istream>

#include "frame/exception.h"
#include "wrapper/json_access.h"
#include "wrapper/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools {
namespace {

constexpr std::chrono::seconds stdin_wait{5};

// Waits until standard input has something to read (or is closed). A wait that fails (a signal
// came) is repeated for the rest of the time.
bool wait_for_stdin() {
  using clock = std::chrono::steady_clock;
  const clock::time_point deadline = clock::now() + stdin_wait;
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now());
    if (left.count() <= 0) return true;  // no time left: read whatever comes
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(left.count() / 1000000);
    timeout.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    const int ready = select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &timeout);
    if (ready > 0) return true;
    if (ready == 0) return false;
    if (errno != EINTR) return true;  // not waitable (no such descriptor): reading tells more
  }
}

}  // namespace

void Wrapper::handle_stdin(std::streambuf* input) {
  if (input == nullptr) throw_fatal_error("Bad input (streambuf is nullptr)");
  if (input == std::cin.rdbuf() && !wait_for_stdin()) {
    throw_fatal_error("Timeout on receiving STDIN input");
  }

  std::istream stream(input);
  std::string line;
  std::getline(stream, line);

  std::unordered_map<std::string, std::string> failed;
  try {
    failed = handle_options(line);
    // Failed capabilities may have recorded an error code; whether it stands is decided below.
    test_result_.remove_other_data("common.results.error-code", 0, 0);
    test_result_.remove_other_data("common.results.error-code", 0, -1);
    test_result_.remove_other_data("common.results.error-code", -1, -1);
    handle_settings(line, failed);
  } catch (const exception&) {
    add_min_options();
    throw;
  }

  if (failed.empty()) {
    add_min_options();
    return;
  }
  for (const auto& [key, message] : failed) {
    logger_.write(LEVEL_ERROR, "ERROR",
                  "Capability " + key + " is malformed and no related Setting is available");
  }
  throw_fatal_error(failed.begin()->second);
}

const rapidjson::Value& Wrapper::parse_section(rapidjson::Document& document,
                                               const std::string& line, const char* section) {
  document.Parse(line.data(), line.size());
  if (document.HasParseError()) throw_fatal_error(GetParseError_En(document.GetParseError()));
  if (!document.IsObject() || !document.HasMember(section)) {
    throw_fatal_error(std::string("Cannot find ") + section + " in input");
  }
  const rapidjson::Value& value = document[section];
  if (!value.IsObject()) throw_fatal_error(std::string(section) + " is not an object");
  return value;
}

std::unordered_map<std::string, std::string> Wrapper::handle_options(const std::string& line) {
  std::unordered_map<std::string, std::string> failed;
  const rapidjson::Value& capabilities = parse_section(options_document_, line, "Capabilities");
  for (const JSON_member& member : capabilities.GetObject()) {
    std::string message;
    try {
      handle_option(member);
      continue;
    } catch (const exception& error) {
      message = error.what();
    } catch (const Parameters::exception& error) {
      message = error.what();
    }
    logger_.write(LEVEL_WARNING, "WARNING", message);
    failed[GetString(member.name)] = message;
  }
  return failed;
}

void Wrapper::handle_settings(const std::string& line,
                              std::unordered_map<std::string, std::string>& failed) {
  const rapidjson::Value& settings = parse_section(settings_document_, line, "Settings");
  for (const JSON_member& member : settings.GetObject()) {
    handle_setting(member);
    failed.erase(get_capability_related_to_setting(GetString(member.name)));
  }
}

}  // namespace Network_tools
