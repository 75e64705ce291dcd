// What every fuzz target shares: running one input as a whole run of a tool would run it, a
// logger that writes nowhere, native tools that are only scripts, scratch files, and checks
// that stop the fuzzer with a message.
//
// A target gets bytes and must never crash, hang or leak on them. The product ends a run on
// bad input through fatal and internal errors, which end the process; here they end only the
// current input (see `run_input`).
#ifndef NETWORK_TOOLS_FUZZ_SUPPORT_HARNESS_H_
#define NETWORK_TOOLS_FUZZ_SUPPORT_HARNESS_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/logger.h"
#include "wrapper/wrapper.h"

namespace Network_tools::fuzz {

// Runs `body` as one run of a tool. A fatal or internal error (which ends a real run with
// status 1) and a `Network_tools::exception` (a reported test failure, or a help or version
// text) end the input normally; the error document that such an exception carries must be valid
// JSON. Anything else escaping `body` is a fault and crashes the fuzzer.
void run_input(const std::function<void()>& body);

// Aborts with `what` on standard error when `condition` is false.
void check(bool condition, const char* what);

// True when `text` parses as a JSON document.
bool is_JSON(const std::string& text);

// The input as text.
inline std::string as_text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// The pieces of `text` between NUL bytes; always at least one.
std::vector<std::string> split_at_nul(std::string_view text);

// A logger whose lines go nowhere (they are still formatted, as in a real run).
class Silent_logger {
 public:
  Silent_logger();
  Logger& get() { return logger_; }

 private:
  std::ostream sink_;
  Logger logger_;
};

// A folder holding empty QV_dig, QV_delv and QV_traceroute files, so that the wrappers'
// existence checks pass; with the trailing "/" that parameter sets expect. Made once per process
// and removed at its end.
const std::string& tool_folder();

// A path in a scratch folder of this process, removed at its end.
std::string scratch_path(const std::string& name);

// Writes `bytes` to `path`, replacing what was there.
void write_file(const std::string& path, std::string_view bytes);

// Replaces a wrapper's command hooks: nothing is started; `answer` gives, for each command
// line, the text the tool printed and its exit status. Host look-ups answer 192.0.2.1 for names
// (2001:db8::1 for names holding "v6"), and nothing for names ending in ".invalid".
struct Scripted_tools {
  std::function<std::string(const std::string& command, int& exit_status)> answer;

  // The wrapper (and the sub-wrappers it hands its hooks to) must not outlive this object.
  void install(Wrapper& wrapper);

 private:
  std::string last_command;
};

// The deterministic host look-up that `Scripted_tools` installs.
IP::Address scripted_lookup(const std::string& host, resolution_strategy_t strategy);

}  // namespace Network_tools::fuzz

#endif  // NETWORK_TOOLS_FUZZ_SUPPORT_HARNESS_H_
