// The storage file: its bytes, round trips, and files that must not be trusted.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "dns_experience/cache/cache_test_support.h"

namespace Network_tools::DNS_experience {
namespace {

using testing_support::Captured_log;
using testing_support::File_bytes;
using testing_support::has_answer;
using testing_support::read_file;
using testing_support::Scratch_folder;
using testing_support::server;
using testing_support::write_file;
using testing_support::year_2100;
using Counts = std::pair<std::size_t, std::size_t>;

constexpr std::int64_t now = year_2100 - 1000;

struct Storage : ::testing::Test {
  Scratch_folder folder;
  std::string path = folder.file("dns_experience_cache.dat");
  Captured_log log;

  std::unique_ptr<Cache> open() {
    return std::make_unique<Cache>(log.logger, path, 10000, [] { return now; });
  }
  // Loads the file and tells how many answers and stats it gave.
  Counts load_counts() {
    const auto cache = open();
    return {cache->answer_count(), cache->query_stats_count()};
  }
};

const std::vector<ServerInfo> three_servers = {server("a.ns.test.", "192.0.2.1", 7),
                                               server("b.ns.test.", "2001:db8::53", -1),
                                               server("c.ns.test.", "", 0)};

TEST_F(Storage, EveryFieldSurvivesARoundTrip) {
  const std::string longest_name = std::string(252, 'n') + ".ns.";  // 256 characters
  const std::string large_raw(3 << 20, 'r');  // larger than the buffers of reader and writer
  const std::string large_json = "{\"text\":\"" + std::string(2 << 20, 'j') + "\"}";
  const std::vector<ServerInfo> servers = {three_servers[0], three_servers[1], three_servers[2],
                                           server(longest_name, "203.0.113.9", 2147483647)};
  {
    auto cache = open();
    cache->set_cache_answer(longest_name, servers, 60, large_raw, large_json);
    cache->set_cache_answer("no-servers.test.", {}, 60, "", "");
    cache->set_last_query_time(longest_name, 0);
    cache->set_last_query_time("failed.ns.test.", -5);
  }
  auto cache = open();
  std::vector<ServerInfo> got;
  std::string raw, json;
  ASSERT_TRUE(cache->get_cached_answer(longest_name, Cache::servers_raw_and_json, got, raw, json));
  ASSERT_EQ(got.size(), servers.size());
  for (std::size_t index = 0; index < servers.size(); ++index) {
    EXPECT_EQ(got[index].hostname, servers[index].hostname);
    EXPECT_EQ(got[index].address, servers[index].address);
    EXPECT_EQ(got[index].resolution_time_ms, servers[index].resolution_time_ms);
  }
  EXPECT_TRUE(raw == large_raw && json == large_json);
  EXPECT_TRUE(has_answer(*cache, "no-servers.test."));
  std::int32_t time_ms = -1;
  EXPECT_TRUE(cache->get_last_query_time(longest_name, time_ms));
  EXPECT_EQ(time_ms, 0);
  EXPECT_TRUE(cache->get_last_query_time("failed.ns.test.", time_ms));
  EXPECT_EQ(time_ms, 2147483647);
}

// The file holds exactly the documented bytes, and nothing of a longer earlier content remains.
TEST_F(Storage, AStoreWritesTheDocumentedBytesOverALargerFile) {
  File_bytes larger;
  larger.header(40);
  for (int index = 0; index < 40; ++index) {
    larger.answer("expired" + std::to_string(index) + ".test.", now - 1, three_servers,
                  std::string(100, 'r'), "{}");
  }
  write_file(path, larger.stats_count(0).bytes());
  {
    auto cache = open();
    EXPECT_EQ(cache->answer_count(), 0u);
    cache->set_cache_answer("lab.test.", three_servers, 1000, "raw", "{}");
    cache->set_last_query_time("a.ns.test.", 12);
  }
  EXPECT_EQ(read_file(path), File_bytes()
                                 .header(1)
                                 .answer("lab.test.", year_2100, three_servers, "raw", "{}")
                                 .stats_count(1)
                                 .stats("a.ns.test.", 12, now)
                                 .bytes());
}

// A file of another version, with bytes after its last entry, or with a name of 257 characters
// (the round trip reads 256 back) is not trusted at all: it is ignored, and replaced at the
// next store.
TEST_F(Storage, UntrustedFilesAreIgnoredAndReplaced) {
  const auto with_server = [](const std::string& name) {
    return File_bytes()
        .header(2)
        .answer("lab.test.", year_2100, {}, "", "")
        .answer("other.test.", year_2100, {server(name, "", 1)}, "", "")
        .stats_count(0)
        .bytes();
  };
  const std::pair<std::string, std::string> cases[] = {
      {File_bytes().header(0, 1).stats_count(0).bytes(), "Incompatible version: 1"},
      {with_server("ns.test.") + '\0', "Leftover data inside the cache, cannot trust the data"},
      {with_server(std::string(257, 'h')),
       "Unable to read hostname cache is considered corrupted"}};
  for (const auto& [content, complaint] : cases) {
    write_file(path, content);
    {
      auto cache = open();
      EXPECT_EQ(cache->answer_count(), 0u);
      EXPECT_TRUE(log.has(complaint));
      EXPECT_TRUE(log.has("Cache load failed"));
      cache->set_last_query_time("a.ns.test.", 1);
    }
    EXPECT_EQ(read_file(path),
              File_bytes().header(0).stats_count(1).stats("a.ns.test.", 1, now).bytes());
  }
}

// A name the reader refuses would cost every other entry of the file at the next load.
TEST_F(Storage, NamesTheFileCannotHoldAreNotCachedAndTheRestSurvives) {
  const std::string longest(256, 'x');
  const std::string too_long(257, 'x');
  {
    auto cache = open();
    cache->set_cache_answer(longest, {server(longest, "192.0.2.1", 1)}, 60, "", "");
    cache->set_cache_answer(too_long, {}, 60, "", "");
    cache->set_cache_answer("long-server.test.", {server(too_long, "192.0.2.1", 1)}, 60, "", "");
    cache->set_cache_answer("empty-server.test.", {server("", "192.0.2.1", 1)}, 60, "", "");
    cache->set_cache_answer(std::string("null\0byte.test.", 15), {}, 60, "", "");
    cache->set_cache_answer("line\nend.test.", {}, 60, "", "");
    cache->set_last_query_time(too_long, 5);
    cache->set_last_query_time("line\nend.ns.test.", 5);
    cache->set_last_query_time(longest, 5);
    EXPECT_TRUE(log.has("Answer not cached"));
    EXPECT_TRUE(log.has("Query time not cached"));
  }
  EXPECT_EQ(load_counts(), Counts(1, 1));
}

// Files from other writers may end names with 0x0A and hold other address types. Such a file is
// read whole (an answer expiring in the second of the load included) and left alone by a cache
// that did not change; every proper prefix of it is refused, naming the field that was cut
// short (or the count whose entries no longer fit), and leaves the cache empty.
TEST_F(Storage, AWholeFileIsReadAndLeftAloneAndAnyCutOfItIsRefusedNamingTheField) {
  File_bytes file;
  file.header(3).answer("lab.test.", year_2100, three_servers, "raw text", "{\"a\":1}");
  file.answer("", year_2100, {}, "", "");
  file.hostname("other.test.", '\n').value(now, "expiration timestamp");
  file.hostname("a.ns.test.", '\n').value(std::uint8_t{7}, "address type");
  file.value(std::int32_t{5}, "name resolution time milliseconds");
  file.add("\n", "hostname").output("").output("");
  file.stats_count(2).stats("a.ns.test.", 3, now).stats("b.ns.test.", -1, now);
  const std::string whole = file.bytes();
  write_file(path, whole);
  {
    auto cache = open();
    EXPECT_EQ(cache->query_stats_count(), 2u);
    std::vector<ServerInfo> got;
    std::string raw, json;
    EXPECT_TRUE(has_answer(*cache, "lab.test.") && has_answer(*cache, ""));
    ASSERT_TRUE(cache->get_cached_answer("other.test.", Cache::servers_only, got, raw, json));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].hostname, "a.ns.test.");
    EXPECT_FALSE(got[0].is_resolved());
    EXPECT_EQ(got[0].resolution_time_ms, 5);
  }
  EXPECT_EQ(read_file(path), whole);
  for (std::size_t size = 1; size < whole.size(); ++size) {
    write_file(path, whole.substr(0, size));
    log.lines.str("");
    EXPECT_EQ(load_counts(), Counts(0, 0)) << size;
    EXPECT_TRUE(
        log.has("Unable to read " + file.field_refused_at(size) + " cache is considered corrupted"))
        << "cut at " << size << ":\n"
        << log.lines.str();
  }
}

