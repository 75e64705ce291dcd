// DNS experience parameters: defaults, validating setters and the dig parameters of each level.
#include "dns_experience/parameters.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "frame/exception.h"
#include "frame/system.h"
#include "wrapper/input_values.h"

namespace Network_tools::DNS_experience {
namespace {

using refused = Network_tools::Parameters::exception;

// Refuses `value` above `maximum` with label + value + infix + maximum + suffix.
void refuse_above(int value, int maximum, const char* label, const char* infix,
                  const char* suffix = "") {
  if (value > maximum) {
    throw refused(label + std::to_string(value) + infix + std::to_string(maximum) + suffix);
  }
}

// Refuses `value` below `minimum` with label + value + infix + minimum + suffix.
void refuse_below(int value, int minimum, const char* label, const char* infix,
                  const char* suffix = "") {
  if (value < minimum) {
    throw refused(label + std::to_string(value) + infix + std::to_string(minimum) + suffix);
  }
}

}  // namespace

Parameters::Parameters(const std::string& tool_directory)
    : Network_tools::Parameters(default_executable, tool_directory, 15) {}

std::string Parameters::get_cmd_line() const {
  return "";
}

Dig::Parameters Parameters::to_dig_wrapper() const {
  Dig::Parameters dig(get_tool_folder());
  dig.JSON_output = JSON_output;
  dig.query_mode =
      (query_flags & nsid_flag) != 0 ? Dig::query_mode_t::nsid : Dig::query_mode_t::standard;
  dig.server = server;
  dig.set_server_port(server_port);
  dig.set_query_type(query_type_);
  dig.set_protocol(protocol_);
  dig.use_IPv6 = use_IPv6;
  // The empty subnet has no text form to parse back: it stays dig's own empty one.
  if (has_EDNS_client_subnet()) dig.set_EDNS_client_subnet(EDNS_client_subnet_.to_string());
  dig.set_tries(try_next_server_upon_failure ? 1 : tries_);
  dig.set_retry_timeout(retry_timeout_);
  dig.DNSSEC = false;
  dig.recursion = recursion;
  dig.EDNS = EDNS;
  return dig;
}

Dig::Parameters Parameters::get_root_servers_GTLD_dig_wrapper_parameters() const {
  // The dig defaults already give the executable and the 10 s timeout.
  Dig::Parameters dig(get_tool_folder());
  dig.JSON_output = false;
  dig.query_mode = Dig::query_mode_t::standard;
  dig.server.clear();
  dig.set_server_port(server_port);
  dig.set_query_type("ns");
  dig.set_protocol(protocol_UDP);
  dig.use_IPv6 = use_IPv6;
  dig.set_tries(1);
  dig.set_retry_timeout(1500);
  dig.DNSSEC = false;
  dig.recursion = true;
  dig.EDNS = false;
  dig.force_OS_behavior = false;
  return dig;
}

void Parameters::set_query_type(const std::string& type) {
  query_type_ = to_lower_case(type);
}

void Parameters::set_protocol(protocol_t protocol) {
  if (protocol != protocol_unset && protocol != protocol_TCP && protocol != protocol_UDP) {
    throw refused("Protocol type " + std::to_string(protocol) +
                  " is not supported in this wrapper");
  }
  protocol_ = protocol;
}

void Parameters::set_EDNS_client_subnet(const std::string& subnet) {
  try {
    EDNS_client_subnet_ = IP::Subnet(subnet);
  } catch (const Network_tools::exception&) {
    throw refused("Invalid subnet: " + subnet);
  }
}

void Parameters::set_cache_path(const std::string& path) {
  errno = 0;
  if (access_probe(path.c_str(), R_OK | W_OK) == 0) {
    cache_path_ = path;
    return;
  }
  const int error = errno;
  if (error == ENOENT) {
    cache_path_ = path;
    return;
  }
  if (error == EACCES) {
    throw refused("cache path: " + path +
                  " is not accessible in read/write mode. check permissions");
  }
  throw refused("could not verify accessibility of path: " + path +
                ". error: " + error_text(error));
}

void Parameters::set_tld_host_ignore_list(const std::vector<std::string>& names) {
  tld_host_ignore_list_ = std::unordered_set<std::string>(names.begin(), names.end());
}

void Parameters::set_timeout(int seconds) {
  // The limit is kept in 16 bits: a larger value would wrap to a much shorter time.
  Network_tools::Parameters::set_timeout(seconds, 0, std::numeric_limits<std::uint16_t>::max());
}

void Parameters::set_tries(int tries) {
  refuse_above(tries, 5, "Tries of ", " over the limit of ");
  refuse_below(tries, 1, "Tries of ", " under the limit of ");
  tries_ = static_cast<std::uint8_t>(tries);
}

void Parameters::set_retry_timeout(int milliseconds) {
  refuse_above(milliseconds, 5000, "Retry timeout of ", " over the limit of ");
  refuse_below(milliseconds, 1000, "Retry timeout of ", " under the limit of ");
  retry_timeout_ = static_cast<std::uint16_t>(milliseconds);
}

void Parameters::set_bias_percentage(int percentage) {
  refuse_above(percentage, 100, "bias percentage ", " over the limit of ");
  refuse_below(percentage, 50, "bias percentage ", " under the limit of ");
  bias_percentage_ = static_cast<std::uint8_t>(percentage);
}

void Parameters::set_CNAME_traversal_limit(int limit) {
  refuse_above(limit, 10, "CNAME traversal limit ", " over the max allowed value of ");
  refuse_below(limit, 1, "CNAME traversal limit ", " under the min allowed value of ");
  CNAME_traversal_limit_ = static_cast<std::uint8_t>(limit);
}

void Parameters::set_max_cached_entries(int entries) {
  refuse_above(entries, 10000000, "max cached entries ", " over maximum of ");
  refuse_below(entries, 1000, "max cached entries ", " below minimum ");
  max_cached_entries_ = entries;
}

void Parameters::set_root_server_cache_TTL(int seconds) {
  refuse_above(seconds, 604800, "root server cache TTL ", " over maximum of ");
  refuse_below(seconds, 3600, "root server cache TTLs ", " below minimum ");
  root_server_cache_TTL_ = seconds;
}

void Parameters::set_ping_probes_count(int count) {
  refuse_below(count, 1, "Ping probes count of ", " under the min limit of ", ".");
  ping_probes_count_ = count;
}

void Parameters::set_ping_probe_timeout(int seconds) {
  refuse_below(seconds, 1, "Ping probe timeout of ", " under the min limit of ", " second.");
  ping_probe_timeout_ = seconds;
}

void Parameters::set_ping_probe_ttl(int ttl) {
  refuse_below(ttl, 1, "Ping probe TTL of ", " under the min limit of ", ".");
  ping_probe_TTL_ = ttl;
}

void Parameters::set_max_concurrent_pings(int pings) {
  refuse_below(pings, 1, "Max concurrent pings of ", " under the min limit of ", ".");
  // The diagnostics count their threads in 16 bits: 65536 would become none at all.
  refuse_above(pings, std::numeric_limits<std::uint16_t>::max(), "Max concurrent pings of ",
               " over the max limit of ", ".");
  max_concurrent_pings_ = pings;
}

void Parameters::set_tld_server_minimum_failure_count(int count) {
  refuse_below(count, 1, "TLD server minimum failure count of ", " under the min limit of ", ".");
  tld_server_minimum_failure_count_ = count;
}

}  // namespace Network_tools::DNS_experience
