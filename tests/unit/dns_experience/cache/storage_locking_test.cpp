// Sharing the storage file: when a store must merge, the lock timeout, and the caller's alarm.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "dns_experience/cache/cache.h"
#include "dns_experience/cache/cache_test_support.h"
#include "dns_experience/cache/storage_stamp.h"
#include "support/processes.h"

namespace Network_tools::DNS_experience {
namespace {

using testing_support::Captured_log;
using testing_support::File_bytes;
using testing_support::read_file;
using testing_support::Scratch_folder;
using testing_support::write_file;
using testing_support::year_2100;

Storage_stamp settled_stamp() {
  Storage_stamp stamp;
  stamp.known = true;
  stamp.device = 1;
  stamp.inode = 2;
  stamp.size = 100;
  stamp.modified = {1000, 500000000};
  stamp.changed = {1000, 500000000};
  stamp.seen_at = {1010, 0};
  return stamp;
}

TEST(StorageStamp, OnlyAnIdenticalFileThatHadSettledBeforeTheLoadCountsAsUnchanged) {
  const Storage_stamp base = settled_stamp();
  EXPECT_TRUE(unchanged_since(base, base));

  const struct {
    const char* what;
    void (*change)(Storage_stamp& earlier, Storage_stamp& later);
  } cases[] = {
      {"unknown at load", [](Storage_stamp& earlier, Storage_stamp&) { earlier.known = false; }},
      {"unknown at store", [](Storage_stamp&, Storage_stamp& later) { later.known = false; }},
      {"other device", [](Storage_stamp&, Storage_stamp& later) { later.device = 9; }},
      {"other inode", [](Storage_stamp&, Storage_stamp& later) { later.inode = 9; }},
      {"other size", [](Storage_stamp&, Storage_stamp& later) { later.size = 101; }},
      {"modified a nanosecond later",
       [](Storage_stamp&, Storage_stamp& later) { later.modified.tv_nsec += 1; }},
      {"changed a nanosecond later",
       [](Storage_stamp&, Storage_stamp& later) { later.changed.tv_nsec += 1; }},
      // A write in the clock tick of the last change would leave every time as it was.
      {"loaded in the tick of the last change",
       [](Storage_stamp& earlier, Storage_stamp& later) {
         earlier.seen_at = {1000, 504000000};
         later.seen_at = earlier.seen_at;
       }},
      // On a file system with whole-second or two-second times, so would a write in that span.
      {"loaded 1.9 s after the last change",
       [](Storage_stamp& earlier, Storage_stamp& later) {
         earlier.seen_at = {1002, 400000000};
         later.seen_at = earlier.seen_at;
       }},
      {"last change after the load (clock stepped back)",
       [](Storage_stamp& earlier, Storage_stamp& later) {
         earlier.changed = later.changed = {2000, 0};
       }},
  };
  for (const auto& each : cases) {
    Storage_stamp earlier = base, later = base;
    each.change(earlier, later);
    EXPECT_FALSE(unchanged_since(earlier, later)) << each.what;
  }
  Storage_stamp two_seconds = base;
  two_seconds.seen_at = {1002, 500000000};
  EXPECT_TRUE(unchanged_since(two_seconds, two_seconds));
}

struct SharedStorage : ::testing::Test {
  Scratch_folder folder;
  std::string path = folder.file("dns_experience_cache.dat");

