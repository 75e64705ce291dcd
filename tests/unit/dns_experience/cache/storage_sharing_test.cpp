// Sharing the storage file between processes: when a store must merge, the lock timeout, the
// caller's alarm, and many processes storing at once without losing an entry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "dns_experience/cache/cache_test_support.h"
#include "dns_experience/cache/storage_stamp.h"
#include "support/processes.h"

namespace Network_tools::DNS_experience {
namespace {

using Network_tools::testing_support::wait_for_child;
using testing_support::Captured_log;
using testing_support::read_file;
using testing_support::Scratch_folder;
using testing_support::server;

TEST(StorageStamp, OnlyAnIdenticalFileThatHadSettledBeforeTheLoadCountsAsUnchanged) {
  // Last changed at 1000.5 s, looked at 9.5 s later.
  const Storage_stamp base{true, 1, 2, 100, {1000, 500000000}, {1000, 500000000}, {1010, 0}};
  using Change = void (*)(Storage_stamp & earlier, Storage_stamp & later);
  const Change differences[] = {
      [](auto& earlier, auto&) { earlier.known = false; },
      [](auto&, auto& later) { later.known = false; },
      [](auto&, auto& later) { later.device = 9; },
      [](auto&, auto& later) { later.inode = 9; },
      [](auto&, auto& later) { later.size = 101; },
      [](auto&, auto& later) { later.modified.tv_nsec += 1; },
      [](auto&, auto& later) { later.changed.tv_nsec += 1; },
  };
  for (const Change& change : differences) {
    Storage_stamp earlier = base, later = base;
    change(earlier, later);
    EXPECT_FALSE(unchanged_since(earlier, later)) << &change - differences;
  }
  // A write within two seconds of the last change could leave every time as it was (whole- or
  // two-second file times); a load before the last change means the clock was stepped back.
  const std::pair<timespec, bool> loads[] = {{{1000, 504000000}, false},
                                             {{1002, 400000000}, false},
                                             {{1002, 500000000}, true},
                                             {{1010, 0}, true},
                                             {{999, 0}, false}};
  for (const auto& [seen_at, settled] : loads) {
    Storage_stamp stamp = base;
    stamp.seen_at = seen_at;
    EXPECT_EQ(unchanged_since(stamp, stamp), settled) << seen_at.tv_sec << "." << seen_at.tv_nsec;
  }
}

struct SharedStorage : ::testing::Test {
  Scratch_folder folder;
  std::string path = folder.file("dns_experience_cache.dat");

  std::unique_ptr<Cache> open(Captured_log& log) {
    return std::make_unique<Cache>(log.logger, path, 10000);
  }
};

// Only the change time tells that the file was written after the second cache loaded it.
TEST_F(SharedStorage, AWriteAfterTheLoadIsMergedEvenWhenItLeftSizeAndModificationTimeAsTheyWere) {
  {
    Captured_log log;
    open(log)->set_cache_answer("gone.test.", {}, 0, "", "");  // expired when the others load
  }
  struct stat seeded {};
  ASSERT_EQ(stat(path.c_str(), &seeded), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));  // settled: no merge needed

  Captured_log first_log, second_log;
  auto first = open(first_log);
  auto second = open(second_log);
  first->set_cache_answer("frst.test.", {}, 600, "", "");  // as long as the expired name
  first.reset();
  EXPECT_TRUE(first_log.has("No need to reload cache from file"));
  // As if the first store had happened within the clock tick of the seed's.
  const timespec times[2] = {seeded.st_atim, seeded.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  struct stat rewritten {};
  ASSERT_EQ(stat(path.c_str(), &rewritten), 0);
  ASSERT_EQ(rewritten.st_size, seeded.st_size);

  second->set_cache_answer("second.test.", {}, 600, "", "");
  second.reset();
  EXPECT_TRUE(second_log.has("Merging old cache with current cache"));
  Captured_log log;
  EXPECT_EQ(open(log)->answer_count(), 2u);
}

// A child process holding the lock of a file until the object goes (or the test process ends).
struct Lock_holder {
  explicit Lock_holder(const std::string& path) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return;
    pid = fork();
    if (pid == 0) {
      const int file = ::open(path.c_str(), O_RDWR);
      char byte = 0;
      // Says it holds the lock, then waits for the other end to close.
      if (file >= 0 && lockf(file, F_LOCK, 0) == 0 && write(ends[1], "1", 1) == 1 &&
          read(ends[1], &byte, 1) < 0) {
        _exit(1);
      }
      _exit(0);
    }
    close(ends[1]);
    channel = ends[0];
    char byte = 0;
    locked = read(channel, &byte, 1) == 1;
  }
  ~Lock_holder() {
    close(channel);
    int status = 0;
    if (pid > 0) wait_for_child(pid, status);
  }
  pid_t pid = -1;
  int channel = -1;
  bool locked = false;
};

void ignore_alarm(int) {}

// Takes two lock timeouts: about six seconds. The caller's SIGALRM action and pending alarm
// must survive both.
TEST_F(SharedStorage, ALockHeldElsewhereForLongerThanThreeSecondsIsGivenUpOn) {
  struct sigaction callers {
  }, previous{};
  callers.sa_handler = ignore_alarm;
  sigaction(SIGALRM, &callers, &previous);
  alarm(60);
  // True when our handler is in place again and about `seconds_gone` of the 60 have passed.
  const auto alarm_intact = [](unsigned seconds_gone) {
    struct sigaction current {};
    sigaction(SIGALRM, nullptr, &current);
    const unsigned left = alarm(0);
    alarm(left);
    return current.sa_handler == ignore_alarm && left <= 60 - seconds_gone &&
           left + 2 >= 60 - seconds_gone;
  };
  {
    Captured_log log;
    open(log)->set_cache_answer("seed.test.", {}, 600, "", "");
  }
  EXPECT_TRUE(alarm_intact(0));
  const std::string content = read_file(path);
  Lock_holder holder(path);
  ASSERT_TRUE(holder.locked);
  Captured_log log;
  const auto gave_up = [&] {
    return log.has("timed out locking file in 'ab+': " + path) &&
           log.has("Cache cannot be stored because the storage could not be opened");
  };

  const auto start = std::chrono::steady_clock::now();
  auto cache = open(log);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(2000));
  EXPECT_LT(waited, std::chrono::milliseconds(5000));
  EXPECT_TRUE(gave_up());
  EXPECT_EQ(cache->answer_count(), 0u);

