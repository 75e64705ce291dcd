// What one DNS query by the dig build asks for, its validation and its command line.
#ifndef NETWORK_TOOLS_DIG_PARAMETERS_H_
#define NETWORK_TOOLS_DIG_PARAMETERS_H_

#include <cstdint>
#include <string>

#include "delv/parameters.h"
#include "frame/ip.h"
#include "wrapper/parameters.h"

namespace Network_tools::Dig {

// What the command line asks for.
enum class query_mode_t : std::uint8_t {
  standard = 0,       // " -t TYPE HOST"
  nsid = 1,           // " +nsid -t TYPE HOST" (standard when EDNS is off)
  hostname_bind = 2,  // " hostname.bind txt chaos": the server's identity, no host or type
  reverse = 3,        // " -x ADDRESS"
};

// One DNS query: what to ask, whom, over which transport, with which retry policy. A value
// type: the Dig wrapper keeps its own copy. Setters refuse out-of-range values with
// `Parameters::exception` and keep the old value.
class Parameters : public Network_tools::Parameters {
 public:
  static constexpr const char* default_executable = "/opt/Tarvex/Tools/bind/QV_dig";

  // Defaults: standard query, machine resolvers, default port, no transport forced, IPv4 only,
  // no client subnet, 3 tries of 1500 ms, DNSSEC off, recursion and EDNS on, timeout 10 s.
  explicit Parameters(const std::string& tool_folder);

  // The shell command line. With the defaults, host H, type a, server 192.0.2.53 and UDP:
  //   /opt/Tarvex/Tools/bind/QV_dig -u +comment +question +notcp +ignore -4 +cd +tries=1
  //   +timeout=1.500 @192.0.2.53 -t a H 2>&1
  // Host, server and type pass through `shell_quote`; a host that begins with "-", "+" or "@"
  // is given with -q so that dig cannot read it as an option or a server.
  std::string get_cmd_line() const override;

  // The validation of this query's answer by delv: same host and type (lower-cased), the
  // DNSSEC server and port, transport, IPv6 switch and output form.
  Delv::Parameters to_delv() const;

  // Stores the type lower-cased ("AAAA" gives "aaaa"); no validation.
  void set_query_type(const std::string& type);
  const std::string& get_query_type() const { return query_type_; }

  // 0 to 65535: "Port 70000 over the limit of 65535".
  void set_server_port(int port);
  std::uint16_t get_server_port() const { return server_port_; }

  // 0 to 65535: "DNSSEC Port -1 under the limit of 0".
  void set_DNSSEC_server_port(int port);
  std::uint16_t get_DNSSEC_server_port() const { return DNSSEC_server_port_; }

  // 1 to 5: "Tries of 6 over the limit of 5".
  void set_tries(int tries);
  std::uint8_t get_tries() const { return tries_; }

  // Milliseconds per try, 500 to 5000: "Retry timeout of 400 under the limit of 500".
  void set_retry_timeout(int milliseconds);
  std::uint16_t get_retry_timeout() const { return retry_timeout_; }

  // Unset (0), TCP (2) or UDP (3): "Protocol type 1 is not supported in this wrapper".
  void set_protocol(protocol_t protocol);
  protocol_t get_protocol() const { return protocol_; }

  // Parses "192.0.2.0/24" or a bare address; "Invalid subnet: TEXT" otherwise.
  void set_EDNS_client_subnet(const std::string& subnet);
  const IP::Subnet& get_EDNS_client_subnet() const { return EDNS_client_subnet_; }
  // True when a client subnet is to be sent (the subnet differs from the empty one).
  bool has_EDNS_client_subnet() const { return !(EDNS_client_subnet_ == IP::Subnet()); }

  // 0 to 3 (see `query_mode_t`): "Mode type 4 is not supported in this wrapper".
  void set_query_mode(int mode);

  query_mode_t query_mode = query_mode_t::standard;
  // The name to query, or the address in reverse mode.
  std::string host;
  // Name server name or address; empty for the machine's own resolvers.
  std::string server;
  // Resolver of the DNSSEC validation; empty for the validation tool's own choice.
  std::string DNSSEC_server;
  bool use_IPv6 = false;
  bool DNSSEC = false;
  bool recursion = true;
  bool EDNS = true;
  // Resolve the name server as the operating system would (any address family).
  bool force_OS_behavior = false;

 private:
  std::uint16_t server_port_ = 0;
  std::uint16_t DNSSEC_server_port_ = 0;
  std::string query_type_;
  protocol_t protocol_ = protocol_unset;
  IP::Subnet EDNS_client_subnet_;
  std::uint8_t tries_ = 3;
  std::uint16_t retry_timeout_ = 1500;
};

}  // namespace Network_tools::Dig

#endif  // NETWORK_TOOLS_DIG_PARAMETERS_H_
