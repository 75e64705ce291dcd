// The cache policy: answers with expiry, name server query times, and eviction.
#include "dns_experience/cache/cache.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <utility>

#include "dns_experience/cache/answer_record.h"
#include "dns_experience/cache/arena.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

const std::string tag = "CACHE";
const std::string warning_tag = "CACHE WARNING";
const std::string error_tag = "CACHE ERROR";

// Removes from `map` the `count` entries that come first by `key_of`, in no defined order among
// equal keys.
template <typename Map, typename Key_of>
void remove_first(Map& map, std::size_t count, Key_of key_of) {
  using Key = decltype(key_of(*map.begin()));
  std::vector<std::pair<Key, typename Map::const_iterator>> order;
  order.reserve(map.size());
  for (auto entry = map.cbegin(); entry != map.cend(); ++entry) {
    order.emplace_back(key_of(*entry), entry);
  }
  const auto order_by_ascendent_time = [](const auto& left, const auto& right) {
    return left.first < right.first;
  };
  std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(count), order.end(),
                   order_by_ascendent_time);
  for (std::size_t index = 0; index < count; ++index) map.erase(order[index].second);
}

}  // namespace

std::int64_t Cache::wall_clock_seconds() {
  return static_cast<std::int64_t>(time(nullptr));
}

Cache::Cache(Logger& logger, std::string storage_path, std::uint32_t max_cached_entries,
             Clock clock)
    : logger(logger),
      arena(Huge_page_resource::first_block_size, &huge_page_resource()),
      answers(&arena),
      query_stats(&arena),
      storage_path(std::move(storage_path)),
      max_cached_entries(max_cached_entries),
      clock_seconds(std::move(clock)) {
  if (this->storage_path.empty()) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Root is not a valid storage location for the cache. Cache loading is disabled");
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  load_cache();
  logger.write(LEVEL_INFO, tag,
               "Loading the cache took: " + std::to_string(microseconds_since(start)) + "us");
}

Cache::~Cache() {
  try {
    if (storage_path.empty()) {
      logger.write(LEVEL_WARNING, warning_tag,
                   "Root is not a valid storage location for the cache. Cache storage is disabled");
    } else if (!changed) {
      logger.write(LEVEL_DEBUG, tag, "Cache did not change no need to update permanent storage");
    } else {
      const auto start = std::chrono::steady_clock::now();
      store_cache();
      logger.write(LEVEL_DEBUG, tag,
                   "Storing the cache took: " + std::to_string(microseconds_since(start)) + "us");
    }
  } catch (const std::exception& error) {
    // Only memory exhaustion gets here; the file lock went with the stream.
    logger.write(LEVEL_ERROR, error_tag, std::string("Cache storage failed: ") + error.what());
  }
}

void Cache::set_cache_answer(const std::string& hostname,
                             const std::vector<ServerInfo>& name_servers, std::int32_t ttl,
                             const std::string& raw_output, const std::string& json_output) {
  logger.write(LEVEL_DEBUG, tag, "Setting answer cache for target host: " + hostname);
  // The storage file could not give such an entry back, and refusing it there would throw away
  // every other entry of the file along with it.
  if (!answer_record::is_storable_hostname(hostname) ||
      !answer_record::is_storable(name_servers, raw_output, json_output)) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Answer not cached, a name is empty, longer than 256 characters or holds a line "
                 "end or a null byte: " +
                     hostname);
    return;
  }
  put_answer(hostname, clock_seconds() + ttl,
             answer_record::encode(name_servers, raw_output, json_output), answers);
  changed = true;
}

