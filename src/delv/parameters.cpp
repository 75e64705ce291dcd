// Delv parameters: validation and the command line.
#include "delv/parameters.h"

#include <string_view>

#include "frame/shell_quote.h"

namespace Network_tools::Delv {

std::string query_name_argument(const std::string& host) {
  // dig and delv read a word that starts with "-" or "+" as an option and one that starts with
  // "@" as the server; after -q any word is the name.
  const bool option_like =
      !host.empty() && std::string_view("-+@").find(host.front()) != std::string_view::npos;
  return (option_like ? " -q " : " ") + shell_quote(host);
}

Parameters::Parameters(const std::string& tool_folder)
    : Network_tools::Parameters(default_executable, tool_folder) {}

void Parameters::set_server_port(int port) {
  if (port < 0) throw exception("Port " + std::to_string(port) + " under the limit of 0");
  if (port > 65535) throw exception("Port " + std::to_string(port) + " over the limit of 65535");
  server_port_ = static_cast<std::uint16_t>(port);
}

void Parameters::set_protocol(protocol_t protocol) {
  if (protocol != protocol_unset && protocol != protocol_TCP && protocol != protocol_UDP) {
    throw exception("Protocol type " + std::to_string(protocol) +
                    " is not supported in this wrapper");
  }
  protocol_ = protocol;
}

std::string Parameters::get_cmd_line() const {
  std::string line = shell_quote(get_native_tool_executable());
  if (protocol_ == protocol_TCP) line += " +tcp";
  if (protocol_ == protocol_UDP) line += " +notcp";
  if (!use_IPv6) line += " -4";
  if (!server.empty()) line += " @" + shell_quote(server);
  if (server_port_ != 0) line += " -p " + std::to_string(server_port_);
  line += " -t " + shell_quote(query_type) + query_name_argument(host);
  return line + " +cd +mtrace +vtrace 2>&1";
}

}  // namespace Network_tools::Delv
