// Helpers of the cache tests: a scratch folder, a captured log, a look-up, and an encoder that
// builds storage files byte by byte on its own, remembering which field every byte belongs to.
#ifndef NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_CACHE_TEST_SUPPORT_H_
#define NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_CACHE_TEST_SUPPORT_H_

#include <stdlib.h>
#include <sys/socket.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "dns_experience/records.h"
#include "frame/ip.h"
#include "frame/logger.h"

namespace Network_tools::DNS_experience::testing_support {

// A folder of its own under the system's temporary folder, removed with everything in it.
class Scratch_folder {
 public:
  Scratch_folder() {
    path_ = (std::filesystem::temp_directory_path() / "cache_test.XXXXXX").string();
    if (mkdtemp(path_.data()) == nullptr) throw std::runtime_error("no scratch folder");
  }
  ~Scratch_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  Scratch_folder(const Scratch_folder&) = delete;
  Scratch_folder& operator=(const Scratch_folder&) = delete;

  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A logger that shows everything and keeps it for inspection.
struct Captured_log {
  std::ostringstream lines;
  Logger logger{LEVEL_DEBUG, "", lines};

  bool has(const std::string& text) const { return lines.str().find(text) != std::string::npos; }
};

inline std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Far in the future, so that nothing written with it has expired.
inline constexpr std::int64_t year_2100 = 4102444800;

inline ServerInfo server(const std::string& hostname, const std::string& address,
                         std::int32_t resolution_time_ms) {
  ServerInfo info{hostname, {}, resolution_time_ms};
  if (!address.empty()) info.address = IP::Address(address);
  return info;
}

// True when `cache` holds an unexpired answer for `hostname`.
inline bool has_answer(Cache& cache, const std::string& hostname) {
  std::vector<ServerInfo> servers;
  std::string raw, json;
  return cache.get_cached_answer(hostname, Cache::servers_only, servers, raw, json);
}

// Builds a storage file. Every field appended is remembered with the name the reader reports
// when that field is cut short.
class File_bytes {
 public:
  template <typename T>
  File_bytes& value(T number, const char* field) {
    return add(std::string(reinterpret_cast<const char*>(&number), sizeof number), field);
  }
  // The characters and a terminator, 0x00 unless told otherwise.
  File_bytes& hostname(const std::string& name, char terminator = '\0') {
    return add(name + terminator, "hostname");
  }
  File_bytes& output(const std::string& text) {
    value(static_cast<std::uint32_t>(text.size()), "serialized string length");
    return add(text, "serialized string");
  }
  File_bytes& header(std::uint32_t answer_count, std::uint16_t version = 2) {
    return value(version, "version").count(answer_count, "answer entries", 18);
  }
  File_bytes& answer(const std::string& name, std::int64_t expiration,
                     const std::vector<ServerInfo>& servers, const std::string& raw,
                     const std::string& json) {
    hostname(name).value(expiration, "expiration timestamp");
    for (const ServerInfo& each : servers) {
      const int family = each.address.get_family();
      hostname(each.hostname).value(static_cast<std::uint8_t>(family), "address type");
      const auto* bytes = reinterpret_cast<const char*>(each.address.get_bytes().data());
      if (family == AF_INET) add(std::string(bytes, 4), "address v4");
      if (family == AF_INET6) add(std::string(bytes, 16), "address v6");
      value(each.resolution_time_ms, "name resolution time milliseconds");
    }
    add("\n", "hostname");  // where a server may start, the end of the list reads as a name
    return output(raw).output(json);
  }
  File_bytes& stats_count(std::uint32_t number) { return count(number, "query stats entries", 13); }
  File_bytes& stats(const std::string& name, std::int32_t duration_ms, std::int64_t timestamp) {
    return hostname(name)
        .value(duration_ms, "last query duration")
        .value(timestamp, "last query timestamp");
  }
  File_bytes& add(const std::string& bytes, const char* field) {
    if (!bytes.empty()) fields_.emplace_back(bytes_.size(), field);
    bytes_ += bytes;
    return *this;
  }

  const std::string& bytes() const { return bytes_; }
  // The field that a reader is in the middle of, or about to start, at `offset`.
  std::string field_at(std::size_t offset) const {
    std::string name;
    for (const auto& [start, field] : fields_) {
      if (start <= offset) name = field;
    }
    return name;
  }
  // The field a reader names when the file ends at `offset`: the first count whose entries, at
  // their smallest, no longer fit in the bytes after it, or else the field cut short.
  std::string field_refused_at(std::size_t offset) const {
    for (const Count& each : counts_) {
      if (offset < each.end) break;
      if ((offset - each.end) / each.smallest_entry < each.value) return each.field;
    }
    return field_at(offset);
  }

 private:
  struct Count {
    std::size_t end;
    std::uint32_t value;
    std::size_t smallest_entry;
    const char* field;
  };
  // An entry count, whose entries take at least `smallest_entry` bytes each.
  File_bytes& count(std::uint32_t number, const char* field, std::size_t smallest_entry) {
    value(number, field);
    counts_.push_back({bytes_.size(), number, smallest_entry, field});
    return *this;
  }

  std::string bytes_;
  std::vector<std::pair<std::size_t, std::string>> fields_;
  std::vector<Count> counts_;
};

}  // namespace Network_tools::DNS_experience::testing_support

#endif  // NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_CACHE_TEST_SUPPORT_H_
