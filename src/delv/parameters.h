// What one DNSSEC validation by the delv build asks for, and its command line.
#ifndef NETWORK_TOOLS_DELV_PARAMETERS_H_
#define NETWORK_TOOLS_DELV_PARAMETERS_H_

#include <cstdint>
#include <string>

#include "wrapper/parameters.h"

namespace Network_tools::Delv {

// One validation: the name and type to validate, the resolver to ask and the transport.
class Parameters : public Network_tools::Parameters {
 public:
  static constexpr const char* default_executable = "/opt/Tarvex/Tools/bind/QV_delv";

  // Defaults: no server (delv's own resolver), port 0 (default), type "a", no transport
  // forced, IPv4 only, timeout 10 s, raw text output.
  explicit Parameters(const std::string& tool_folder);

  // The shell command line, e.g. for the defaults and host H:
  //   /opt/Tarvex/Tools/bind/QV_delv -4 -t a H +cd +mtrace +vtrace 2>&1
  // Host, server and type pass through `shell_quote`.
  std::string get_cmd_line() const override;

  // Accepts 0 to 65535; otherwise throws "Port 70000 over the limit of 65535".
  void set_server_port(int port);
  std::uint16_t get_server_port() const { return server_port_; }

  // Accepts unset (0), TCP (2) and UDP (3); otherwise throws "Protocol type 5 is not supported
  // in this wrapper".
  void set_protocol(protocol_t protocol);
  protocol_t get_protocol() const { return protocol_; }

  std::string host;
  std::string server;
  std::string query_type = "a";
  bool use_IPv6 = false;

 private:
  std::uint16_t server_port_ = 0;
  protocol_t protocol_ = protocol_unset;
};

// `host` as the query name at the end of a dig or delv command line, after a blank: shell-quoted,
// and given with -q when it begins with "-", "+" or "@" so that the tool cannot take it for an
// option or a server. Checked input never begins so; a name met in an answer may.
std::string query_name_argument(const std::string& host);

}  // namespace Network_tools::Delv

#endif  // NETWORK_TOOLS_DELV_PARAMETERS_H_
