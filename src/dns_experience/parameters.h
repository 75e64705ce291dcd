// Every setting of one DNS experience test, and the dig parameters it yields for each level.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_PARAMETERS_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_PARAMETERS_H_

#include <unistd.h>

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "dig/parameters.h"
#include "dns_experience/test_type.h"
#include "frame/ip.h"
#include "wrapper/parameters.h"

namespace Network_tools::DNS_experience {

// The target, the query, the transport and retry policy handed to every dig query, the
// traversal limits, the cache policy and the ping diagnostics of one test. The input layer
// fills it; the driver reads it. Setters refuse out-of-range values with
// `Network_tools::Parameters::exception` ("Tries of 6 over the limit of 5") and keep the old
// value; the other members are plain fields.
class Parameters : public Network_tools::Parameters {
 public:
  static constexpr const char* default_executable = "/opt/Tarvex/Tools/bind/QV_dig";
  // File name of the cache inside the "DataDirectory" setting's folder.
  static constexpr const char* cache_file_name = "dns_experience_cache.dat";

  // Bits of `query_flags`.
  static constexpr std::uint8_t hostname_bind_flag = 1;
  static constexpr std::uint8_t nsid_flag = 2;

  // The function `set_cache_path` tests a path with, as POSIX `access` (tests replace it).
  using access_probe_t = int (*)(const char* path, int mode);

  // A test of type A over any transport, 3 tries of 1500 ms, recursion and EDNS on, a 15 s
  // overall timeout and text output. A non-empty `tool_directory` (ending in "/") replaces the
  // directory of every native executable.
  explicit Parameters(const std::string& tool_directory);

  // The engine starts no native tool of its own: always "".
  std::string get_cmd_line() const override;

  // The dig parameters of a query at a reported level: this test's server, port, type,
  // transport, client subnet, retry policy, recursion and EDNS, with the dig defaults for the
  // rest and no host (the driver sets it per query). With `try_next_server_upon_failure` each
  // server gets one try: the engine moves on to another server instead of retrying.
  Dig::Parameters to_dig_wrapper() const;

  // The dig parameters of the root and top-level-domain levels, which the user never sees:
  // type NS over UDP from the machine's resolver, one try of 1500 ms, no EDNS, 10 s.
  Dig::Parameters get_root_servers_GTLD_dig_wrapper_parameters() const;

  // Stores the type lower-cased ("AAAA" gives "aaaa"); no other check.
  void set_query_type(const std::string& type);
  const std::string& get_query_type() const { return query_type_; }

  // Unset (0), TCP (2) or UDP (3): "Protocol type 1 is not supported in this wrapper".
  void set_protocol(protocol_t protocol);
  protocol_t get_protocol() const { return protocol_; }

  // Parses "192.0.2.0/24" or a bare address; "Invalid subnet: TEXT" otherwise.
  void set_EDNS_client_subnet(const std::string& subnet);
  const IP::Subnet& get_EDNS_client_subnet() const { return EDNS_client_subnet_; }
  // True when a client subnet is to be sent.
  bool has_EDNS_client_subnet() const { return !(EDNS_client_subnet_ == IP::Subnet()); }

  // Accepts a path that can be read and written, or that does not exist yet (the cache creates
  // it). Otherwise "cache path: P is not accessible in read/write mode. check permissions", or
  // "could not verify accessibility of path: P. error: " and the system's reason.
  void set_cache_path(const std::string& path);
  const std::string& get_cache_path() const { return cache_path_; }

  // Replaces the names left out of the outage count, as given (no case folding).
  void set_tld_host_ignore_list(const std::vector<std::string>& names);
  const std::unordered_set<std::string>& get_tld_host_ignore_list() const {
    return tld_host_ignore_list_;
  }

