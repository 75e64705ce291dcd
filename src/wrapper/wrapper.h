// The base of every tool: input reading, failure reporting and the replaceable system hooks.
#ifndef NETWORK_TOOLS_WRAPPER_WRAPPER_H_
#define NETWORK_TOOLS_WRAPPER_WRAPPER_H_

#include <rapidjson/document.h>
#include <time.h>

#include <cstddef>
#include <cstdio>
#include <functional>
#include <streambuf>
#include <string>
#include <unordered_map>
#include <vector>

#include "frame/exception.h"
#include "frame/ip.h"
#include "frame/logger.h"
#include "frame/pipes.h"
#include "frame/system.h"
#include "wrapper/test_result.h"

namespace Network_tools {

// A tool: built from a JSON test document (or from command-line options), checked with
// `input_sanity_check`, run once with `run`, destroyed. It owns its result document.
//
// The input document is one JSON object on one line:
//   {"Capabilities":{"test.common.url":"qv-dns-exp://example.com", ...},
//    "Settings":{"Timeout":20, ...}}
// Each capability goes to `handle_option` and each setting to `handle_setting`. A capability
// that fails is only a warning as long as a setting stands in for it
// (`get_capability_related_to_setting`).
//
// Tools reach the system only through four hooks, which tests replace: host lookup, command
// launcher, command reader and resolver configuration.
class Wrapper {
 public:
  using JSON_member = rapidjson::Value::Member;
  using host_lookup_t = std::function<IP::Address(const std::string&, resolution_strategy_t)>;
  using command_launcher_t = std::function<FILE*(const std::string&, Pipe_registry&)>;
  using command_reader_t = std::function<std::string(FILE*, int&)>;
  using resolver_configuration_t = std::function<std::vector<std::string>()>;

  // Takes the start time, sets the hooks to the real system helpers and creates the result
  // document with result 0 and its step 0.
  explicit Wrapper(Logger& logger);
  Wrapper(const Wrapper&) = delete;
  Wrapper& operator=(const Wrapper&) = delete;
  virtual ~Wrapper() = default;

  // Turns the native tool's text into metrics of the result document.
  virtual void output_to_JSON(const std::string& native_output) = 0;
  virtual std::string help_message() const = 0;
  virtual std::string version_message() const = 0;
  // Applies one member of "Capabilities"; throws `Network_tools::exception` or
  // `Parameters::exception` when its value is refused.
  virtual void handle_option(const JSON_member& member) = 0;
  // Applies one member of "Settings"; a failure here is not forgiven.
  virtual void handle_setting(const JSON_member& member) = 0;
  // Writes the entries that every result document carries, whatever happened.
  virtual void add_min_options() = 0;
  // The capability key that `setting` stands in for, or "".
  virtual std::string get_capability_related_to_setting(const std::string& setting) const = 0;
  // Checks the parameters as a whole before the run.
  virtual void input_sanity_check() = 0;
  // Runs the test; returns the text to print.
  virtual std::string run() = 0;

  // Prints "Fatal error: " + message on standard error and ends the process with status 1.
  [[noreturn]] static void throw_fatal_error(const std::string& message);
  // The same with "Internal error: ", for native tool behaviour that cannot be interpreted.
  [[noreturn]] static void throw_internal_error(const std::string& message);
  // Ends the process as a deferred `end` says, with the same line as when it was not deferred.
  [[noreturn]] static void end_process(const process_end& end);

  // Fails the test: records "common.results.error-code" = `error_name` at (result, step) and
  // throws `Network_tools::exception`(details + " (" + error_name + ")", code, the result
  // document as JSON when `need_JSON` is set, else "").
  [[noreturn]] void throw_exception(int code, const std::string& error_name,
                                    const std::string& details, bool need_JSON, int result,
                                    int step);

  // The longest input line accepted, in bytes. A test document is a few hundred bytes; the
  // largest is a ping continuation, which carries the stopped run's whole result.
  static constexpr std::size_t max_input_length = std::size_t{16} << 20;

  // Reads the input document, one line, from `input` and applies it (see the class comment).
  // When `input` is the buffer of std::cin, the whole line must arrive within 5 s. Fatal errors
  // end the process (no line in time, a line over `max_input_length`, a document that does not
  // parse); a `Network_tools::exception` from a setting leaves after `add_min_options`.
  void handle_stdin(std::streambuf* input);

  // Applies "Capabilities" from the input line; returns the failed ones with their messages.
  std::unordered_map<std::string, std::string> handle_options(const std::string& line);

  // Applies "Settings" from the input line and forgives the failed capabilities that a
  // present setting stands in for.
  void handle_settings(const std::string& line,
                       std::unordered_map<std::string, std::string>& failed);

  // Splits a test URL: "qv-dns-exp://[2001:db8::1]:5353/x" gives "qv-dns-exp", "2001:db8::1"
  // and 5353; without a port, `port` is 0. Throws `Network_tools::exception` (code 0) "Missing
  // ://", "Port is not integer" or "Port is not totally integer".
  static void retrieve_details_from_url(const std::string& url, std::string& scheme,
                                        std::string& host, int& port);

  // The machine's configured name servers that are IPv4 literals, and IPv6 literals when
  // `use_IPv6` is set, in configuration order.
  std::vector<std::string> load_nameservers(bool use_IPv6) const;

  const TestResult& get_test_result() const { return test_result_; }
  const timespec& get_start_time() const { return start_time_; }

  void set_host_lookup(host_lookup_t hook) { host_lookup_ = std::move(hook); }
  void set_command_launcher(command_launcher_t hook) { command_launcher_ = std::move(hook); }
  void set_command_reader(command_reader_t hook) { command_reader_ = std::move(hook); }
  void set_resolver_configuration(resolver_configuration_t hook) {
    resolver_configuration_ = std::move(hook);
  }

 protected:
  Logger& logger_;
  timespec start_time_{};
  // Both stay alive with the wrapper: handlers may keep references into them.
  rapidjson::Document options_document_;
  rapidjson::Document settings_document_;
  TestResult test_result_;

  host_lookup_t host_lookup_;
  command_launcher_t command_launcher_;
  command_reader_t command_reader_;
  resolver_configuration_t resolver_configuration_;

 private:
  // Parses `line` into `document` and returns its object `section`; fatal errors otherwise.
  static const rapidjson::Value& parse_section(rapidjson::Document& document,
                                               const std::string& line, const char* section);
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_WRAPPER_WRAPPER_H_
