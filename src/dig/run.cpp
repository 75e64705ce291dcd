// The Dig wrapper's run: the try loop with its time budget, the failure classification, and the
// DNSSEC and hostname.bind steps.
#include <algorithm>

#include "dig/wrapper.h"
#include "frame/exception.h"
#include "frame/ip.h"
#include "wrapper/native_tool.h"

namespace Network_tools::Dig {
namespace {

// Resolvers for the DNSSEC validation of a machine that has none configured.
constexpr const char* fallback_DNSSEC_server_IPv4 = "9.9.9.9";
constexpr const char* fallback_DNSSEC_server_IPv6 = "2620:fe::fe";

bool contains(const std::string& text, const char* phrase) {
  return text.find(phrase) != std::string::npos;
}

bool timed_out(const std::string& output) {
  return contains(output, "connection timed out") || contains(output, "failed: timed out");
}

}  // namespace

void Wrapper::log_native_input() {
  logger_.write(LEVEL_NOTICE, "NATIVE INPUT",
                parameters_.get_cmd_line() +
                    " (JSON output: " + (parameters_.JSON_output ? "yes" : "no") + ")");
}

std::string Wrapper::run() {
  clock_gettime(CLOCK_REALTIME, &start_time_);
  log_native_input();
  if (const std::string problem = native_tool_problem(parameters_.get_native_tool_executable());
      !problem.empty()) {
    end_fatally(err_t::missing_native_tools, problem);
  }

  std::vector<std::string> machine_servers;
  if (parameters_.server.empty()) machine_servers = load_nameservers(parameters_.use_IPv6);

  const std::uint32_t budget = std::uint32_t{parameters_.get_timeout()} * 1000;
  const std::uint32_t retry_timeout = parameters_.get_retry_timeout();
  clock_gettime(CLOCK_REALTIME, &start_time_);

  std::string output;
  std::size_t last_server = 0;
  if (budget <= retry_timeout + elapsed_time_) throw_exception(err_t::timeout, "Timedout");
  for (unsigned attempt = 0;; ++attempt) {
    if (!machine_servers.empty()) {
      last_server = attempt % machine_servers.size();
      parameters_.server = machine_servers[last_server];
      test_result_.add_other_data("qv-dns.results.server.name", parameters_.server, 0, 0);
      test_result_.add_other_data("qv-dns.results.server.address", parameters_.server, 0, 0);
    }
    if (attempt > 0) log_native_input();

    int exit_status = 0;
    output = run_native_command(parameters_.get_cmd_line(), command_launcher_, command_reader_,
                                logger_, exit_status);
    logger_.write(LEVEL_INFO, "NATIVE OUTPUT", output);
    if (exit_status == 0) {
      if (output.empty()) end_internally("Original tool returned nothing");
      break;
    }
    classify_failure(output, exit_status);

    // A time-out: try again while tries and the budget last.
    elapsed_time_ += retry_timeout;
    if (attempt + 1 >= parameters_.get_tries()) break;
    if (elapsed_time_ + retry_timeout >= budget) throw_exception(err_t::timeout, "Timedout");
  }

  std::string DNSSEC_text;
  if (parameters_.DNSSEC && contains(output, "status: NOERROR")) {
    DNSSEC_text = validate_DNSSEC(machine_servers, last_server);
  }
  std::string hostname_bind_text;
  if (hostname_bind_) hostname_bind_text = query_hostname_bind();

  if (!timed_out(output)) {
    output_to_JSON(output);
    if (parameters_.JSON_output) return test_result_.to_string();
    if (!hostname_bind_text.empty()) output += "Hostname.bind results:\n" + hostname_bind_text;
    if (!DNSSEC_text.empty()) output += "Delv results:\n" + DNSSEC_text;
    return output;
  }
  for (const int step : {0, -1}) {
    test_result_.add_other_data("qv-dns.results.duration.ms", elapsed_time_, 0, step);
    write_microseconds(0, 0, step);
  }
  throw_exception(err_t::timeout, "Measurement timed out");
}

void Wrapper::classify_failure(const std::string& output, int exit_status) {
  const std::string unreachable = "Cannot reach name server: " + server_in_messages();
  if (contains(output, "Permission denied")) {
    end_fatally(err_t::missing_privileges, "Missing privileges. Please check permissions of " +
                                               parameters_.get_native_tool_executable());
  }
  if (contains(output, "network unreachable")) {
    throw_exception(err_t::nameserver_unreachable, unreachable, "Network unreachable");
  }
  if (contains(output, "address family not supported")) {
    throw_exception(err_t::nameserver_unreachable, unreachable, "Address family not supported");
  }
  if (contains(output, "connection refused")) {
    throw_exception(err_t::nameserver_unreachable, unreachable, "Connection refused");
  }
  if (contains(output, "connection reset")) {
    throw_exception(err_t::nameserver_unreachable,
                    "Cannot reach name server because of connection reset: " + server_in_messages(),
                    "Connection reset");
  }
  if (contains(output, "label too long")) {
    throw_exception(err_t::invalid_host, "Host name too long: " + parameters_.host,
                    "Host name too long");
  }
  if (contains(output, "is not a legal")) {
    throw_exception(err_t::invalid_host, "Host name is not legal: " + parameters_.host,
                    "Host name is not legal");
  }
  if (timed_out(output)) return;

  std::string message = "Original tool returned " + std::to_string(exit_status);
  if (const std::size_t position = output.find("dig: "); position != std::string::npos) {
    const std::size_t start = position + 5;
    message += ": " + output.substr(start, output.find('\n', start) - start);
  }
  end_internally(message);
}

std::string Wrapper::validate_DNSSEC(const std::vector<std::string>& machine_servers,
                                     std::size_t last_server) {
  // Without a server of its own delv asks the machine's first resolver; after a rotation the
  // resolver that answered is named, and a machine without any gets the fallback.
  if (parameters_.DNSSEC_server.empty()) {
    if (last_server != 0) {
      parameters_.DNSSEC_server = machine_servers[last_server];
    } else if (machine_servers.empty() && load_nameservers(parameters_.use_IPv6).empty()) {
      parameters_.DNSSEC_server =
          parameters_.use_IPv6 ? fallback_DNSSEC_server_IPv6 : fallback_DNSSEC_server_IPv4;
      logger_.write(LEVEL_NOTICE, "INPUT CHANGE",
                    "DNSSEC Server set to " + parameters_.DNSSEC_server);
    }
  }

  // A kept validation wrapper gets this query's parameters: reusing the first query's would
  // validate a stale name against a stale server.
  const Delv::Parameters validation = parameters_.to_delv();
  if (DNSSEC_wrapper_) {
    DNSSEC_wrapper_->set_parameters(validation);
  } else {
    DNSSEC_wrapper_ = std::make_unique<Delv::Wrapper>(logger_, validation);
    share_hooks(*DNSSEC_wrapper_);
  }

  timespec start{};
  clock_gettime(CLOCK_REALTIME, &start);
  std::string text;
  try {
    text = DNSSEC_wrapper_->run();
  } catch (const exception& error) {
    const std::string key =
        DNSSEC_wrapper_->test_result().retrieve_error("common.results.error-code", 0, 0);
    const std::string executable = validation.get_native_tool_executable();
    if (key == Delv::err_to_string(Delv::err_t::missing_privileges)) {
      end_fatally(err_t::missing_privileges,
                  "Missing privileges. Please check permissions of " + executable);
    }
    if (key == Delv::err_to_string(Delv::err_t::missing_native_tools)) {
      end_fatally(err_t::missing_native_tools, "Missing tool: " + executable);
    }
    end_internally(error.what());
  }
  timespec end{};
  clock_gettime(CLOCK_REALTIME, &end);
  DNSSEC_duration_ = compute_duration(start, end);
  return text;
}

std::string Wrapper::query_hostname_bind() {
  Parameters identity = parameters_;
  identity.query_mode = query_mode_t::hostname_bind;
  identity.set_query_type("");
  // The identity query validates nothing: there is no name to validate.
  identity.DNSSEC = false;
  if (hostname_bind_wrapper_) {
    // Reused for this query's server, with a fresh result: the first query's server or result
    // would be stale.
    hostname_bind_wrapper_->set_parameters(identity);
    hostname_bind_wrapper_->test_result_.initialize_JSON_object();
    hostname_bind_wrapper_->add_min_options();
    hostname_bind_wrapper_->elapsed_time_ = 0;
    hostname_bind_wrapper_->record_counter_ = 0;
  } else {
    hostname_bind_wrapper_ = std::make_unique<Wrapper>(logger_, identity);
    share_hooks(*hostname_bind_wrapper_);
    hostname_bind_wrapper_->set_process_ends_deferred(process_ends_deferred_);
  }
  try {
    return hostname_bind_wrapper_->run();
  } catch (const exception& error) {
    logger_.write(LEVEL_INFO, "", std::string("Hostname BIND query failed: ") + error.what());
    return "";
  }
}

}  // namespace Network_tools::Dig
