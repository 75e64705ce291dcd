// A small tool built on the wrapper base, for testing the base's input handling.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_SAMPLE_WRAPPER_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_SAMPLE_WRAPPER_H_

#include <functional>
#include <stdexcept>
#include <string>

#include "frame/exception.h"
#include "wrapper/json_access.h"
#include "wrapper/parameters.h"
#include "wrapper/wrapper.h"

namespace Network_tools::testing_support {

struct Sample_parameters : Parameters {
  Sample_parameters() : Parameters("/opt/sample/bin/sample_tool", "") {}
  std::string get_cmd_line() const override { return get_native_tool_executable(); }
};

// Capabilities "sample.flag" (Bool) and "sample.timeout" (Int, 5 to 300), for which the settings
// "Flag" and "Timeout" stand in; the setting "Broken" fails. `on_run` scripts how a run ends.
class Sample_wrapper : public Wrapper {
 public:
  explicit Sample_wrapper(Logger& logger) : Wrapper(logger) {}
  Sample_wrapper(Logger& logger, std::streambuf* input) : Wrapper(logger) { handle_stdin(input); }

  void output_to_JSON(const std::string&) override {}
  std::string help_message() const override { return ""; }
  std::string version_message() const override { return ""; }
  void handle_option(const JSON_member& member) override {
    const std::string key = member.name.GetString();
    try {
      if (key == "sample.flag") flag = GetBool(member.value);
      if (key == "sample.timeout") parameters.set_timeout(GetInt(member.value), 5, 300);
    } catch (const std::invalid_argument&) {
      throw_exception(1007, "sample.error.wrong-argument-value", "Bad " + key, true, 0, -1);
    }
  }
  void handle_setting(const JSON_member& member) override {
    const std::string name = member.name.GetString();
    if (name == "Flag") flag = GetBool(member.value);
    if (name == "Timeout") parameters.set_timeout(GetInt(member.value), 5, 300);
    if (name == "Broken") throw exception("broken setting", 9, "");
  }
  void add_min_options() override {
    test_result_.add_other_data("sample.results.flag", flag, 0, -1);
  }
  std::string get_capability_related_to_setting(const std::string& setting) const override {
    return setting == "Flag" ? "sample.flag" : setting == "Timeout" ? "sample.timeout" : "";
  }
  void input_sanity_check() override {}
  std::string run() override { return on_run ? on_run(*this) : test_result_.to_string(); }

  TestResult& result() { return test_result_; }

  Sample_parameters parameters;
  bool flag = false;
  // What `run` does instead of returning the result document.
  std::function<std::string(Sample_wrapper&)> on_run;
};

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_SAMPLE_WRAPPER_H_
