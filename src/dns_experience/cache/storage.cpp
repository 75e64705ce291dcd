// The cache storage file: opening it under two locks with a timeout, loading, storing, merging.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "dns_experience/cache/cache.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {

std::atomic<bool> is_lock_timedout{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is written by a signal handler");

void on_lock_timeout(int signal) {
  if (signal == SIGALRM) is_lock_timedout = true;
}

namespace {

const std::string tag = "CACHE";
const std::string warning_tag = "CACHE WARNING";
const std::string error_tag = "CACHE ERROR";

constexpr unsigned lock_timeout_seconds = 3;

std::string error_text() {
  return Network_tools::error_text(errno);
}

// SIGALRM in `lock_timeout_seconds` while alive, so that a lock held elsewhere cannot block us
// for longer. The caller's SIGALRM action and pending alarm are given back when it stops.
class Lock_alarm {
 public:
  Lock_alarm() {
    is_lock_timedout = false;
    struct sigaction action {};
    action.sa_handler = on_lock_timeout;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: the signal must interrupt a lockf that waits.
    action.sa_flags = SA_RESETHAND;
    armed_ = sigaction(SIGALRM, &action, &previous_action_) == 0;
    if (!armed_) return;
    // A caller that blocks SIGALRM would otherwise leave a waiting lockf waiting for good.
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm_only, &previous_mask_);
    previous_alarm_ = alarm(lock_timeout_seconds);
  }
  ~Lock_alarm() { stop(); }
  Lock_alarm(const Lock_alarm&) = delete;
  Lock_alarm& operator=(const Lock_alarm&) = delete;

  bool armed() const { return armed_; }

  // Cancels the alarm and returns the whole seconds that were left of it.
  unsigned stop() {
    if (!armed_) return 0;
    armed_ = false;
    const unsigned left = alarm(0);
    sigaction(SIGALRM, &previous_action_, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    if (previous_alarm_ > 0) {
      const unsigned elapsed = lock_timeout_seconds - left;
      alarm(previous_alarm_ > elapsed ? previous_alarm_ - elapsed : 1);
    }
    return left;
  }

 private:
  struct sigaction previous_action_ {};
  sigset_t previous_mask_{};
  unsigned previous_alarm_ = 0;
  bool armed_ = false;
};

// Holds back, while alive, the signals that end the process (SIGTERM, the agent's way of stopping
// a test, ends it through the tool's handler; SIGHUP, SIGINT and SIGQUIT by their default
// action): a store that one interrupted would leave a file that no later run can read. They are
// delivered when it ends.
class Termination_block {
 public:
  Termination_block() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~Termination_block() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  Termination_block(const Termination_block&) = delete;
  Termination_block& operator=(const Termination_block&) = delete;

 private:
  sigset_t previous_{};
};

// lockf's F_LOCK, waiting again when a signal other than the timeout interrupts it.
bool lock_unless_timed_out(int descriptor) {
  while (!is_lock_timedout) {
    if (lockf(descriptor, F_LOCK, 0) == 0) return true;
    if (errno != EINTR) return false;
  }
  errno = EINTR;
  return false;
}

}  // namespace

std::FILE* Cache::open_storage(bool& is_empty) {
  const std::string& path = storage_path;
  logger.write(LEVEL_DEBUG, tag, "Opening cache storage path");
  // Append mode creates a missing file without truncating an existing one.
  std::FILE* stream = std::fopen(path.c_str(), "ab+");
  if (stream == nullptr) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could not open cache storage file: " + path +
                     " in append mode, with error: " + error_text());
    return nullptr;
  }
  // Closes the stream of an open that failed; `message` and the reason tell when that fails too.
  const auto give_up = [&](const std::string& message) -> std::FILE* {
    if (std::fclose(stream) != 0) logger.write(LEVEL_WARNING, warning_tag, message + error_text());
    return nullptr;
  };
  const int first_descriptor = fileno(stream);
  if (first_descriptor < 0) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could not get file descriptor when opening file: " + path +
                     ", with error: " + error_text());
    return give_up("could not close file: " + path + " on fileno failure, with error: ");
  }

  Lock_alarm lock_alarm;
  if (!lock_alarm.armed()) {
    logger.write(LEVEL_WARNING, error_tag, "could not setup lock timeout for file: " + path);
    static_cast<void>(std::fclose(stream));  // nothing written yet; the failure is logged
    return nullptr;
  }
  logger.write(LEVEL_DEBUG, tag, "Lock timeout setup correctly");

  if (!lock_unless_timed_out(first_descriptor)) {
    const std::string error = error_text();
    logger.write(LEVEL_WARNING, warning_tag,
                 is_lock_timedout
                     ? "timed out locking file in 'ab+': " + path
                     : "could not lock file in 'ab+': " + path + ", with error: " + error);
    return give_up("could not close file in 'ab+': " + path + " on lockf failure, with error: ");
  }

  // Read and write from the start; append mode would send every write to the end.
  stream = std::freopen(path.c_str(), "rb+", stream);
  if (stream == nullptr) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could not open cache storage file: " + path +
                     " in read mode, with error: " + error_text());
    return nullptr;
  }
  // Reopening closed the first descriptor, which let its lock go already; this only makes
  // sure of it.
  const bool unlocked = lockf(first_descriptor, F_ULOCK, 0) == 0;
  const std::string unlock_error = unlocked ? "" : error_text();
  if (is_lock_timedout) {
    logger.write(LEVEL_WARNING, warning_tag, "timed out unlocking file: " + path);
  }
  if (!unlocked) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could not unlock file: " + path + ", with error: " + unlock_error);
  }
  if (is_lock_timedout) {
    static_cast<void>(std::fclose(stream));  // nothing written yet; the failure is logged
    return nullptr;
  }

  const int descriptor = fileno(stream);
  if (descriptor < 0) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could not get file descriptor while reopening the file: " + path +
                     " error: " + error_text());
    return give_up("could not close reopened file: " + path + ", with error: ");
  }
  if (!lock_unless_timed_out(descriptor)) {
    const std::string error = error_text();
    logger.write(LEVEL_WARNING, warning_tag,
                 is_lock_timedout
                     ? "timed out locking reopened file: " + path
                     : "could not lock reopened file: " + path + ", with error: " + error);
    static_cast<void>(std::fclose(stream));  // nothing written yet; the failure is logged
    return nullptr;
  }
  const unsigned left = lock_alarm.stop();
  logger.write(LEVEL_INFO, tag,
               "elapsed time in the lock timeout critical section " +
                   std::to_string(lock_timeout_seconds - left) + "s");

  struct stat status {};
  if (fstat(descriptor, &status) != 0) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "could nor read file stats: " + path +
                     " assuming the file is old, with error: " + error_text());
    storage_stamp = Storage_stamp{};
  } else {
    storage_stamp = make_storage_stamp(status);
    is_empty = status.st_size == 0;
  }
  logger.write(LEVEL_DEBUG, tag, "Opened cache storage path successfully");
  return stream;
}

