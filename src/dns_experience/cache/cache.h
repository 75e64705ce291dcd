// The DNS experience cache: delegations and name server query times kept across runs in one
// locked storage file.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_CACHE_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_CACHE_H_

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory_resource>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dns_experience/cache/storage_stamp.h"
#include "dns_experience/records.h"
#include "frame/logger.h"

namespace Network_tools::DNS_experience {

// Set by `on_lock_timeout` when opening the storage file took longer than its 3 seconds.
extern std::atomic<bool> is_lock_timedout;

// The SIGALRM handler of the storage lock timeout: sets `is_lock_timedout` for SIGALRM.
void on_lock_timeout(int signal);

// Keeps, for the length of a run, the answers received for host names (the servers a delegation
// pointed to, with the raw and JSON outputs of the response) until they expire, and the last
// measured query time of each name server. The constructor loads the storage file and the
// destructor writes it back when something changed; several processes may share the file.
//
// Opening the storage arms a process-wide SIGALRM for at most 3 seconds (the previous action and
// any pending alarm of the caller are restored afterwards). So two caches must not be
// constructed or destroyed on two threads at once, and while a cache is constructed or destroyed
// no other thread of the process may accept SIGALRM.
//
// Example:
//   Cache cache(logger, "/var/tmp/dns_experience_cache.dat", 10000);
//   cache.set_cache_answer("test.", servers, 86400, "", "");
//   std::vector<ServerInfo> found;
//   std::string raw, json;
//   if (cache.get_cached_answer("test.", Cache::servers_only, found, raw, json)) { ... }
class Cache {
 public:
  // What `get_cached_answer` returns besides the servers.
  enum output_t : std::uint8_t {
    servers_only = 0,
    servers_and_json = 1,
    servers_raw_and_json = 2,
  };

  // The last query time of one name server.
  struct QueryStatsData {
    std::int32_t query_time_ms = 0;
    // Seconds since the epoch when it was recorded.
    std::int64_t timestamp = 0;
  };

  // The time a server that failed, or that was never measured, is given: the slowest possible.
  static constexpr std::int32_t unknown_query_time_ms = 2147483647;

  // Source of the current time in seconds since the epoch; replaceable for tests.
  using Clock = std::function<std::int64_t()>;
  static std::int64_t wall_clock_seconds();

  // Loads `storage_path` (created empty when missing). An empty path disables persistence.
  // `max_cached_entries` bounds each of the two maps when the cache is stored.
  Cache(Logger& logger, std::string storage_path, std::uint32_t max_cached_entries,
        Clock clock = &Cache::wall_clock_seconds);
  // Stores the cache when it changed. Never throws.
  virtual ~Cache();

  Cache(const Cache&) = delete;
  Cache& operator=(const Cache&) = delete;

  // Inserts or replaces the answer for `hostname`, expiring `ttl` seconds from now. An answer
  // that the storage file could not hold (a name longer than 256 characters, holding a 0x00 or
  // 0x0A byte, or an empty server name) is not cached, with a warning.
  virtual void set_cache_answer(const std::string& hostname,
                                const std::vector<ServerInfo>& name_servers, std::int32_t ttl,
                                const std::string& raw_output, const std::string& json_output);

  // Copies out the servers of the unexpired answer for `hostname` and, as `output` asks, its
  // JSON and raw outputs. False for a miss, an expired entry or an entry lacking the asked output;
  // the out values are then left as they were.
  virtual bool get_cached_answer(const std::string& hostname, output_t output,
                                 std::vector<ServerInfo>& name_servers, std::string& raw_output,
                                 std::string& json_output);

  // Records the last query time of a name server; a negative time (a failed query) is kept as
  // `unknown_query_time_ms`. A name the storage file could not hold is not kept, with a warning.
  virtual void set_last_query_time(const std::string& hostname, std::int32_t query_time_ms);

  // Sets `query_time_ms` to the last recorded time of `hostname` and returns true; for an
  // unknown server sets `unknown_query_time_ms` and returns false.
  virtual bool get_last_query_time(const std::string& hostname, std::int32_t& query_time_ms);

  // Drops expired answers, then, for each map over `max_cached_entries`, removes half the limit's
  // worth of entries: the answers expiring soonest and the query stats with the smallest times.
  void filter_expired_entries();

  std::size_t answer_count() const { return answers.size(); }
  std::size_t query_stats_count() const { return query_stats.size(); }

 private:
  // One cached answer: its servers (host name, address, resolution time) and its raw and JSON
  // outputs are kept in the storage file's encoding (see answer_record.h), so that a million
  // answers load and store as plain copies and fit in less than twice the file's size.
  struct AnswerData {
    // Seconds since the epoch after which the entry is expired.
    std::int64_t expiration = 0;
    std::string_view record;
  };
  // Keys and records point into `arena`.
  using Answer_map = std::pmr::unordered_map<std::string_view, AnswerData>;
  using Query_stats_map = std::pmr::unordered_map<std::string_view, QueryStatsData>;

  // A copy of `bytes` that lives as long as the cache.
  std::string_view keep(std::string_view bytes);
  // Inserts or replaces the answer of `hostname`.
  void put_answer(std::string_view hostname, std::int64_t expiration, std::string_view record,
                  Answer_map& map);
  // Inserts or replaces the query stats of `hostname`.
  void put_stats(std::string_view hostname, QueryStatsData stats, Query_stats_map& map);

  // Storage (storage.cpp): open, lock and close the file; load, store and merge.
  std::FILE* open_storage(bool& is_empty);
  void close_storage(std::FILE* stream);
  void load_cache();
  void store_cache();
  void merge_entries(std::FILE* stream);
  // File format (serialization.cpp); the streams are open storage streams.
  bool serialize(std::FILE* stream);
  bool deserialize(std::FILE* stream);
  // Reads the whole file into the two maps given; with `only_unknown`, leaves out the entries
  // whose keys this cache already holds. False, with the reason logged, when the file cannot be
  // trusted.
  bool read_storage(std::FILE* stream, Answer_map& read_answers, Query_stats_map& read_stats,
                    bool only_unknown);
  void write_entries(std::FILE* stream);

  Logger& logger;
  // Every map node, key and record, freed at once with the cache: a million entries cost a few
  // hundred allocations. Replaced or removed entries keep their bytes until then, which a run
  // that stores once can afford.
  std::pmr::monotonic_buffer_resource arena;
  Answer_map answers;
  Query_stats_map query_stats;
  std::string storage_path;
  std::uint32_t max_cached_entries;
  Clock clock_seconds;
  // What the last successful open saw of the file; decides whether a store must merge.
  Storage_stamp storage_stamp;
  bool changed = false;
};

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_CACHE_H_
