// The results model of one DNS experience run: every response gathered while walking the name
// server hierarchy, kept per host name resolved, per level and per group of agreeing servers.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_RESULTS_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_RESULTS_H_

#include <rapidjson/document.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dns_experience/records.h"
#include "dns_experience/test_type.h"
#include "frame/logger.h"
#include "wrapper/test_result.h"

namespace Network_tools::DNS_experience {

class Parameters;

// The engine's memory of one run. Every response that enters it is the step object of a dig
// wrapper result ({"Metrics":[...],"OtherData":{...},...}), held in a document of its own.
//
// Levels are numbered from 1 (the machine's resolver asked for the root servers), 2 (a root
// server asked for the top-level domain), 3 and on. A level "counts" when it is 3 or more, or in
// a direct reverse lookup: only counting levels are timed, counted and reported.
//
// Every insertion works on the last hostname resolution, so `start_alias_traversal` must have
// been called once before the first insertion. Structural faults in the documents throw
// `Network_tools::exception` with code 1003 (`err_t::internal_error`) and no JSON.
class Results {
 public:
  // One group: the servers of a level that gave the same answer and authority records.
  struct Stats {
    // The zone the group's servers delegate to; empty for an answer without delegation.
    std::string relative_authoritative_domain;
    // The first response of the group; merged responses add their server entries to its
    // "Metrics". Null for a cached level that is not reported.
    rapidjson::Document response;
    // The servers the group's answer delegates to.
    std::vector<ServerInfo> name_servers;
  };

  // One server that failed at a level.
  struct ServerFailure {
    rapidjson::Document response;
  };

  struct Level {
    std::vector<Stats> groups;
    std::vector<ServerFailure> failures;
    std::int32_t level = 0;
  };

  // The resolution of one host name: the target, then each alias target.
  struct HostnameResolution {
    // In the order the levels were first added; a number may appear twice when another level
    // came in between.
    std::vector<Level> levels;
    // The step result of the hostname.bind query made for this host name; null until set.
    rapidjson::Document hostname_bind_response;
  };

  // Keys of the question entries, moved from a response to the step that reports it.
  static inline const std::string question_class = "qv-dns.results.question.class";
  static inline const std::string question_name = "qv-dns.results.question.name";
  static inline const std::string question_query_type = "qv-dns.results.question.type";
  // Server details of a response, in the order they are moved into its server entry.
  static inline const std::array<std::string, 9> server_fields = {
      "qv-dns.results.server.name", "qv-dns.results.server.address",
      "qv-dns.results.server.port", "qv-dns.results.received-bytes",
      "qv-dns.results.duration.ms", "qv-dns.results.duration.us",
      "qv-dns.results.id",          "qv-dns.results.status",
      "qv-dns.results.flags"};

  explicit Results(Logger& logger) : logger_(logger) {}
  Results(const Results&) = delete;
  Results& operator=(const Results&) = delete;

  // Opens the resolution of a new host name; later insertions go there.
  void start_alias_traversal();

  // Records `response` (taken over) at `level` of the current resolution: it joins the first
  // group of that level with the same answer and authority records, or opens a group, or opens
  // the level. A counting level adds the response's duration to the total, or 0 ms when it came
  // `from_cache`. Throws when exactly one of `name_servers` and `relative_authoritative_domain`
  // is empty.
  void add_level(const std::string& relative_authoritative_domain, rapidjson::Document&& response,
                 const std::vector<ServerInfo>& name_servers, int level, bool from_cache);

  // Records a copy of the step of a dig `result`. For a delegation, the response names the
  // server by `server`'s host name and carries how long its local resolution took.
  void add_level(const std::string& relative_authoritative_domain, const ServerInfo& server,
                 TestResult& result, const std::vector<ServerInfo>& name_servers, int level,
                 bool from_cache);

  // Moves the server details of `result` into a server entry, then records it with the
  // delegation read into `parsed_response`. Used when every server of a level is asked.
  void add_traversal_level(const ParsedResponse& parsed_response, const ServerInfo& server,
                           TestResult& result, int level, bool from_cache);

