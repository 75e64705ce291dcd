// Dig parameters: validation, the command line and the DNSSEC validation parameters.
#include "dig/parameters.h"

#include <cstdio>

#include "frame/exception.h"
#include "frame/shell_quote.h"
#include "frame/system.h"
#include "wrapper/input_values.h"

namespace Network_tools::Dig {
namespace {

// "1" for 1000 ms, "1.500" for 1500, "0.750" for 750.
std::string seconds_text(std::uint16_t milliseconds) {
  if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000);
  return format_text("%u.%03u", static_cast<unsigned>(milliseconds / 1000),
                     static_cast<unsigned>(milliseconds % 1000));
}

// Refuses `value` outside [minimum, maximum] with "<label><value> under/over the limit of <n>".
void check_range(const std::string& label, int value, int minimum, int maximum) {
  if (value < minimum) {
    throw Network_tools::Parameters::exception(label + std::to_string(value) +
                                               " under the limit of " + std::to_string(minimum));
  }
  if (value > maximum) {
    throw Network_tools::Parameters::exception(label + std::to_string(value) +
                                               " over the limit of " + std::to_string(maximum));
  }
}

}  // namespace

Parameters::Parameters(const std::string& tool_folder)
    : Network_tools::Parameters(default_executable, tool_folder) {}

void Parameters::set_query_type(const std::string& type) {
  query_type_ = to_lower_case(type);
}

void Parameters::set_server_port(int port) {
  check_range("Port ", port, 0, 65535);
  server_port_ = static_cast<std::uint16_t>(port);
}

void Parameters::set_DNSSEC_server_port(int port) {
  check_range("DNSSEC Port ", port, 0, 65535);
  DNSSEC_server_port_ = static_cast<std::uint16_t>(port);
}

void Parameters::set_tries(int tries) {
  check_range("Tries of ", tries, 1, 5);
  tries_ = static_cast<std::uint8_t>(tries);
}

void Parameters::set_retry_timeout(int milliseconds) {
  check_range("Retry timeout of ", milliseconds, 500, 5000);
  retry_timeout_ = static_cast<std::uint16_t>(milliseconds);
}

void Parameters::set_protocol(protocol_t protocol) {
  if (protocol != protocol_unset && protocol != protocol_TCP && protocol != protocol_UDP) {
    throw exception("Protocol type " + std::to_string(protocol) +
                    " is not supported in this wrapper");
  }
  protocol_ = protocol;
}

void Parameters::set_EDNS_client_subnet(const std::string& subnet) {
  try {
    EDNS_client_subnet_ = IP::Subnet(subnet);
  } catch (const Network_tools::exception&) {
    throw exception("Invalid subnet: " + shown_value(subnet));
  }
}

void Parameters::set_query_mode(int mode) {
  if (mode < 0 || mode > 3) {
    throw exception("Mode type " + std::to_string(mode) + " is not supported in this wrapper");
  }
  query_mode = static_cast<query_mode_t>(mode);
}

std::string Parameters::get_cmd_line() const {
  std::string line = shell_quote(get_native_tool_executable()) + " -u +comment +question";
  if (protocol_ == protocol_TCP) {
    line += " +tcp";
  } else if (protocol_ != protocol_unset) {
    line += " +notcp +ignore";
  }
  if (!use_IPv6) line += " -4";
  if (EDNS && has_EDNS_client_subnet()) line += " +subnet=" + EDNS_client_subnet_.to_string();
  // dig gets one try per start: the wrapper does the retrying.
  line += " +cd +tries=1 +timeout=" + seconds_text(retry_timeout_);
  if (DNSSEC) line += " +dnssec";
  if (!recursion) line += " +norecurse";
  if (!server.empty()) line += " @" + shell_quote(server);
  if (server_port_ != 0) line += " -p " + std::to_string(server_port_);
  if (!EDNS) line += " +noedns";
  switch (query_mode) {
    case query_mode_t::hostname_bind:
      line += " hostname.bind txt chaos";
      break;
    case query_mode_t::reverse:
      line += " -x " + shell_quote(host);
      break;
    case query_mode_t::nsid:
      if (EDNS) line += " +nsid";
      [[fallthrough]];
    case query_mode_t::standard:
      line += " -t " + shell_quote(query_type_) + Delv::query_name_argument(host);
      break;
  }
  return line + " 2>&1";
}

Delv::Parameters Parameters::to_delv() const {
  Delv::Parameters delv(get_tool_folder());
  delv.host = to_lower_case(host);
  delv.server = DNSSEC_server;
  delv.set_server_port(DNSSEC_server_port_);
  delv.query_type = to_lower_case(query_type_);
  delv.set_protocol(protocol_);
  if (JSON_output) delv.JSON_output = true;
  if (use_IPv6) delv.use_IPv6 = true;
  return delv;
}

}  // namespace Network_tools::Dig
