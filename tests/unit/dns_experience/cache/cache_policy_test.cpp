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
using testing_support::has_answer;
using testing_support::server;

// A cache without storage whose clock the test moves.
struct Policy : ::testing::Test {
  std::int64_t now = 1700000000;
  Captured_log log;

  std::unique_ptr<Cache> make(std::uint32_t limit = 10000) {
    return std::make_unique<Cache>(log.logger, "", limit, [this] { return now; });
  }
};

TEST_F(Policy, AnAnswerLastsUntilTheEndOfItsLastSecond) {
  auto cache = make();
  cache->set_cache_answer("zero.test.", {server("ns.zero.test.", "192.0.2.1", 3)}, 0, "", "");
  cache->set_cache_answer("five.test.", {}, 5, "", "");
  EXPECT_TRUE(has_answer(*cache, "zero.test."));
  now += 1;
  EXPECT_FALSE(has_answer(*cache, "zero.test."));
  now += 4;
  EXPECT_TRUE(has_answer(*cache, "five.test."));
  now += 1;
  EXPECT_FALSE(has_answer(*cache, "five.test."));
}

TEST_F(Policy, ALookUpReturnsWhatWasAskedForOrLeavesTheOutValuesAlone) {
  auto cache = make();
  cache->set_cache_answer("full.test.", {server("ns.test.", "", 1)}, 60, "raw", "{}");
  cache->set_cache_answer("json-only.test.", {}, 60, "", "{}");
  std::vector<ServerInfo> servers;
  for (const auto& [output, expected] :
       {std::pair{Cache::servers_only, "oldold"}, std::pair{Cache::servers_and_json, "old{}"},
        std::pair{Cache::servers_raw_and_json, "raw{}"}}) {
    std::string raw = "old", json = "old";
    ASSERT_TRUE(cache->get_cached_answer("full.test.", output, servers, raw, json));
    EXPECT_EQ(servers.size(), 1u);
    EXPECT_EQ(raw + json, expected);
  }
  // Entries without the asked output are misses that change nothing.
  std::string raw = "old", json = "old";
  EXPECT_FALSE(
      cache->get_cached_answer("json-only.test.", Cache::servers_raw_and_json, servers, raw, json));
  cache->set_cache_answer("full.test.", {}, 60, "raw", "");  // a newer answer replaces it
  EXPECT_FALSE(cache->get_cached_answer("full.test.", Cache::servers_and_json, servers, raw, json));
  EXPECT_EQ(servers.size(), 1u);
  EXPECT_EQ(raw + json, "oldold");
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

// Over the limit, half the limit goes: the answers expiring soonest and the servers with the
// smallest times (not the oldest). Half of a limit of 1 is nothing.
TEST_F(Policy, EvictionRemovesHalfTheLimitAfterTheExpiredAnswers) {
  for (const auto& [limit, evicted] : {std::pair{10u, 5}, std::pair{1u, 0}}) {
    auto cache = make(limit);
    cache->set_cache_answer("gone.test.", {}, 0, "", "");  // expired: not counted
    for (int index = 0; index < 11; ++index) {
      cache->set_cache_answer("a" + std::to_string(index) + ".test.", {}, 100 + index, "", "");
      cache->set_last_query_time("ns" + std::to_string(index) + ".test.", 50 - index);
    }
    now += 1;
    cache->filter_expired_entries();
    EXPECT_EQ(cache->answer_count(), 11u - evicted) << limit;
    EXPECT_EQ(cache->query_stats_count(), 11u - evicted) << limit;
    std::int32_t time_ms = 0;
    for (int index = 0; index < 11; ++index) {
      EXPECT_EQ(has_answer(*cache, "a" + std::to_string(index) + ".test."), index >= evicted)
          << limit << " " << index;
      EXPECT_EQ(cache->get_last_query_time("ns" + std::to_string(index) + ".test.", time_ms),
                index < 11 - evicted)
          << limit << " " << index;
    }
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
