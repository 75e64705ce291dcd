// The Delv wrapper: one DNSSEC validation through the delv build, turned into a result.
#ifndef NETWORK_TOOLS_DELV_WRAPPER_H_
#define NETWORK_TOOLS_DELV_WRAPPER_H_

#include <string>

#include "delv/errors.h"
#include "delv/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools::Delv {

// Validates one answer with delv (tracing on) and reports, at result 0, step 0: the host, the
// duration ("qv-delv.test.duration.ms"), the whole trace and a readable trust chain (metric 0:
// "qv-delv.test.trace", "qv-delv.test.trust-chain"), and for unsigned or failed validations
// "common.results.error-code" with its details. The Dig wrapper runs it for its DNSSEC option.
class Wrapper : public Network_tools::Wrapper {
 public:
  static constexpr const char* version = "1.16.7.2";

  Wrapper(Logger& logger, const Parameters& parameters);

  // Replaces the parameters and starts a fresh result document, for the next validation.
  void set_parameters(const Parameters& parameters);
  const Parameters& get_parameters() const { return parameters_; }

  // Runs delv and returns its raw text, or the result document when JSON output is on. A
  // missing executable (1010), missing privileges (1011) and an unsupported transfer (1014)
  // end the process; any other failing exit status is an internal error.
  std::string run() override;

  // Reads delv's text into the result document (see the class comment).
  void output_to_JSON(const std::string& native_output) override;

  // "Delv wrapper 1.16.7.2 for Linux\nQV_delv version: 9.18...\n".
  std::string version_message() const override;
  std::string help_message() const override;

  // Prints "Fatal error: " + message + " (" + key of `code` + ")" and ends the process.
  [[noreturn]] static void throw_fatal_error(err_t code, const std::string& message);

  // The validation takes no input of its own: it is built from the Dig wrapper's parameters.
  void handle_option(const JSON_member& member) override;
  void handle_setting(const JSON_member& member) override;
  void add_min_options() override {}
  std::string get_capability_related_to_setting(const std::string&) const override { return ""; }
  void input_sanity_check() override {}

  TestResult& test_result() { return test_result_; }

 private:
  Parameters parameters_;
};

}  // namespace Network_tools::Delv

#endif  // NETWORK_TOOLS_DELV_WRAPPER_H_
