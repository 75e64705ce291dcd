// Buffered reading and writing of the cache storage file's binary fields.
#ifndef NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_BINARY_STREAM_H_
#define NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_BINARY_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace Network_tools::DNS_experience {

// A field of the storage file could not be read or written. `what()` names the field
// ("hostname", "expiration timestamp", ...); `error()` says why.
class InternalInputOutError : public std::runtime_error {
 public:
  InternalInputOutError(const std::string& field, std::string error)
      : std::runtime_error(field), error_(std::move(error)) {}

  const std::string& error() const { return error_; }

 private:
  std::string error_;
};

// Longest hostname the storage file can hold: a reader refuses the 257th character.
inline constexpr std::size_t max_stored_hostname_length = 256;

// Reads fields from a stream through a buffer of its own, from the stream's current position.
// Integers are in the machine's byte order. Every failure throws InternalInputOutError naming
// the field. The size of the stream bounds what it can announce: a length or a count that the
// bytes left cannot hold is refused before anything is allocated for it.
class Byte_reader {
 public:
  explicit Byte_reader(std::FILE* stream);

  // Copies the next `size` bytes to `destination`.
  void read(void* destination, std::size_t size, const char* field);

  // The next integer of type T.
  template <typename T>
  T read_value(const char* field) {
    static_assert(std::is_integral_v<T>);
    T value;
    read(&value, sizeof value, field);
    return value;
  }

  // Appends the next `size` bytes to `destination`.
  void append(std::string& destination, std::size_t size, const char* field);

  // Appends a hostname, without its 0x00 or 0x0A terminator, to `destination` and returns its
  // length. Fails with field "hostname" on a missing terminator within 257 bytes.
  std::size_t append_hostname(std::string& destination);

  // Fails with `field` when `count` entries of at least `smallest_entry` bytes each cannot fit
  // in the bytes left.
  void expect_entries(std::uint64_t count, std::size_t smallest_entry, const char* field) const;

  // The bytes not read yet; the largest size_t when the stream's size is unknown.
  std::size_t bytes_left() const;

  // True when no byte is left in the stream.
  bool at_end();

 private:
  // Makes at least `size` bytes available when the stream has them; returns how many are.
  std::size_t ensure(std::size_t size, const char* field);
  [[noreturn]] void fail(const char* field) const;

  std::FILE* stream_;
  // Bytes from the stream's position at the start to its end, when known.
  bool size_known_ = false;
  std::size_t size_ = 0;
  // Bytes taken from the stream so far.
  std::size_t fetched_ = 0;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
};

// Writes fields to a stream through a large buffer of its own. A failed write throws
// InternalInputOutError naming the field being written when it failed.
class Byte_writer {
 public:
  explicit Byte_writer(std::FILE* stream);

  void write(const void* data, std::size_t size, const char* field);

  template <typename T>
  void write_value(T value, const char* field) {
    static_assert(std::is_integral_v<T>);
    write(&value, sizeof value, field);
  }

  // A hostname and its 0x00 terminator.
  void write_hostname(std::string_view hostname) {
    write(hostname.data(), hostname.size(), "hostname");
    write("", 1, "hostname");
  }

  // Hands everything buffered to the stream (not flushing the stream itself).
  void drain();

 private:
  std::FILE* stream_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  const char* last_field_ = "";
};

}  // namespace Network_tools::DNS_experience

#endif  // NETWORK_TOOLS_DNS_EXPERIENCE_CACHE_BINARY_STREAM_H_
