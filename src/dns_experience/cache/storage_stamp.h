// What one open of the cache storage file saw, and whether the file can have changed since.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_STORAGE_STAMP_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_STORAGE_STAMP_H_

#include <sys/stat.h>
#include <time.h>

namespace Network_tools::DNS_experience {

// The identity of the storage file at one moment: device, inode, size, modification and change
// times to the nanosecond, and the coarse wall clock, which file times are taken from, when the
// file was looked at.
struct Storage_stamp {
  bool known = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
  timespec seen_at{};
};

// The stamp of a file whose status is `status`, seen now.
Storage_stamp make_storage_stamp(const struct stat& status);

// True only when nothing can have written the file between the moment `earlier` was taken and
// the moment `later` was. A write bumps the change time to the clock of its moment, but a write
// in the same clock tick (or, on a file system with whole-second times, the same second) as the
// previous change leaves it as it was. So an equal stamp only counts as unchanged when the file
// had last changed at least `settle_seconds` before `earlier` was taken; otherwise, and whenever
// either stamp is unknown or anything differs, the file may have changed.
bool unchanged_since(const Storage_stamp& earlier, const Storage_stamp& later);

// Above the coarsest file time resolution of Linux file systems (FAT's 2 seconds).
inline constexpr time_t settle_seconds = 2;

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_STORAGE_STAMP_H_
