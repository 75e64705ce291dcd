// The wrapper base: construction, failure reporting, URL splitting and name-server loading.
#include "wrapper/wrapper.h"

#include <cerrno>
#include <charconv>
#include <iostream>

#include "frame/command.h"
#include "frame/exception.h"
#include "frame/signals.h"

namespace Network_tools {

Wrapper::Wrapper(Logger& logger)
    : logger_(logger),
      test_result_(logger),
      host_lookup_(host_to_IP),
      command_launcher_([](const std::string& command, Pipe_registry& registry) {
        return launch_bash_command(command, registry);
      }),
      command_reader_([](FILE* stream, int& exit_status) {
        return parse_bash_command_output(stream, exit_status);
      }),
      resolver_configuration_([] { return get_machine_nameservers(); }) {
  clock_gettime(CLOCK_REALTIME, &start_time_);
}

void Wrapper::throw_fatal_error(const std::string& message) {
  std::cerr << "Fatal error: " << message << std::endl;
  exit_process(1);
}

void Wrapper::throw_internal_error(const std::string& message) {
  std::cerr << "Internal error: " << message << std::endl;
  exit_process(1);
}

void Wrapper::end_process(const process_end& end) {
  if (end.kind() == process_end::kind_t::fatal) throw_fatal_error(end.what());
  throw_internal_error(end.what());
}

void Wrapper::throw_exception(int code, const std::string& error_name, const std::string& details,
                              bool need_JSON, int result, int step) {
  test_result_.add_other_data("common.results.error-code", error_name, result, step);
  throw exception(details + " (" + error_name + ")", code,
                  need_JSON ? test_result_.to_string() : "");
}

void Wrapper::retrieve_details_from_url(const std::string& url, std::string& scheme,
                                        std::string& host, int& port) {
  port = 0;
  const std::size_t separator = url.find("://");
  if (separator == std::string::npos) throw exception("Missing ://", 0, "");
  scheme = url.substr(0, separator);
  std::string rest = url.substr(separator + 3);

  // An IPv6 literal comes in brackets; the port search starts after the closing one.
  std::size_t port_search = 0;
  if (const std::size_t open = rest.find('['); open != std::string::npos) {
    rest.erase(0, open + 1);
    if (const std::size_t close = rest.find(']'); close != std::string::npos) {
      rest.erase(close, 1);
      port_search = close;
    }
  }
  if (const std::size_t slash = rest.find('/'); slash != std::string::npos) rest.resize(slash);

  const std::size_t colon = rest.find(':', port_search);
  if (colon == std::string::npos) {
    host = rest;
    return;
  }
  host = rest.substr(0, colon);
  const std::string port_text = rest.substr(colon + 1);
  int value = 0;
  const char* begin = port_text.data();
  const char* end = begin + port_text.size();
  const auto [stop, error] = std::from_chars(begin, end, value);
  if (error != std::errc() || port_text[0] == '-') {
    throw exception("Port is not integer", 0, "");
  }
  if (stop != end) throw exception("Port is not totally integer", 0, "");
  port = value;
}

std::vector<std::string> Wrapper::load_nameservers(bool use_IPv6) const {
  std::vector<std::string> servers;
  for (const std::string& server : resolver_configuration_()) {
    if (IP::is_address(server, IP::IPv4_type) ||
        (use_IPv6 && IP::is_address(server, IP::IPv6_type))) {
      servers.push_back(server);
    }
  }
  return servers;
}

}  // namespace Network_tools