bool Cache::get_cached_answer(const std::string& hostname, output_t output,
                              std::vector<ServerInfo>& name_servers, std::string& raw_output,
                              std::string& json_output) {
  logger.write(LEVEL_DEBUG, tag, "Getting answer cache for target host: " + hostname);
  const auto entry = answers.find(hostname);
  if (entry == answers.end()) {
    logger.write(LEVEL_DEBUG, tag, "Answer cache miss for target host: " + hostname);
    return false;
  }
  if (entry->second.expiration < clock_seconds()) {
    logger.write(LEVEL_DEBUG, tag, "Expired answer cache entry for: " + hostname);
    return false;
  }
  logger.write(LEVEL_DEBUG, tag, "Answer cache found for target host: " + hostname);
  answer_record::Decoded decoded = answer_record::decode(entry->second.record);
  if (output == servers_raw_and_json && decoded.raw_output.empty()) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Cached entry does not have requested raw output cached (cache is corrupted?)");
    return false;
  }
  if (output != servers_only && decoded.json_output.empty()) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Cached entry does not have json output cached (cache is corrupted?)");
    return false;
  }
  if (output == servers_raw_and_json) raw_output = decoded.raw_output;
  if (output != servers_only) json_output = decoded.json_output;
  name_servers = std::move(decoded.name_servers);
  return true;
}

void Cache::set_last_query_time(const std::string& hostname, std::int32_t query_time_ms) {
  logger.write(
      LEVEL_DEBUG, tag,
      "Setting query stats cache for: " + hostname + " duration: " + std::to_string(query_time_ms));
  if (query_time_ms < 0) {
    logger.write(LEVEL_INFO, tag,
                 "Query duration for: " + hostname +
                     " is negative (indicating a resolution error), turned into very query time");
    query_time_ms = unknown_query_time_ms;
  }
  if (!answer_record::is_storable_hostname(hostname)) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Query time not cached, the name is longer than 256 characters or holds a line "
                 "end or a null byte: " +
                     hostname);
    return;
  }
  put_stats(hostname, QueryStatsData{query_time_ms, clock_seconds()}, query_stats);
  changed = true;
}

bool Cache::get_last_query_time(const std::string& hostname, std::int32_t& query_time_ms) {
  logger.write(LEVEL_DEBUG, tag, "Getting query stats cache for: " + hostname);
  const auto entry = query_stats.find(hostname);
  if (entry == query_stats.end()) {
    logger.write(LEVEL_DEBUG, tag, "Answer query stats miss for name server: " + hostname);
    query_time_ms = unknown_query_time_ms;
    return false;
  }
  query_time_ms = entry->second.query_time_ms;
  return true;
}

std::string_view Cache::keep(std::string_view bytes) {
  if (bytes.empty()) return {};
  char* copy = static_cast<char*>(arena.allocate(bytes.size(), 1));
  std::memcpy(copy, bytes.data(), bytes.size());
  return {copy, bytes.size()};
}

void Cache::put_answer(std::string_view hostname, std::int64_t expiration, std::string_view record,
                       Answer_map& map) {
  // One look-up: a replaced entry leaves its key copy unused in the arena.
  const AnswerData answer{expiration, keep(record)};
  const auto [entry, inserted] = map.try_emplace(keep(hostname), answer);
  if (!inserted) entry->second = answer;
}

void Cache::put_stats(std::string_view hostname, QueryStatsData stats, Query_stats_map& map) {
  const auto [entry, inserted] = map.try_emplace(keep(hostname), stats);
  if (!inserted) entry->second = stats;
}

void Cache::filter_expired_entries() {
  const std::int64_t now = clock_seconds();
  std::erase_if(answers, [now](const auto& entry) { return entry.second.expiration < now; });
  // Half the limit goes at once, so that the maps are not cut again at every store.
  const std::size_t excess_cut = max_cached_entries / 2;
  if (excess_cut == 0) return;
  if (answers.size() > max_cached_entries) {
    remove_first(answers, excess_cut, [](const auto& entry) { return entry.second.expiration; });
  }
  if (query_stats.size() > max_cached_entries) {
    remove_first(query_stats, excess_cut,
                 [](const auto& entry) { return entry.second.query_time_ms; });
  }
}

}  // namespace Network_tools::DNS_experience