void Cache::close_storage(std::FILE* stream) {
  if (stream == nullptr) {
    logger.write(LEVEL_DEBUG, tag, "Nothing to do when closing null storage");
    return;
  }
  const std::string& path = storage_path;
  bool closed_cleanly = true;
  const auto report = [&](const std::string& message) {
    closed_cleanly = false;
    logger.write(LEVEL_ERROR, error_tag, message + " error: " + error_text());
  };
  if (std::fflush(stream) != 0) report("Could not update file: " + path);
  const int descriptor = fileno(stream);
  if (descriptor < 0) {
    report("Could not get file descriptor when closing file: " + path);
  } else if (lockf(descriptor, F_ULOCK, 0) != 0) {
    report("Could not unlock file: " + path);
  }
  // Closing releases the lock in any case.
  if (std::fclose(stream) != 0) report("Could not close file: " + path);
  if (closed_cleanly) {
    logger.write(LEVEL_DEBUG, tag, "Cache closed successfully");
  } else {
    logger.write(LEVEL_WARNING, warning_tag,
                 "Cache is not updated or could be corrupted check previous logs");
  }
}

void Cache::load_cache() {
  bool is_empty = false;
  std::FILE* stream = open_storage(is_empty);
  try {
    if (stream == nullptr) {
      logger.write(LEVEL_ERROR, error_tag,
                   "Cache cannot be stored because the storage could not be opened");
    } else if (is_empty) {
      logger.write(LEVEL_DEBUG, tag, "No cache available");
    } else if (deserialize(stream)) {
      logger.write(LEVEL_DEBUG, tag, "Cache loaded correctly");
    } else {
      logger.write(LEVEL_WARNING, warning_tag, "Cache load failed");
    }
  } catch (const std::exception& error) {
    // Memory exhaustion: start empty rather than end the test.
    answers.clear();
    query_stats.clear();
    logger.write(LEVEL_WARNING, warning_tag, std::string("Cache load failed: ") + error.what());
  }
  close_storage(stream);
}

void Cache::store_cache() {
  const Storage_stamp loaded = storage_stamp;
  bool is_empty = false;
  std::FILE* stream = open_storage(is_empty);
  if (stream == nullptr) {
    logger.write(LEVEL_ERROR, error_tag,
                 "Cache cannot be stored because the storage could not be opened");
    close_storage(stream);
    return;
  }
  // While the file is merged, rewritten and closed.
  const Termination_block hold_termination;
  try {
    // Merging is always correct, only slower: it is skipped only when no other process can
    // have written the file since it was loaded.
    if (!is_empty && !unchanged_since(loaded, storage_stamp)) {
      logger.write(LEVEL_DEBUG, tag, "Merging old cache with current cache");
      merge_entries(stream);
    } else {
      logger.write(LEVEL_DEBUG, tag, "No need to reload cache from file");
    }
    filter_expired_entries();
    std::rewind(stream);
    if (serialize(stream)) {
      logger.write(LEVEL_INFO, tag, "Cache stored correctly");
      // Nothing of a longer previous content may remain after the new end.
      const off_t end = ftello(stream);
      if (end < 0 || ftruncate(fileno(stream), end) != 0) {
        logger.write(LEVEL_ERROR, error_tag,
                     "Could not truncate file: " + storage_path +
                         " to the right size, error: " + error_text());
      }
    } else {
      logger.write(LEVEL_WARNING, warning_tag, "Cache storage failed");
    }
  } catch (const std::exception& error) {
    logger.write(LEVEL_WARNING, warning_tag, std::string("Cache storage failed: ") + error.what());
  }
  close_storage(stream);
}

void Cache::merge_entries(std::FILE* stream) {
  // This process's entries win over the file's, so only the file's other entries are read:
  // merging then needs little more memory than the cache itself.
  Answer_map read_answers(&arena);
  Query_stats_map read_stats(&arena);
  if (!read_storage(stream, read_answers, read_stats, true)) {
    logger.write(LEVEL_WARNING, warning_tag,
                 "stored cache is considered corrupted. Replacing with current ZEL cache");
    return;
  }
  logger.write(LEVEL_DEBUG, tag,
               "Data deserialized correctly proceeding with the update merging current and "
               "stored cache");
  answers.merge(read_answers);
  query_stats.merge(read_stats);
  logger.write(LEVEL_DEBUG, tag, "Merging current and stored cache completed");
}

}  // namespace Network_tools::DNS_experience
