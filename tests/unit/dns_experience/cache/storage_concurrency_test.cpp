// Many processes sharing one storage file: every entry of every process survives.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "dns_experience/cache/cache_test_support.h"
#include "support/processes.h"

namespace Network_tools::DNS_experience {
namespace {

using testing_support::Captured_log;
using testing_support::File_bytes;
using testing_support::Scratch_folder;
using testing_support::server;
using testing_support::write_file;
using testing_support::year_2100;

constexpr int process_count = 20;
constexpr int entries_per_process = 100;

std::string answer_name(int process, int entry) {
  return "p" + std::to_string(process) + "e" + std::to_string(entry) + ".test.";
}

std::string server_name(int process, int entry) {
  return "ns." + answer_name(process, entry);
}

// In a child: loads the file, adds its entries, says it is ready, waits for the word, stores.
// The exit status tells whether the store went through.
[[noreturn]] void run_child(const std::string& path, int process, int ready, int go) {
  std::ostringstream lines;
  Logger logger(LEVEL_DEBUG, "", lines);
  {
    Cache cache(logger, path, 10000);
    for (int entry = 0; entry < entries_per_process; ++entry) {
      const std::string address = "10.0." + std::to_string(process) + "." + std::to_string(entry);
      cache.set_cache_answer(answer_name(process, entry),
                             {server(server_name(process, entry), address, entry)}, 600, "", "");
      cache.set_last_query_time(server_name(process, entry), process);
    }
    char byte = 0;
    if (write(ready, "r", 1) != 1 || read(go, &byte, 1) < 0) _exit(2);
  }
  const bool stored = lines.str().find("Cache stored correctly") != std::string::npos;
  _exit(stored ? 0 : 1);
}

// Starts every process, lets them all store at once, and checks the file afterwards.
void run_round(const std::string& path, std::size_t seeded) {
  int ready[2], go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> children;
  for (int process = 0; process < process_count; ++process) {
    const pid_t child = fork();
    if (child < 0) break;
    if (child == 0) {
      close(ready[0]);
      close(go[1]);
      run_child(path, process, ready[1], go[0]);
    }
    children.push_back(child);
  }
  close(ready[1]);
  close(go[0]);
  char byte = 0;
  int loaded = 0;
  while (loaded < process_count && read(ready[0], &byte, 1) == 1) ++loaded;
  close(ready[0]);
  EXPECT_EQ(children.size(), std::size_t{process_count});
  EXPECT_EQ(loaded, static_cast<int>(children.size()));
  close(go[1]);  // every child reads end of file now and stores

  for (const pid_t child : children) {
    int status = 0;
    EXPECT_TRUE(Network_tools::testing_support::wait_for_child(child, status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a store did not go through";
  }

  Captured_log log;
  Cache cache(log.logger, path, 10000);
  EXPECT_TRUE(log.has("Cache loaded correctly")) << log.lines.str();
  EXPECT_EQ(cache.answer_count(), seeded + process_count * entries_per_process);
  EXPECT_EQ(cache.query_stats_count(), seeded + process_count * entries_per_process);
  int missing = 0;
  for (int process = 0; process < process_count; ++process) {
    for (int entry = 0; entry < entries_per_process; ++entry) {
      std::vector<ServerInfo> servers;
      std::string raw, json;
      std::int32_t time_ms = 0;
      const bool found =
          cache.get_cached_answer(answer_name(process, entry), Cache::servers_only, servers, raw,
                                  json) &&
          servers.size() == 1 && servers[0].hostname == server_name(process, entry) &&
          servers[0].resolution_time_ms == entry &&
          cache.get_last_query_time(server_name(process, entry), time_ms) && time_ms == process;
      if (!found) ++missing;
    }
  }
  EXPECT_EQ(missing, 0);
}

// Ten seed entries in each map, the kind of file an earlier run leaves.
void seed(const std::string& path) {
  File_bytes file;
  file.header(10);
  for (int index = 0; index < 10; ++index) {
    file.answer("seed" + std::to_string(index) + ".test.", year_2100, {}, "", "");
  }
  file.stats_count(10);
  for (int index = 0; index < 10; ++index) {
    file.stats("seed" + std::to_string(index) + ".ns.test.", index, year_2100 - 1);
  }
  write_file(path, file.bytes());
}

// Twenty processes load the same file, add a hundred answers and server times each, and store
// at the same moment; every round starts from another kind of file: none, one written just
// before (so that stores fall in the same clock tick as the last write), and one that had
// settled (so that the first store skips merging and the others must notice its write).
TEST(ConcurrentStorage, TwentyProcessesStoringAtOnceLoseNothing) {
  for (int repetition = 0; repetition < 2; ++repetition) {
    {
      Scratch_folder folder;
      SCOPED_TRACE("no file");
      run_round(folder.file("cache.dat"), 0);
    }
    {
      Scratch_folder folder;
      SCOPED_TRACE("a file written just before");
      seed(folder.file("cache.dat"));
      run_round(folder.file("cache.dat"), 10);
    }
    {
      Scratch_folder folder;
      SCOPED_TRACE("a file that had settled");
      seed(folder.file("cache.dat"));
      std::this_thread::sleep_for(std::chrono::milliseconds(2100));
      run_round(folder.file("cache.dat"), 10);
    }
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
