// The DNS experience tool: its input, its failures, and the state its resolution driver keeps.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_

#include <cstdint>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "dig/wrapper.h"
#include "dns_experience/errors.h"
#include "dns_experience/parameters.h"
#include "dns_experience/results/results.h"
#include "frame/logger.h"
#include "wrapper/wrapper.h"

namespace Network_tools::DNS_experience {

// Measures how long it takes to resolve one host name level by level. Built from the JSON test
// document (no command-line arguments) or from the command line:
//   dns_experience -j -t aaaa www.lab.test
//   {"Capabilities":{"test.common.url":"qv-dns-exp://www.lab.test"},"Settings":{"Tries":2}}
// Bad input ends the process with "Fatal error: MESSAGE (KEY)" on standard error and status 1;
// -h and -V throw the help or version text as a code-0 `Network_tools::exception`.
class Wrapper : public Network_tools::Wrapper {
 public:
  // From the JSON document on `input`; JSON output is on.
  Wrapper(Logger& logger, const std::string& tool_directory, std::streambuf* input);
  // From the command line: the options of `help_message` and one host operand.
  Wrapper(int argc, char** argv, Logger& logger, const std::string& tool_directory);
  ~Wrapper() override;

  // The engine builds its output in `run`: nothing to do here.
  void output_to_JSON(const std::string& native_output) override;
  std::string help_message() const override;
  // "DnsExperience wrapper 1.16.7.2 for Linux\nQV_dig version: ...\nQV_delv version: ...\n"
  // "QV_traceroute version: ...\n", read from the native tools.
  std::string version_message() const override;
  void handle_option(const JSON_member& member) override;
  void handle_setting(const JSON_member& member) override;
  // The test URL (or the host) and the EDNS client subnet, at the result level.
  void add_min_options() override;
  std::string get_capability_related_to_setting(const std::string& setting) const override;
  // Ends the process when the host or the query type is missing.
  void input_sanity_check() override;
  // Resolves the host and returns the result document, or the raw text without JSON output.
  std::string run() override;

  // Fails the test with `code`: records its key as "common.results.error-code" and throws
  // `Network_tools::exception` carrying the result document when JSON output is on.
  [[noreturn]] void throw_exception(err_t code, const std::string& message);
  // Prints "Fatal error: " + message + " (" + key of `code` + ")" and ends with status 1.
  [[noreturn]] static void throw_fatal_error(err_t code, const std::string& message);

  // The tag of the driver's log lines ("DNS-E RUN" or "DNS-T RUN").
  const std::string& get_log_tag_prefix() const { return parameters_.run_log_tag; }
  // True when the current level writes raw text: no JSON output, and a "ptr" query or a level
  // that is reported to the user.
  bool need_raw_output() const;
  // "## Level 3", or "## Level 1 (alias resolution 2)" while resolving the second alias.
  std::string raw_output_title() const;

  const Parameters& get_parameters() const { return parameters_; }
  Results& get_results() { return results_; }
  const std::string& get_url() const { return url_; }
  TestResult& test_result() { return test_result_; }

 protected:
  // Command-line parsing; fatal errors for bad options.
  void handle_input(int argc, char** argv);
  // Applies the test URL of the document: host, test type and default transport.
  void apply_URL(const std::string& key, const std::string& URL);

  Results results_;
  Parameters parameters_;
  // The test URL as given; empty when none.
  std::string url_;

  // The resolution driver's state. One dig wrapper serves every query of the run.
  std::unique_ptr<Dig::Wrapper> dig_wrapper_;
  std::ostringstream raw_output_;
  // Queries started so far in this run.
  std::int32_t query_count_ = 0;
  // Level of the current pass within the current traversal; 0 before the first pass.
  std::int32_t level_ = 0;
  // The dig parameters in use are those of the root and top-level-domain levels.
  bool root_parameters_active_ = false;
};

// Splits "a.test, b.test,,c.test " at the commas into trimmed, non-empty names.
std::vector<std::string> parse_tld_host_ignore_list(const std::string& text);

// "yes" or "no".
std::string ToYesOrNoString(bool value);

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_WRAPPER_H_
