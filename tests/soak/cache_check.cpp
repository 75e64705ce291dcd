// Reading back the soak's cache file.
#include "cache_check.h"

#include <sstream>

#include "dns_experience/cache/cache.h"
#include "wrapper/json_access.h"

namespace Network_tools::soak {
namespace {

// The rest of each line of `log` that follows `marker`, up to `end` when given.
std::vector<std::string> after(const std::string& log, const std::string& marker,
                               const std::string& end = "") {
  std::vector<std::string> found;
  for (std::size_t at = log.find(marker); at != std::string::npos; at = log.find(marker, at)) {
    at += marker.size();
    std::size_t stop = log.find('\n', at);
    if (!end.empty()) stop = std::min(stop, log.find(end, at));
    found.push_back(log.substr(at, stop - at));
  }
  return found;
}

}  // namespace

void Cache_entries::add(const Cache_entries& other) {
  answers.insert(other.answers.begin(), other.answers.end());
  query_stats.insert(other.query_stats.begin(), other.query_stats.end());
}

Cache_entries entries_set(const std::string& log, bool& stored) {
  Cache_entries set;
  for (const std::string& name : after(log, "Setting answer cache for target host: ")) {
    set.answers.insert(name);
  }
  for (const std::string& name : after(log, "Setting query stats cache for: ", " duration: ")) {
    set.query_stats.insert(name);
  }
  // Names the cache refused to keep.
  for (const std::string& name : after(log, "or holds a line end or a null byte: ")) {
    set.answers.erase(name);
    set.query_stats.erase(name);
  }
  stored = log.find("Cache stored correctly") != std::string::npos;
  return set;
}

std::string check_cache_file(const std::string& path, const Cache_entries& stored,
                             const Cache_entries& possible, std::size_t& checked) {
  std::ostringstream log;
  Logger logger(LEVEL_DEBUG, "", log);
  DNS_experience::Cache cache(logger, path, 10000);
  if (log.str().find("Cache loaded correctly") == std::string::npos &&
      log.str().find("No cache available") == std::string::npos) {
    return "the cache file does not load:\n" + log.str();
  }
  std::string problems;
  for (const std::string& name : stored.answers) {
    std::vector<DNS_experience::ServerInfo> servers;
    std::string raw, json;
    if (!cache.get_cached_answer(name, DNS_experience::Cache::servers_only, servers, raw, json)) {
      problems += "the answer for " + name + " was stored and is lost\n";
    } else if (cache.get_cached_answer(name, DNS_experience::Cache::servers_and_json, servers, raw,
                                       json)) {
      rapidjson::Document step;
      if (!parse_JSON(step, json).empty() || !step.IsObject()) {
        problems += "the answer for " + name + " holds a step that is no JSON object\n";
      }
    }
    ++checked;
  }
  for (const std::string& name : stored.query_stats) {
    std::int32_t time_ms = 0;
    if (!cache.get_last_query_time(name, time_ms)) {
      problems += "the query time of " + name + " was stored and is lost\n";
    }
    ++checked;
  }
  if (cache.answer_count() > possible.answers.size() ||
      cache.query_stats_count() > possible.query_stats.size()) {
    problems += "the file holds " + std::to_string(cache.answer_count()) + " answers and " +
                std::to_string(cache.query_stats_count()) + " query times, but the runs set only " +
                std::to_string(possible.answers.size()) + " and " +
                std::to_string(possible.query_stats.size()) + "\n";
  }
  return problems;
}

}  // namespace Network_tools::soak
