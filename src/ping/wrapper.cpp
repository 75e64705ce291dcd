// Running a ping: the native tool, its failure phrases and the fall-back from in-session TCP.
#include "ping/wrapper.h"

#include <iostream>

#include "frame/exception.h"
#include "frame/shell_quote.h"
#include "frame/signals.h"
#include "wrapper/native_tool.h"

namespace Network_tools::Ping {
namespace {

struct fall_back_phrase {
  const char* phrase;
  fall_back_reason_t reason;
};

// Searched in this order; any other text that mentions SACK is an unknown SACK problem.
constexpr fall_back_phrase fall_back_phrases[] = {
    {"TCP SACK not permitted from destination", tcp_sack_not_permitted},
    {"Malformed SACK option", malformed_sack_option},
    {"Unexpected overlap of SACK intervals", unexpected_overlap_of_sack_intervals},
    {"Cannot complete initial TCP handshake", cannot_complete_initial_tcp_handshake},
    {"Missing SACK options", missing_sack_option},
    {"SACK", unknown_sack_problem},
};

bool contains(const std::string& text, const char* phrase) {
  return text.find(phrase) != std::string::npos;
}

}  // namespace

std::string fall_back_reason_key(fall_back_reason_t reason) {
  switch (reason) {
    case tcp_sack_not_permitted:
      return "fall-back-reason.tcp-sack-not-permitted";
    case malformed_sack_option:
      return "fall-back-reason.malformed-sack-option";
    case unexpected_overlap_of_sack_intervals:
      return "fall-back-reason.unexpected-overlap-of-sack-intervals";
    case cannot_complete_initial_tcp_handshake:
      return "fall-back-reason.cannot-complete-initial-tcp-handshake";
    case missing_sack_option:
      return "fall-back-reason.missing-sack-option";
    default:
      return "fall-back-reason.unknown";
  }
}

Wrapper::Wrapper(Logger& logger, const Parameters& parameters)
    : Network_tools::Wrapper(logger), parameters_(parameters) {}

void Wrapper::throw_exception(err_t code, const std::string& message) {
  switch (code) {
    case err_t::destination_unreachable:
    case err_t::address_failure:
    case err_t::network_unreachable:
    case err_t::destination_unrecognized:
    case err_t::sack_issue:
      test_result_.add_other_data("common.results.error-details", message, 0, 0);
      break;
    default:
      break;
  }
  Network_tools::Wrapper::throw_exception(static_cast<int>(code), err_to_string(code), message,
                                          parameters_.JSON_output, 0, 0);
}

void Wrapper::throw_fatal_error(err_t code, const std::string& message) {
  std::cerr << "Fatal error: " << message << " (" << err_to_string(code) << ")" << std::endl;
  exit_process(1);
}

void Wrapper::fail_fatally(err_t code, const std::string& message) const {
  if (failures_contained_) {
    throw exception(message + " (" + err_to_string(code) + ")", static_cast<int>(code), "");
  }
  throw_fatal_error(code, message);
}

void Wrapper::fail_internally(const std::string& message) const {
  if (failures_contained_) {
    const err_t code = err_t::internal_error;
    throw exception(message + " (" + err_to_string(code) + ")", static_cast<int>(code), "");
  }
  Network_tools::Wrapper::throw_internal_error(message);
}

std::string Wrapper::version_message() const {
  std::string text = std::string("Ping wrapper ") + version + " for Linux\nQV_traceroute version: ";
  const std::string executable = parameters_.get_native_tool_executable();
  if (!native_tool_problem(executable).empty()) return text + "N/A\n";
  const std::string command =
      shell_quote(executable) +
      " --version 2>&1 | grep version | awk -F \" version \" '{print $2}' | awk '{print $1}'";
  int exit_status = 0;
  return text +
         run_native_command(command, command_launcher_, command_reader_, logger_, exit_status);
}

std::string Wrapper::launch(int& exit_status) {
  const std::string command = parameters_.get_cmd_line();
  logger_.write(LEVEL_INFO, "NATIVE INPUT",
                command + " (JSON output: " + (parameters_.JSON_output ? "yes" : "no") + ")");

  if (const std::string problem = native_tool_problem(parameters_.get_native_tool_executable());
      !problem.empty()) {
    fail_fatally(err_t::missing_native_tools, problem);
  }
  // A stream that could not be started reads as a tool that printed nothing and failed.
  exit_status = -1;
  std::string output =
      run_native_command(command, command_launcher_, command_reader_, logger_, exit_status);
  logger_.write(LEVEL_INFO, "NATIVE OUTPUT", output);
  return output;
}

std::string Wrapper::run() {
  clock_gettime(CLOCK_REALTIME, &start_time_);
  const std::string executable = parameters_.get_native_tool_executable();
  std::string output;
  while (true) {
    const bool fall_back_allowed =
        parameters_.get_protocol() == protocol_in_session_TCP && parameters_.in_session_fall_back;
    int exit_status = 0;
    output = launch(exit_status);
    if (exit_status == 0) break;

    if (contains(output, "You do not have enough privileges")) {
      fail_fatally(err_t::missing_privileges,
                   "Missing privileges. Please check capabilities of " + executable);
    }
    if (contains(output, "Permission denied")) {
      fail_fatally(err_t::missing_privileges,
                   "Missing privileges. Please check permissions of " + executable);
    }
    if (contains(output, "Name or service not known")) {
      throw_exception(err_t::resolution_failed, "Name or service not known");
    }
    if (contains(output, "Address family for hostname not supported") ||
        contains(output, "Address family not supported by protocol")) {
      throw_exception(err_t::address_failure, "Address family not supported");
    }
    if (const std::size_t connect = output.find("connect: "); connect != std::string::npos) {
      const std::size_t end = output.find('\n', connect);
      throw_exception(err_t::network_unreachable,
                      output.substr(connect, end == std::string::npos ? end : end - connect));
    }
    fall_back_reason_t reason = no_fall_back;
    for (const fall_back_phrase& entry : fall_back_phrases) {
      if (contains(output, entry.phrase)) {
        reason = entry.reason;
        break;
      }
    }
    if (reason == no_fall_back) {
      fail_internally("Native tool returned " + std::to_string(exit_status));
    }
    fall_back_reason_ = reason;
    if (!fall_back_allowed) break;
    // Only in-session TCP falls back, and TCP SYN never does: this loop runs at most twice.
    parameters_.set_protocol(protocol_TCP);
    logger_.write(LEVEL_INFO, "INPUT CHANGE",
                  "Fall-back to TCP because: " + fall_back_reason_key(reason));
  }

  if (!parameters_.JSON_output) return pingify(output);
  output_to_JSON(output);
  return test_result_.to_string();
}

}  // namespace Network_tools::Ping
