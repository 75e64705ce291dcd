// Fuzz target: the cache storage file, loaded by one cache and merged into the store of another.
//
// Input: the bytes of the file. Whatever they hold, the file a store writes loads back whole:
// the entries of the input that a load accepts, and those of the storing cache.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "support/harness.h"

using namespace Network_tools;
using DNS_experience::Cache;
using DNS_experience::ServerInfo;

namespace {

// Entries expiring before this moment are dropped; a fixed clock makes every run the same.
constexpr std::int64_t now = 2000000000;
// No eviction: an input holds far fewer entries.
constexpr std::uint32_t no_eviction = 1000000;

const std::string answer_name = "fuzz.test.";
const std::string stats_name = "ns.fuzz.test.";

std::unique_ptr<Cache> open_cache(Logger& logger, const std::string& path) {
  return std::make_unique<Cache>(logger, path, no_eviction, [] { return now; });
}

// True when `cache` holds an unexpired answer for `name`, whatever its outputs.
bool has_answer(Cache& cache, const std::string& name) {
  std::vector<ServerInfo> servers;
  std::string raw, json;
  return cache.get_cached_answer(name, Cache::servers_only, servers, raw, json);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes = fuzz::as_text(data, size);
  const std::string loaded_path = fuzz::scratch_path("loaded.dat");
  const std::string merged_path = fuzz::scratch_path("merged.dat");
  fuzz::Silent_logger logger;
  std::vector<ServerInfo> servers(2);
  servers[0].hostname = "a.ns.fuzz.test.";
  servers[0].address = IP::Address("192.0.2.53");
  servers[0].resolution_time_ms = 7;
  servers[1].hostname = "b.ns.fuzz.test.";
  std::vector<ServerInfo> got;
  std::string raw, json;

  fuzz::run_input([&] {
    // What a load accepts of the input.
    fuzz::write_file(loaded_path, bytes);
    std::size_t answers = 0, stats = 0;
    bool answer_known = false, stats_known = false;
    {
      const auto cache = open_cache(logger.get(), loaded_path);
      answers = cache->answer_count();
      stats = cache->query_stats_count();
      answer_known = has_answer(*cache, answer_name);
      std::int32_t time_ms = 0;
      stats_known = cache->get_last_query_time(stats_name, time_ms);
    }

    // A cache that changed stores over the input, which another process wrote meanwhile.
    std::remove(merged_path.c_str());
    {
      const auto cache = open_cache(logger.get(), merged_path);
      cache->set_cache_answer(answer_name, servers, 60, "raw", "{}");
      cache->set_last_query_time(stats_name, 12);
      fuzz::write_file(merged_path, bytes);
    }

    const auto cache = open_cache(logger.get(), merged_path);
    fuzz::check(cache->answer_count() == answers + (answer_known ? 0 : 1), "answers lost");
    fuzz::check(cache->query_stats_count() == stats + (stats_known ? 0 : 1), "query stats lost");
    fuzz::check(
        cache->get_cached_answer(answer_name, Cache::servers_raw_and_json, got, raw, json) &&
            raw == "raw" && json == "{}" && got.size() == 2 &&
            got[0].hostname == servers[0].hostname && got[0].address == servers[0].address &&
            got[1].address.empty(),
        "the storing cache's answer changed");
    std::int32_t time_ms = 0;
    fuzz::check(cache->get_last_query_time(stats_name, time_ms) && time_ms == 12,
                "the storing cache's query time changed");
  });
  return 0;
}