  // The run goes on with an empty cache; its store gives up the same way and writes nothing.
  cache->set_cache_answer("lab.test.", {}, 600, "", "");
  log.lines.str("");
  cache.reset();
  EXPECT_TRUE(gave_up());
  EXPECT_EQ(read_file(path), content);
  EXPECT_TRUE(alarm_intact(6));
  alarm(0);
  sigaction(SIGALRM, &previous, nullptr);
}

constexpr int process_count = 20;
constexpr int entries_per_process = 100;

// In a child: loads the file, adds its entries, says it is ready, waits for the word, stores.
[[noreturn]] void run_child(const std::string& path, int process, int ready, int go) {
  Captured_log log;
  {
    Cache cache(log.logger, path, 10000);
    for (int entry = 0; entry < entries_per_process; ++entry) {
      const std::string address = "10.0." + std::to_string(process) + "." + std::to_string(entry);
      const std::string name = "p" + std::to_string(process) + "e" + std::to_string(entry) + ".";
      cache.set_cache_answer(name, {server("ns." + name, address, entry)}, 600, "", "");
      cache.set_last_query_time("ns." + name, process);
    }
    char byte = 0;
    if (write(ready, "r", 1) != 1 || read(go, &byte, 1) < 0) _exit(2);
  }
  _exit(log.has("Cache stored correctly") ? 0 : 1);
}

// Twenty processes load the same file, add a hundred answers and server times each, and store
// at the same moment, from no file, from one written just before (stores in the clock tick of
// the last write), and from one that had settled (the first store skips merging and the others
// must notice its write). Every name is another, so the counts show that nothing was lost.
TEST(ConcurrentStorage, TwentyProcessesStoringAtOnceLoseNothing) {
  for (int repetition = 0; repetition < 2; ++repetition) {
    for (const int settle_ms : {-1, 0, 2100}) {
      SCOPED_TRACE(settle_ms);
      Scratch_folder folder;
      const std::string path = folder.file("cache.dat");
      const std::size_t seeded = settle_ms < 0 ? 0 : 1;
      if (seeded != 0) {
        Captured_log log;
        Cache cache(log.logger, path, 10000);
        cache.set_cache_answer("seed.test.", {}, 600, "", "");
        cache.set_last_query_time("seed.ns.test.", 1);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(std::max(settle_ms, 0)));

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
      std::size_t loaded = 0;
      while (loaded < children.size() && read(ready[0], &byte, 1) == 1) ++loaded;
      close(ready[0]);
      EXPECT_EQ(loaded, std::size_t{process_count});
      close(go[1]);  // every child reads end of file now and stores
      for (const pid_t child : children) {
        int status = 0;
        EXPECT_TRUE(wait_for_child(child, status) && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << "a store did not go through";
      }
      Captured_log log;
      Cache cache(log.logger, path, 10000);
      EXPECT_TRUE(log.has("Cache loaded correctly")) << log.lines.str();
      EXPECT_EQ(cache.answer_count(), seeded + std::size_t{process_count} * entries_per_process);
      EXPECT_EQ(cache.query_stats_count(),
                seeded + std::size_t{process_count} * entries_per_process);
    }
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
