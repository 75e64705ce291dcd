// The Dig wrapper: one DNS query through the dig build, with retries, failure classification
// and the parsing of dig's text into the result document.
#ifndef NETWORK_TOOLS_DIG_WRAPPER_H_
#define NETWORK_TOOLS_DIG_WRAPPER_H_

#include <cstdint>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "delv/wrapper.h"
#include "dig/errors.h"
#include "dig/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools::Dig {

// Runs one query per `run`. The DNS experience engine keeps one wrapper for all its queries;
// before each it calls `set_parameters`, re-initialises `test_result()`, calls
// `add_min_options`, sets the elapsed time and the record counter to 0, runs, and reads the
// result document. As a tool of its own (`dig_wrapper`) it is built from the command line or
// from the JSON input document.
class Wrapper : public Network_tools::Wrapper {
 public:
  static constexpr const char* version = "1.16.7.2";
  // The query's time in microseconds, written beside each "qv-dns.results.duration.ms": dig
  // measures to the microsecond, which whole milliseconds hide on a nearby server.
  static constexpr const char* duration_us_key = "qv-dns.results.duration.us";

  // For a query described by `parameters`; writes the minimum result entries.
  Wrapper(Logger& logger, const Parameters& parameters);
  // From the command line of `dig_wrapper` (see `help_message`). Bad options end the process
  // with a fatal error; -h and -V throw the help or version text as a code-0 exception.
  Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_folder);
  // From the JSON input document on `input` ("Capabilities" and "Settings").
  Wrapper(Logger& logger, const std::string& tool_folder, std::streambuf* input);
  ~Wrapper() override;

  // Replaces the query; the result document, elapsed time and counters stay as they are.
  virtual void set_parameters(const Parameters& parameters);
  const Parameters& get_parameters() const { return parameters_; }

  // Runs the query: tries dig up to `tries` times while the time budget (the timeout) allows,
  // retrying only after time-outs and rotating over the machine's name servers when no server
  // is given; classifies failures; optionally validates with delv and asks for hostname.bind.
  // Returns the result document (JSON output on) or dig's raw text.
  std::string run() override;

  // Reads dig's text into the result document.
  void output_to_JSON(const std::string& native_output) override;

  std::string help_message() const override;
  // "Dig wrapper 1.16.7.2 for Linux\nQV_dig version: ...\nQV_delv version: ...\n".
  std::string version_message() const override;
  void handle_option(const JSON_member& member) override;
  void handle_setting(const JSON_member& member) override;
  void add_min_options() override;
  std::string get_capability_related_to_setting(const std::string& setting) const override;
  // Requires a query type (except for a bare hostname.bind request), a host, and a timeout
  // longer than one try; resolves a server or DNSSEC server given by name; switches to a
  // reverse lookup for type ptr on an address.
  void input_sanity_check() override;

  // Fails the query: records the error key (and, for time-outs, the status) and throws.
  [[noreturn]] void throw_exception(err_t code, const std::string& message);
  // Fails the query as `throw_exception` does, with `details` as "common.results.error-details".
  [[noreturn]] void throw_exception(err_t code, const std::string& message,
                                    const std::string& details);
  // Prints "Fatal error: " + message + " (" + key of `code` + ")" and ends the process.
  [[noreturn]] static void throw_fatal_error(err_t code, const std::string& message);

  // On another tool's worker thread, a query that cannot go on must not end the process from
  // there. With this set, what would end it (a missing or forbidden dig, a text or an exit
  // status that cannot be interpreted) throws `process_end` with the same text instead; the
  // thread that may end the process does so with `end_process`.
  void set_process_ends_deferred(bool deferred) { process_ends_deferred_ = deferred; }

  TestResult& test_result() { return test_result_; }

  // Milliseconds spent in timed-out tries; `run` adds to it and never resets it.
  std::uint32_t get_elapsed_time() const { return elapsed_time_; }
  void set_elapsed_time(std::uint32_t milliseconds) { elapsed_time_ = milliseconds; }
  // Index of the next record entry of the result document.
  std::uint32_t get_record_counter() const { return record_counter_; }
  void set_record_counter(std::uint32_t counter) { record_counter_ = counter; }
  // When on, `run` also asks the server for its hostname.bind identity.
  bool get_hostname_bind() const { return hostname_bind_; }
  void set_hostname_bind(bool on) { hostname_bind_ = on; }
  // The test URL reported as "qv-dns.results.url" (the host when empty).
  void set_URL(const std::string& URL) { URL_ = URL; }
  // Duration of the last DNSSEC validation, in milliseconds.
  std::int64_t get_DNSSEC_duration() const { return DNSSEC_duration_; }

 private:
  // The ends of a query that cannot go on: the process's, or a `process_end` when deferred.
  [[noreturn]] void end_fatally(err_t code, const std::string& message) const;
  [[noreturn]] void end_internally(const std::string& message) const;
  // The name server for messages: the one asked, or "default" for the machine's own.
  std::string server_in_messages() const {
    return parameters_.server.empty() ? "default" : parameters_.server;
  }
  // Logs the "NATIVE INPUT" line of the current command line.
  void log_native_input();
  // Throws the failure that `output` of a failed try shows; returns only for a time-out.
  void classify_failure(const std::string& output, int exit_status);
  // Validates the answer with delv and returns delv's text.
  std::string validate_DNSSEC(const std::vector<std::string>& machine_servers,
                              std::size_t last_server);
  // Asks the server for hostname.bind; returns the text, or "" when that query failed.
  std::string query_hostname_bind();
  // Writes one record line of an ANSWER, AUTHORITY or ADDITIONAL section.
  void add_record(const std::string& section_key, const std::string& section,
                  const std::string& line);
  // The hostname.bind and DNSSEC results merged into this one after the parsing.
  void merge_hostname_bind();
  void merge_DNSSEC(int measurement_time, std::int64_t measurement_us);
  // Writes "qv-dns.results.duration.us" = `measured_us` plus the elapsed time of timed-out
  // tries.
  void write_microseconds(std::int64_t measured_us, int result, int step);
  // Command-line parsing of the `dig_wrapper` tool.
  void parse_arguments(int argc, char** argv);
  // Fails the capability or setting being applied with `code` when `problem` is not empty.
  void refuse_if(const std::string& problem, err_t code);
  // The sub-wrappers use this wrapper's system hooks.
  void share_hooks(Network_tools::Wrapper& sub_wrapper) const;

  Parameters parameters_;
  bool hostname_bind_ = false;
  std::uint32_t elapsed_time_ = 0;
  std::string URL_;
  std::int64_t DNSSEC_duration_ = 0;
  std::unique_ptr<Delv::Wrapper> DNSSEC_wrapper_;
  std::unique_ptr<Wrapper> hostname_bind_wrapper_;
  std::uint32_t record_counter_ = 0;
  bool process_ends_deferred_ = false;
};

}  // namespace Network_tools::Dig

#endif  // NETWORK_TOOLS_DIG_WRAPPER_H_
