// The two records that travel between the resolution engine, the results model and the cache:
// one name server candidate and the outcome of one level, plus the dig metric keys they are read
// from.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_RECORDS_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_RECORDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "frame/ip.h"

namespace Network_tools::DNS_experience {

// One name server candidate. Lists of servers keep the server to ask next as their last element.
struct ServerInfo {
  // Host name of the server; for the machine's own resolvers, the address text.
  std::string hostname;
  // The empty address (no family) while the server is unresolved.
  IP::Address address;
  // Milliseconds the local resolution of `hostname` took; -1 when the address came from an
  // additional record or could not be resolved; 0 for the machine's resolvers.
  std::int32_t resolution_time_ms = -1;

  bool is_resolved() const { return !address.empty(); }
};

// The outcome of one level of the resolution.
struct ParsedResponse {
  // TTL of a response that carried no record: one week.
  static constexpr std::int32_t default_ttl = 604800;

  // Owner name of the NS records found: the zone the next servers serve.
  std::string relative_authoritative_domain;
  // The next level's servers, one per distinct NS target.
  std::vector<ServerInfo> name_servers;
  bool has_answer = false;
  bool has_authority = false;
  // The answer holds a CNAME, or an SVCB/HTTPS record in alias form.
  bool has_alias = false;
  // The answer holds a record of the requested type (at a reported level).
  bool has_target_record = false;
  // Smallest TTL of all records read, in seconds.
  std::int32_t ttl = default_ttl;

  // Back to the state of a fresh record, before the next level is evaluated.
  void reset() { *this = ParsedResponse{}; }
};

// Keys of the dig metrics read by the engine: a section prefix, "." and a field.
inline const std::string answer_info = "qv-dns.results.answer.info";
inline const std::string answer_name = "qv-dns.results.answer.name";
inline const std::string answer_query_type = "qv-dns.results.answer.type";
inline const std::string addition_info = "qv-dns.results.additional.info";
inline const std::string addition_name = "qv-dns.results.additional.name";
inline const std::string addition_ttl = "qv-dns.results.additional.ttl";
inline const std::string addition_type = "qv-dns.results.additional.type";

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_RECORDS_H_