  // Overall time limit in seconds, 0 to 65535: "Timeout of -1 under the limit of 0".
  void set_timeout(int seconds);
  // Dig tries per query, 1 to 5.
  void set_tries(int tries);
  std::uint8_t get_tries() const { return tries_; }
  // Milliseconds per dig try, 1000 to 5000.
  void set_retry_timeout(int milliseconds);
  std::uint16_t get_retry_timeout() const { return retry_timeout_; }
  // Chance in percent of picking the fastest known server, 50 to 100.
  void set_bias_percentage(int percentage);
  std::uint8_t get_bias_percentage() const { return bias_percentage_; }
  // Most alias hops followed, 1 to 10.
  void set_CNAME_traversal_limit(int limit);
  std::uint8_t get_CNAME_traversal_limit() const { return CNAME_traversal_limit_; }
  // Cache size bound, 1000 to 10000000 entries.
  void set_max_cached_entries(int entries);
  std::int32_t get_max_cached_entries() const { return max_cached_entries_; }
  // Lifetime of cached root-level entries, 3600 to 604800 seconds.
  void set_root_server_cache_TTL(int seconds);
  std::int32_t get_root_server_cache_TTL() const { return root_server_cache_TTL_; }
  // The ping diagnostics' settings: each at least 1.
  void set_ping_probes_count(int count);
  std::int32_t get_ping_probes_count() const { return ping_probes_count_; }
  void set_ping_probe_timeout(int seconds);
  std::int32_t get_ping_probe_timeout() const { return ping_probe_timeout_; }
  void set_ping_probe_ttl(int ttl);
  std::int32_t get_ping_probe_TTL() const { return ping_probe_TTL_; }
  // 1 to 65535 threads.
  void set_max_concurrent_pings(int pings);
  std::int32_t get_max_concurrent_pings() const { return max_concurrent_pings_; }
  void set_tld_server_minimum_failure_count(int count);
  std::int32_t get_tld_server_minimum_failure_count() const {
    return tld_server_minimum_failure_count_;
  }

  access_probe_t access_probe = ::access;
  // `hostname_bind_flag`: ask the last server for hostname.bind; `nsid_flag`: request NSID.
  std::uint8_t query_flags = 0;
  // The name to resolve (or, for a "ptr" query, the address).
  std::string host;
  // A name server given by the user, copied to every dig query, with its port (0: default).
  std::string server;
  std::uint16_t server_port = 0;
  bool use_IPv6 = false;
  bool recursion = true;
  bool EDNS = true;
  // On a failed server, try another server of the same level.
  bool try_next_server_upon_failure = false;
  // Prefer the fastest known server.
  bool bias_towards_best = false;
  // Allow the cache for the level below the top-level domain too.
  bool cache_TLD = false;
  test_type_t test_type = test_type_t::DNS_experience;
  // Tag of the driver's log lines: "DNS-T RUN" for a traversal test.
  std::string run_log_tag = "DNS-E RUN";
  bool ping_loose_match = false;
  // The overall timeout was given by the input (a traversal test has another default).
  bool timeout_given = false;
  bool network_outage_detection = false;
  // A traversal test asks the servers of each level at once.
  bool parallel_traversal = false;

 private:
  std::string query_type_ = "a";
  protocol_t protocol_ = protocol_unset;
  IP::Subnet EDNS_client_subnet_;
  std::uint8_t tries_ = 3;
  std::uint16_t retry_timeout_ = 1500;
  std::uint8_t CNAME_traversal_limit_ = 10;
  std::uint8_t bias_percentage_ = 80;
  std::string cache_path_;
  std::int32_t max_cached_entries_ = 10000;
  std::int32_t root_server_cache_TTL_ = 86400;
  std::int32_t ping_probes_count_ = 5;
  std::int32_t ping_probe_timeout_ = 2;
  std::int32_t ping_probe_TTL_ = 128;
  std::int32_t max_concurrent_pings_ = 5;
  std::unordered_set<std::string> tld_host_ignore_list_;
  std::int32_t tld_server_minimum_failure_count_ = 7;
};

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_PARAMETERS_H_