// Counts and lengths that the rest of the file cannot hold are refused as soon as they are read,
// before anything is allocated or read for them.
TEST_F(Storage, AbsurdCountsAndLengthsAreRefusedAtOnce) {
  const std::uint32_t absurd = 0xFFFFFFFF;
  const std::pair<std::string, std::string> cases[] = {
      {File_bytes().header(absurd).stats_count(0).bytes(),
       "Unable to read answer entries cache is considered corrupted, error: 4294967295 entries "
       "announced, 4 bytes left"},
      {File_bytes().header(0).stats_count(absurd).bytes(),
       "Unable to read query stats entries cache is considered corrupted, error: 4294967295 "
       "entries announced, 0 bytes left"},
      {File_bytes()
           .header(1)
           .hostname("lab.test.")
           .value(year_2100, "expiration timestamp")
           .add("\n", "hostname")
           .value(absurd, "serialized string length")
           .add(std::string(8, 'r'), "serialized string")
           .bytes(),
       "Unable to read serialized string cache is considered corrupted, error: length 4294967295, "
       "8 bytes left"}};
  for (const auto& [content, complaint] : cases) {
    write_file(path, content);
    log.lines.str("");
    EXPECT_EQ(load_counts(), Counts(0, 0));
    EXPECT_TRUE(log.has(complaint)) << log.lines.str();
  }
}

TEST_F(Storage, AnUnusableStorageFolderLeavesAWorkingCache) {
  path = folder.file("missing-folder/cache.dat");
  auto cache = open();
  EXPECT_TRUE(log.has("could not open cache storage file: " + path + " in append mode"));
  cache->set_cache_answer("lab.test.", {}, 10, "", "");
  EXPECT_EQ(cache->answer_count(), 1u);
  cache.reset();
  EXPECT_TRUE(log.has("Cache cannot be stored because the storage could not be opened"));
}

}  // namespace
}  // namespace Network_tools::DNS_experience