  std::unique_ptr<Cache> open(Captured_log& log) {
    return std::make_unique<Cache>(log.logger, path, 10000);
  }
  bool has_answer(const std::string& hostname) {
    Captured_log log;
    auto cache = open(log);
    std::vector<ServerInfo> servers;
    std::string raw, json;
    return cache->get_cached_answer(hostname, Cache::servers_only, servers, raw, json);
  }
};

TEST_F(SharedStorage, AWriteAfterTheLoadIsMergedEvenWhenItLeftTheModificationTimeAsItWas) {
  write_file(
      path,
      File_bytes().header(1).answer("seed.test.", year_2100, {}, "", "").stats_count(0).bytes());
  struct stat seeded {};
  ASSERT_EQ(stat(path.c_str(), &seeded), 0);
  // Let the file settle, so that an unchanged file need not be merged.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  Captured_log first_log, second_log;
  auto first = open(first_log);
  auto second = open(second_log);
  first->set_cache_answer("first.test.", {}, 600, "", "");
  first.reset();
  EXPECT_TRUE(first_log.has("No need to reload cache from file"));
  // As if the first store had happened within the clock tick of the seed's.
  const timespec times[2] = {seeded.st_atim, seeded.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  second->set_cache_answer("second.test.", {}, 600, "", "");
  second.reset();
  EXPECT_TRUE(second_log.has("Merging old cache with current cache"));
  EXPECT_TRUE(has_answer("seed.test."));
  EXPECT_TRUE(has_answer("first.test."));
  EXPECT_TRUE(has_answer("second.test."));
}

// A child process that holds the lock of a file until the holder is destroyed.
class Lock_holder {
 public:
  explicit Lock_holder(const std::string& path) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      const int file = open(path.c_str(), O_RDWR | O_CREAT, 0600);
      const char locked = file >= 0 && lockf(file, F_LOCK, 0) == 0 ? '1' : '0';
      char byte = 0;
      // Holds the lock until the parent closes its end of `release`, or ends.
      if (write(ready[1], &locked, 1) == 1 && read(release[0], &byte, 1) < 0) _exit(1);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char locked = 0;
    locked_ = read(ready[0], &locked, 1) == 1 && locked == '1';
    close(ready[0]);
  }
  ~Lock_holder() {
    close(release_);
    int status = 0;
    if (pid_ > 0) Network_tools::testing_support::wait_for_child(pid_, status);
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

volatile sig_atomic_t alarms_seen = 0;
void count_alarm(int) {
  alarms_seen = alarms_seen + 1;
}

// The caller's own SIGALRM action and pending alarm, checked after every open of the storage.
struct Callers_alarm {
  Callers_alarm() {
    struct sigaction action {};
    action.sa_handler = count_alarm;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, &previous);
    alarm(60);
  }
  ~Callers_alarm() {
    alarm(0);
    sigaction(SIGALRM, &previous, nullptr);
  }
  // True when our handler is in place again and about `seconds_gone` of the 60 have passed.
  bool intact(unsigned seconds_gone) const {
    struct sigaction current {};
    sigaction(SIGALRM, nullptr, &current);
    const unsigned left = alarm(0);
    alarm(left);
    return current.sa_handler == count_alarm && left <= 60 - seconds_gone &&
           left + 2 >= 60 - seconds_gone && alarms_seen == 0;
  }
  struct sigaction previous {};
};

TEST_F(SharedStorage, OpeningTheStorageGivesTheCallersAlarmBack) {
  Callers_alarm callers;
  {
    Captured_log log;
    open(log)->set_cache_answer("lab.test.", {}, 600, "", "");
    EXPECT_TRUE(log.has("Cache stored correctly"));
  }
  EXPECT_TRUE(callers.intact(0));
}

// Takes two lock timeouts: about six seconds.
TEST_F(SharedStorage, ALockHeldElsewhereForLongerThanThreeSecondsIsGivenUpOn) {
  const std::string content =
      File_bytes().header(1).answer("seed.test.", year_2100, {}, "", "").stats_count(0).bytes();
  write_file(path, content);
  Lock_holder holder(path);
  ASSERT_TRUE(holder.locked());
  Callers_alarm callers;
  Captured_log log;

  const auto start = std::chrono::steady_clock::now();
  auto cache = open(log);
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(2000));
  EXPECT_LT(waited, std::chrono::milliseconds(5000));
  EXPECT_TRUE(log.has("timed out locking file in 'ab+': " + path));
  EXPECT_TRUE(log.has("Cache cannot be stored because the storage could not be opened"));
  EXPECT_EQ(cache->answer_count(), 0u);

  // The run goes on with an empty cache; its store gives up the same way and writes nothing.
  cache->set_cache_answer("lab.test.", {}, 600, "", "");
  EXPECT_EQ(cache->answer_count(), 1u);
  log.lines.str("");
  cache.reset();
  EXPECT_TRUE(log.has("timed out locking file in 'ab+': " + path));
  EXPECT_TRUE(log.has("Cache cannot be stored because the storage could not be opened"));
  EXPECT_EQ(read_file(path), content);
  EXPECT_TRUE(callers.intact(6));
}

}  // namespace
}  // namespace Network_tools::DNS_experience