  // Records a level kept in the cache as the JSON text of its step. A level that does not count
  // is kept without its text. For the others, returns false (and records nothing) when the text
  // is no step (no JSON, or no "OtherData" object and "Metrics" array); otherwise the duration
  // becomes 0 ms, "qv-dns.results.cached" true marks the level, and
  // `relative_authoritative_domain` becomes the owner of the first authority record when there
  // is one.
  bool add_level(const std::string& cached_text, const std::vector<ServerInfo>& name_servers,
                 int level, bool from_cache, std::string& relative_authoritative_domain);

  // Records a failed query of a counting level (opening the level when needed): a copy of the
  // step of `result`, named by `hostname` when given, with the test error as its status.
  void add_failure(TestResult& result, const std::string& hostname, int level);

  // Adds the "qv-dns.results.duration.ms" of a response's "OtherData" to the total, and its
  // "qv-dns.results.duration.us" to the total in microseconds (the milliseconds stand in for a
  // response that has none).
  void add_lookup_time(const rapidjson::Value& response);

  // Moves into `existing` the name servers of `incoming` that it lacks and the server entries of
  // incoming's "Metrics" (records are not copied: they are the same). Faults are only logged.
  void merge_groups(Stats& existing, const Stats& incoming);

  // Adds the outcome of one ping of the diagnostics to a server entry (its "MetricData"
  // object, in a document whose allocator is `allocator`): the round-trip times joined with ","
  // ("0.045,null,0.051"), the ping's error key unless it is "qv-ping.results.error.none", and
  // its duration in ms. Throws a structural fault, and adds nothing, when `ping_result` has no
  // step with "Metrics" and "OtherData".
  void add_ping_results(rapidjson::Value& metric_data,
                        rapidjson::Document::AllocatorType& allocator,
                        const TestResult& ping_result);

  // Records the answer of a direct reverse lookup as a new level 3 with one group.
  void add_ptr(TestResult& result);

  // Finds the longest domain already delegated in this run of which `hostname` is a subdomain
  // (the root excluded). Returns the servers of that delegation and sets `hostname` to the
  // domain, or returns nothing (start from the root) and leaves `hostname` as it is. For
  // example "www.lab.test." reuses a delegation of "lab.test.", but "lab.test." does not.
  std::vector<ServerInfo> get_closest_level(std::string& hostname);

  // Writes the whole model into `result`: one step per group and one per set of failures of each
  // counting level, the test duration, the outage flag of a traversal test, and the error code
  // that the final level suggests unless `result` already carries one. The model is not changed.
  void fill_test_results(TestResult& result, test_type_t test_type) const;
  // The same for the test that `parameters` describe (only its test type matters).
  void fill_test_results(TestResult& result, const Parameters& parameters) const;

  // True when `level` is timed, counted and reported.
  bool level_counts(int level) const { return direct_lookup || level > 2; }

  // One entry per host name resolved; the last is the current one. Its size minus one is the
  // number of aliases followed.
  std::vector<HostnameResolution> resolutions;
  // Counting levels created so far.
  std::int32_t reported_level_count = 0;
  // Sum of the durations of the counting responses that did not come from the cache.
  std::int32_t total_duration_ms = 0;
  // The same sum in microseconds.
  std::int64_t total_duration_us = 0;
  // Set for a direct reverse lookup: levels 1 and 2 count too.
  bool direct_lookup = false;
  // Set by the ping diagnostics of a traversal test.
  bool network_outage_detected = false;

 private:
  // The current resolution; throws when none was started.
  HostnameResolution& current();
  // The last level of `resolution` when it is `level`, otherwise a new one (counted when it
  // counts).
  Level& level_for(HostnameResolution& resolution, int level);
  // True when the two responses hold the same answer and authority records.
  static bool is_similar_group(const rapidjson::Value& existing, const rapidjson::Value& incoming);

  Logger& logger_;
};

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_RESULTS_RESULTS_H_
