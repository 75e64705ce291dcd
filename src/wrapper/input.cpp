// Reading and applying the JSON input document.
#include <sys/select.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <string_view>

#include "frame/exception.h"
#include "wrapper/input_values.h"
#include "wrapper/json_access.h"
#include "wrapper/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools {
namespace {

// The whole input line must arrive within this time: an agent writes it at once.
constexpr std::chrono::seconds stdin_wait{5};

// How reading the input line ended.
enum class Line_outcome { complete, timed_out, too_long };

// Reads standard input up to the first line end, or to its end, within `stdin_wait` in all.
// What follows the line end is not wanted: the agent may keep the pipe open after it.
Line_outcome read_stdin_line(std::string& line) {
  using clock = std::chrono::steady_clock;
  const clock::time_point deadline = clock::now() + stdin_wait;
  std::array<char, 65536> chunk{};
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - clock::now());
    if (left.count() <= 0) return Line_outcome::timed_out;
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(left.count() / 1000000);
    timeout.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(STDIN_FILENO, &readable);
    const int ready = select(STDIN_FILENO + 1, &readable, nullptr, nullptr, &timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return Line_outcome::timed_out;
    // Readable, closed, or not waitable at all (no such descriptor): reading tells which.
    const ssize_t count = read(STDIN_FILENO, chunk.data(), chunk.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return Line_outcome::complete;
    const std::string_view text(chunk.data(), static_cast<std::size_t>(count));
    const std::size_t end = text.find('\n');
    line.append(text.substr(0, end));
    if (line.size() > Wrapper::max_input_length) return Line_outcome::too_long;
    if (end != std::string_view::npos) return Line_outcome::complete;
  }
}

// Reads `input` up to the first line end or its end (a stream given by a caller, not waited
// for).
Line_outcome read_line(std::streambuf& input, std::string& line) {
  for (int c = input.sbumpc(); c != std::char_traits<char>::eof() && c != '\n';
       c = input.sbumpc()) {
    if (line.size() == Wrapper::max_input_length) return Line_outcome::too_long;
    line += static_cast<char>(c);
  }
  return Line_outcome::complete;
}

}  // namespace

void Wrapper::handle_stdin(std::streambuf* input) {
  if (input == nullptr) throw_fatal_error("Bad input (streambuf is nullptr)");
  std::string line;
  const Line_outcome outcome =
      input == std::cin.rdbuf() ? read_stdin_line(line) : read_line(*input, line);
  if (outcome == Line_outcome::timed_out) throw_fatal_error("Timeout on receiving STDIN input");
  if (outcome == Line_outcome::too_long) {
    throw_fatal_error("Input document over the limit of " + std::to_string(max_input_length) +
                      " bytes");
  }

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
    logger_.write(
        LEVEL_ERROR, "ERROR",
        "Capability " + shown_value(key) + " is malformed and no related Setting is available");
  }
  throw_fatal_error(failed.begin()->second);
}

const rapidjson::Value& Wrapper::parse_section(rapidjson::Document& document,
                                               const std::string& line, const char* section) {
  if (const std::string problem = parse_JSON(document, line); !problem.empty()) {
    throw_fatal_error(problem);
  }
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
