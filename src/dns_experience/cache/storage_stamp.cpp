// Storage file stamps and the decision whether another process may have written the file.
#include "dns_experience/cache/storage_stamp.h"

namespace Network_tools::DNS_experience {
namespace {

bool operator==(const timespec& left, const timespec& right) {
  return left.tv_sec == right.tv_sec && left.tv_nsec == right.tv_nsec;
}

}  // namespace

Storage_stamp make_storage_stamp(const struct stat& status) {
  Storage_stamp stamp;
  stamp.known = true;
  stamp.device = status.st_dev;
  stamp.inode = status.st_ino;
  stamp.size = status.st_size;
  stamp.modified = status.st_mtim;
  stamp.changed = status.st_ctim;
  // The clock file times come from: a write after this moment cannot be stamped earlier.
  clock_gettime(CLOCK_REALTIME_COARSE, &stamp.seen_at);
  return stamp;
}

bool unchanged_since(const Storage_stamp& earlier, const Storage_stamp& later) {
  if (!earlier.known || !later.known) return false;
  const bool same = earlier.device == later.device && earlier.inode == later.inode &&
                    earlier.size == later.size && earlier.modified == later.modified &&
                    earlier.changed == later.changed;
  if (!same) return false;
  // Any change after `earlier` was taken is stamped at or after `seen_at` (less one unit of the
  // file system's time resolution); it differs from the recorded change time when that lies far
  // enough before `seen_at`. The change time is used because no program can set it.
  const timespec& last_change = earlier.changed;
  const timespec& seen = earlier.seen_at;
  const time_t whole = seen.tv_sec - last_change.tv_sec;
  return whole > settle_seconds || (whole == settle_seconds && seen.tv_nsec >= last_change.tv_nsec);
}

}  // namespace Network_tools::DNS_experience
