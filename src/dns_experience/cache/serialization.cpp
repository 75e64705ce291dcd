// The cache storage file format: writing and reading the two maps.
//
// Layout, integers in the machine's byte order, no padding:
//   version (2 bytes, 2), answer count (4 bytes), answers, query stats count (4 bytes), stats.
//   answer: hostname, expiration (8 bytes, seconds), servers, 0x0A, raw output, JSON output
//   server: hostname (never empty), address type (1 byte: 2, 10, or anything else for none),
//           4 or 16 address bytes for types 2 and 10, resolution time (4 bytes, ms)
//   stats:  hostname, last query duration (4 bytes, ms), timestamp (8 bytes, seconds)
//   hostname: its characters and 0x00 (0x0A also ends one when reading), at most 256 characters
//   output: 4-byte length and as many bytes
#include <cerrno>
#include <cstring>
#include <limits>

#include "dns_experience/cache/answer_record.h"
#include "dns_experience/cache/binary_stream.h"
#include "dns_experience/cache/cache.h"
#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

const std::string error_tag = "CACHE ERROR";
const std::string tag = "CACHE";

constexpr std::uint16_t cache_version = 2;

// The smallest records the file can hold (empty names and outputs, no server): a file announces
// at most as many entries as the bytes after the count can hold at this size.
constexpr std::size_t smallest_answer = 1 + 8 + 1 + 4 + 4;
constexpr std::size_t smallest_stats = 1 + 4 + 8;

std::uint32_t entry_count(std::size_t size, const char* field) {
  if (size > std::numeric_limits<std::uint32_t>::max()) {
    throw InternalInputOutError(field, "more entries than the file can count");
  }
  return static_cast<std::uint32_t>(size);
}

}  // namespace

bool Cache::serialize(std::FILE* stream) {
  try {
    write_entries(stream);
  } catch (const InternalInputOutError& error) {
    logger.write(LEVEL_ERROR, error_tag,
                 std::string("Unable to write ") + error.what() + ", error: " + error.error());
    return false;
  }
  if (std::fflush(stream) != 0) {
    logger.write(LEVEL_ERROR, error_tag,
                 "could not update file: " + storage_path + " error: " + error_text(errno));
    return false;
  }
  logger.write(LEVEL_DEBUG, tag, "Cache successfully serialized");
  return true;
}

void Cache::write_entries(std::FILE* stream) {
  Byte_writer writer(stream);
  writer.write_value(cache_version, "version");
  writer.write_value(entry_count(answers.size(), "answer entries"), "answer entries");
  for (const auto& [hostname, answer] : answers) {
    writer.write_hostname(hostname);
    writer.write_value(answer.expiration, "expiration timestamp");
    // Servers, end of servers and both outputs, already in their file form.
    writer.write(answer.record.data(), answer.record.size(), "string to serialize");
  }
  writer.write_value(entry_count(query_stats.size(), "query stats entries"), "query stats entries");
  for (const auto& [hostname, stats] : query_stats) {
    writer.write_hostname(hostname);
    writer.write_value(stats.query_time_ms, "last query duration");
    writer.write_value(stats.timestamp, "last query timestamp");
  }
  writer.drain();
}

bool Cache::deserialize(std::FILE* stream) {
  Answer_map read_answers(&arena);
  Query_stats_map read_stats(&arena);
  if (!read_storage(stream, read_answers, read_stats, false)) return false;
  answers = std::move(read_answers);
  query_stats = std::move(read_stats);
  return true;
}

bool Cache::read_storage(std::FILE* stream, Answer_map& read_answers, Query_stats_map& read_stats,
                         bool only_unknown) {
  try {
    Byte_reader reader(stream);
    const auto version = reader.read_value<std::uint16_t>("version");
    if (version != cache_version) {
      logger.write(LEVEL_ERROR, error_tag, "Incompatible version: " + std::to_string(version));
      return false;
    }
    const auto answer_count = reader.read_value<std::uint32_t>("answer entries");
    reader.expect_entries(answer_count, smallest_answer, "answer entries");
    if (!only_unknown) read_answers.reserve(answer_count);
    const std::int64_t now = clock_seconds();
    // Read into reused strings, then copied into the arena.
    std::string hostname;
    std::string record;
    for (std::uint32_t index = 0; index < answer_count; ++index) {
      hostname.clear();
      record.clear();
      reader.append_hostname(hostname);
      const auto expiration = reader.read_value<std::int64_t>("expiration timestamp");
      answer_record::read(reader, record);
      if (expiration < now || (only_unknown && answers.contains(hostname))) continue;
      put_answer(hostname, expiration, record, read_answers);
    }
    const auto stats_count = reader.read_value<std::uint32_t>("query stats entries");
    reader.expect_entries(stats_count, smallest_stats, "query stats entries");
    if (!only_unknown) read_stats.reserve(stats_count);
    for (std::uint32_t index = 0; index < stats_count; ++index) {
      hostname.clear();
      reader.append_hostname(hostname);
      QueryStatsData stats;
      stats.query_time_ms = reader.read_value<std::int32_t>("last query duration");
      stats.timestamp = reader.read_value<std::int64_t>("last query timestamp");
      if (only_unknown && query_stats.contains(hostname)) continue;
      put_stats(hostname, stats, read_stats);
    }
    logger.write(LEVEL_DEBUG, tag, "Deserialization completed, checking for leftover data");
    if (!reader.at_end()) {
      logger.write(LEVEL_ERROR, error_tag, "Leftover data inside the cache, cannot trust the data");
      return false;
    }
  } catch (const InternalInputOutError& error) {
    logger.write(LEVEL_ERROR, error_tag,
                 std::string("Unable to read ") + error.what() +
                     " cache is considered corrupted, error: " + error.error());
    return false;
  }
  logger.write(LEVEL_DEBUG, tag, "Deserialization completed");
  return true;
}

}  // namespace Network_tools::DNS_experience
