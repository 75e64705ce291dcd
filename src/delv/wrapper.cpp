// The Delv wrapper: running delv and reading its validation result.
#include "delv/wrapper.h"

#include <sstream>

#include "delv/trust_chain.h"
#include "frame/exception.h"
#include "wrapper/native_tool.h"

namespace Network_tools::Delv {

Wrapper::Wrapper(Logger& logger, const Parameters& parameters)
    : Network_tools::Wrapper(logger), parameters_(parameters) {}

void Wrapper::set_parameters(const Parameters& parameters) {
  parameters_ = parameters;
  test_result_.initialize_JSON_object();
}

void Wrapper::throw_fatal_error(err_t code, const std::string& message) {
  Network_tools::Wrapper::throw_fatal_error(message + " (" + err_to_string(code) + ")");
}

std::string Wrapper::run() {
  const std::string command = parameters_.get_cmd_line();
  logger_.write(LEVEL_NOTICE, "NATIVE INPUT",
                command + " (JSON output: " + (parameters_.JSON_output ? "yes" : "no") + ")");
  const std::string executable = parameters_.get_native_tool_executable();
  if (const std::string problem = native_tool_problem(executable); !problem.empty()) {
    throw_fatal_error(err_t::missing_native_tools, problem);
  }

  timespec start{};
  clock_gettime(CLOCK_REALTIME, &start);
  int exit_status = 0;
  std::string output =
      run_native_command(command, command_launcher_, command_reader_, logger_, exit_status);
  timespec end{};
  clock_gettime(CLOCK_REALTIME, &end);
  const int duration = compute_duration(start, end);
  logger_.write(LEVEL_INFO, "NATIVE OUTPUT", output);

  if (exit_status != 0) {
    if (output.find("Permission denied") != std::string::npos) {
      throw_fatal_error(err_t::missing_privileges,
                        "Missing privileges. Please check permissions of " + executable);
    }
    if (output.find("Transfer not supported") != std::string::npos) {
      throw_fatal_error(err_t::transfer_not_supported, "Transfer not supported");
    }
    throw_internal_error("Original tool returned " + std::to_string(exit_status));
  }
  if (!parameters_.JSON_output) return output;
  test_result_.add_other_data("qv-delv.test.duration.ms", duration, 0, 0);
  output_to_JSON(output);
  return test_result_.to_string();
}

void Wrapper::output_to_JSON(const std::string& native_output) {
  err_t code = err_t::none;
  std::string details;
  Trust_chain chain;

  std::istringstream lines(native_output);
  std::string line;
  while (std::getline(lines, line)) {
    chain.add_line(line);
    if (line == "; fully validated") continue;
    if (line == "; unsigned answer" || line == "; negative response, unsigned answer") {
      code = err_t::answer_unsigned;
      details.clear();
      continue;
    }
    const std::string failed = ";; resolution failed:";
    if (const std::size_t position = line.find(failed); position != std::string::npos) {
      code = err_t::resolution_failure;
      const std::size_t start = position + failed.size() + 1;
      details = start < line.size() ? line.substr(start) : "";
      continue;
    }
    if (line.find(";; time:") != std::string::npos) {
      std::istringstream words(line);
      std::string skipped;
      int milliseconds = 0;
      if (words >> skipped >> skipped >> milliseconds) {
        test_result_.add_other_data("qv-delv.test.duration.ms", milliseconds, 0, 0);
      }
    }
  }
  chain.finish();

  test_result_.add_other_data("qv-delv.test.host", parameters_.host, 0, 0);
  test_result_.add_metric_data("qv-delv.test.trace", native_output, 0, 0, 0);
  test_result_.add_metric_data("qv-delv.test.trust-chain", chain.text(), 0, 0, 0);
  if (code != err_t::none) {
    test_result_.add_other_data("common.results.error-code", err_to_string(code), 0, 0);
    if (!details.empty()) {
      test_result_.add_other_data("common.results.error-details", details, 0, 0);
    }
  }
}

std::string Wrapper::version_message() const {
  return std::string("Delv wrapper ") + version + " for Linux\nQV_delv version: " +
         bind_tool_version(parameters_.get_native_tool_executable(), command_launcher_,
                           command_reader_, logger_);
}

std::string Wrapper::help_message() const {
  return "The Delv wrapper validates one DNS answer with DNSSEC; it is started by the Dig "
         "wrapper's DNSSEC option (-D).\n";
}

void Wrapper::handle_option(const JSON_member& member) {
  logger_.write(LEVEL_WARNING, "WARNING",
                "Unrecognized option: " +
                    std::string(member.name.GetString(), member.name.GetStringLength()));
}

void Wrapper::handle_setting(const JSON_member&) {}

}  // namespace Network_tools::Delv
