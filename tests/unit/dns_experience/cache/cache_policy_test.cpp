// The cache policy in memory: expiry, what a look-up returns, server query times, eviction.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "dns_experience/cache/cache_test_support.h"

namespace Network_tools::DNS_experience {
namespace {

using testing_support::Captured_log;
using testing_support::server;

// A cache without storage whose clock the test moves.
struct Policy : ::testing::Test {
  std::int64_t now = 1700000000;
  Captured_log log;

  std::unique_ptr<Cache> make(std::uint32_t limit = 10000) {
    return std::make_unique<Cache>(log.logger, "", limit, [this] { return now; });
  }
  static bool found(Cache& cache, const std::string& hostname) {
    std::vector<ServerInfo> servers;
    std::string raw, json;
    return cache.get_cached_answer(hostname, Cache::servers_only, servers, raw, json);
  }
};

TEST_F(Policy, AnAnswerLastsUntilTheEndOfItsLastSecond) {
  auto cache = make();
  cache->set_cache_answer("zero.test.", {server("ns.zero.test.", "192.0.2.1", 3)}, 0, "", "");
  cache->set_cache_answer("five.test.", {}, 5, "", "");
  EXPECT_TRUE(found(*cache, "zero.test."));
  now += 1;
  EXPECT_FALSE(found(*cache, "zero.test."));
  EXPECT_TRUE(log.has("Expired answer cache entry for: zero.test."));
  now += 4;
  EXPECT_TRUE(found(*cache, "five.test."));
  now += 1;
  EXPECT_FALSE(found(*cache, "five.test."));
  // Expired entries stay in memory until the next filtering.
  EXPECT_EQ(cache->answer_count(), 2u);
  cache->filter_expired_entries();
  EXPECT_EQ(cache->answer_count(), 0u);
}

TEST_F(Policy, ALookUpReturnsWhatWasAskedForOrLeavesTheOutValuesAlone) {
  auto cache = make();
  cache->set_cache_answer("full.test.", {server("ns.test.", "", 1)}, 60, "raw", "{}");
  cache->set_cache_answer("json-only.test.", {}, 60, "", "{}");
  std::vector<ServerInfo> servers;
  std::string raw = "old", json = "old";
  ASSERT_TRUE(cache->get_cached_answer("full.test.", Cache::servers_only, servers, raw, json));
  EXPECT_EQ(servers.size(), 1u);
  EXPECT_EQ(raw + json, "oldold");
  ASSERT_TRUE(cache->get_cached_answer("full.test.", Cache::servers_and_json, servers, raw, json));
  EXPECT_EQ(raw + json, "old{}");
  ASSERT_TRUE(
      cache->get_cached_answer("full.test.", Cache::servers_raw_and_json, servers, raw, json));
  EXPECT_EQ(raw + json, "raw{}");

  // Entries without the asked output are misses that change nothing.
  raw = json = "";
  EXPECT_FALSE(
      cache->get_cached_answer("json-only.test.", Cache::servers_raw_and_json, servers, raw, json));
  EXPECT_TRUE(log.has("Cached entry does not have requested raw output cached"));
  cache->set_cache_answer("full.test.", {}, 60, "raw", "");  // a newer answer replaces it
  EXPECT_FALSE(cache->get_cached_answer("full.test.", Cache::servers_and_json, servers, raw, json));
  EXPECT_TRUE(log.has("Cached entry does not have json output cached"));
  EXPECT_EQ(servers.size(), 1u);
  EXPECT_EQ(raw + json, "");
}

TEST_F(Policy, FailedAndUnknownServersAreTheSlowest) {
  auto cache = make();
  std::int32_t time_ms = 0;
  EXPECT_FALSE(cache->get_last_query_time("never.ns.test.", time_ms));
  EXPECT_EQ(time_ms, 2147483647);
  cache->set_last_query_time("failed.ns.test.", -1);
  EXPECT_TRUE(cache->get_last_query_time("failed.ns.test.", time_ms));
  EXPECT_EQ(time_ms, 2147483647);
  cache->set_last_query_time("failed.ns.test.", 17);
  EXPECT_TRUE(cache->get_last_query_time("failed.ns.test.", time_ms));
  EXPECT_EQ(time_ms, 17);
}

TEST_F(Policy, EvictionRemovesHalfTheLimitAnswersExpiringSoonestAndFastestServers) {
  auto cache = make(10);
  // One expired answer goes first; eleven remain, over the limit of ten.
  cache->set_cache_answer("gone.test.", {}, 0, "", "");
  for (int index = 0; index < 11; ++index) {
    cache->set_cache_answer("a" + std::to_string(index) + ".test.", {}, 100 + index, "", "");
    cache->set_last_query_time("ns" + std::to_string(index) + ".test.", 50 - index);
  }
  now += 1;
  cache->filter_expired_entries();
  EXPECT_EQ(cache->answer_count(), 6u);
  EXPECT_EQ(cache->query_stats_count(), 6u);
  std::int32_t time_ms = 0;
  for (int index = 0; index < 11; ++index) {
    EXPECT_EQ(found(*cache, "a" + std::to_string(index) + ".test."), index >= 5) << index;
    // Stats with the smallest times go, not the oldest.
    EXPECT_EQ(cache->get_last_query_time("ns" + std::to_string(index) + ".test.", time_ms),
              index < 6)
        << index;
  }
}

TEST_F(Policy, ALimitOfOneEvictsNothing) {
  auto cache = make(1);
  for (int index = 0; index < 3; ++index) {
    cache->set_cache_answer("a" + std::to_string(index) + ".test.", {}, 100, "", "");
    cache->set_last_query_time("ns" + std::to_string(index) + ".test.", index);
  }
  cache->filter_expired_entries();
  EXPECT_EQ(cache->answer_count(), 3u);
  EXPECT_EQ(cache->query_stats_count(), 3u);
}

}  // namespace
}  // namespace Network_tools::DNS_experience
