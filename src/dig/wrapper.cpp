// The Dig wrapper: construction, parameter hand-over, minimum result entries and failures.
#include "dig/wrapper.h"

#include "frame/exception.h"
#include "frame/ip.h"
#include "frame/system.h"
#include "wrapper/native_tool.h"

namespace Network_tools::Dig {

Wrapper::Wrapper(Logger& logger, const Parameters& parameters)
    : Network_tools::Wrapper(logger), parameters_(parameters) {
  add_min_options();
}

Wrapper::~Wrapper() = default;

void Wrapper::set_parameters(const Parameters& parameters) {
  parameters_ = parameters;
}

void Wrapper::add_min_options() {
  const Parameters& p = parameters_;
  if (!URL_.empty()) {
    test_result_.add_other_data("qv-dns.results.url", URL_, 0, -1);
  } else if (!p.host.empty()) {
    test_result_.add_other_data("qv-dns.results.url", p.host, 0, -1);
  }
  if (!p.server.empty()) {
    test_result_.add_other_data("qv-dns.results.server.name", p.server, 0, 0);
    if (IP::is_address(p.server)) {
      test_result_.add_other_data("qv-dns.results.server.address", p.server, 0, 0);
    }
  }
  test_result_.add_other_data("qv-dns.results.server.port",
                              p.get_server_port() == 0 ? 53 : int{p.get_server_port()}, 0, 0);
  test_result_.add_other_data("qv-dns.results.protocol",
                              p.get_protocol() == protocol_TCP ? "TCP" : "UDP", 0, 0);
  test_result_.add_other_data("qv-dns.results.question.class", "IN", 0, 0);
  test_result_.add_other_data("qv-dns.results.question.type", to_upper_case(p.get_query_type()), 0,
                              0);
  test_result_.add_other_data("qv-dns.results.question.name", p.host, 0, 0);
}

std::string Wrapper::get_capability_related_to_setting(const std::string& setting) const {
  if (setting == "DisableRecursion") return "qv-dns.test.disable-recursion";
  if (setting == "Dnssec") return "qv-dns.test.enable-dnssec";
  if (setting == "Nsid") return "qv-dns.test.nsid";
  if (setting == "RetryCount") return "qv-dns.test.query-retry-count";
  if (setting == "RetryTimeout") return "qv-dns.test.query-retry-timeout";
  if (setting == "Server") return "qv-dns.test.server";
  if (setting == "EdnsSubnet") return "qv-dns.test.subnet";
  if (setting == "Timeout") return "common.test.max-step-time";
  return "";
}

void Wrapper::throw_exception(err_t code, const std::string& message) {
  if (code == err_t::timeout) {
    test_result_.add_other_data("qv-dns.results.status", err_to_string(err_t::timeout), 0, 0);
  }
  Network_tools::Wrapper::throw_exception(static_cast<int>(code), err_to_string(code), message,
                                          parameters_.JSON_output, 0, -1);
}

void Wrapper::throw_exception(err_t code, const std::string& message, const std::string& details) {
  test_result_.add_other_data("common.results.error-details", details, 0, -1);
  throw_exception(code, message);
}

void Wrapper::throw_fatal_error(err_t code, const std::string& message) {
  Network_tools::Wrapper::throw_fatal_error(message + " (" + err_to_string(code) + ")");
}

void Wrapper::end_fatally(err_t code, const std::string& message) const {
  if (process_ends_deferred_) {
    throw process_end(process_end::kind_t::fatal, message + " (" + err_to_string(code) + ")");
  }
  throw_fatal_error(code, message);
}

void Wrapper::end_internally(const std::string& message) const {
  if (process_ends_deferred_) throw process_end(process_end::kind_t::internal, message);
  throw_internal_error(message);
}

std::string Wrapper::version_message() const {
  return std::string("Dig wrapper ") + version + " for Linux\nQV_dig version: " +
         bind_tool_version(parameters_.get_native_tool_executable(), command_launcher_,
                           command_reader_, logger_) +
         "QV_delv version: " +
         bind_tool_version(parameters_.to_delv().get_native_tool_executable(), command_launcher_,
                           command_reader_, logger_);
}

void Wrapper::share_hooks(Network_tools::Wrapper& sub_wrapper) const {
  sub_wrapper.set_host_lookup(host_lookup_);
  sub_wrapper.set_command_launcher(command_launcher_);
  sub_wrapper.set_command_reader(command_reader_);
  sub_wrapper.set_resolver_configuration(resolver_configuration_);
}

}  // namespace Network_tools::Dig
