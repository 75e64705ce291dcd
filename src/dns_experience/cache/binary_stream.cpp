// Buffered field reader and writer of the cache storage file.
#include "dns_experience/cache/binary_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "frame/system.h"

namespace Network_tools::DNS_experience {
namespace {

// Large enough that stdio is called a few hundred times for a 100 MB file.
constexpr std::size_t buffer_size = std::size_t{1} << 20;
// Enough for any field the reader looks at whole (a hostname and its terminator).
constexpr std::size_t smallest_read_buffer = 4096;

// Buffers are not cleared: only the bytes read or written into them are ever used, and a small
// file then costs no more than its size.
std::unique_ptr<char[]> uninitialised(std::size_t size) {
  return std::unique_ptr<char[]>(new char[size]);
}

}  // namespace

Byte_reader::Byte_reader(std::FILE* stream) : stream_(stream) {
  struct stat status {};
  const long position = std::ftell(stream);
  if (fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode) && position >= 0 &&
      status.st_size >= position) {
    size_known_ = true;
    size_ = static_cast<std::size_t>(status.st_size - position);
  }
  capacity_ = size_known_ ? std::clamp(size_ + 1, smallest_read_buffer, buffer_size) : buffer_size;
  buffer_ = uninitialised(capacity_);
}

std::size_t Byte_reader::bytes_left() const {
  if (!size_known_) return std::numeric_limits<std::size_t>::max();
  const std::size_t consumed = fetched_ - (end_ - position_);
  return consumed < size_ ? size_ - consumed : 0;
}

void Byte_reader::expect_entries(std::uint64_t count, std::size_t smallest_entry,
                                 const char* field) const {
  const std::size_t left = bytes_left();
  if (count <= left / smallest_entry) return;
  throw InternalInputOutError(
      field, std::to_string(count) + " entries announced, " + std::to_string(left) + " bytes left");
}

void Byte_reader::fail(const char* field) const {
  if (std::ferror(stream_)) throw InternalInputOutError(field, error_text(errno));
  throw InternalInputOutError(field, "unexpected end of file");
}

std::size_t Byte_reader::ensure(std::size_t size, const char* field) {
  if (end_ - position_ >= size) return end_ - position_;
  // Move the unread tail to the front, then fill up the rest.
  std::memmove(buffer_.get(), buffer_.get() + position_, end_ - position_);
  end_ -= position_;
  position_ = 0;
  while (end_ < size) {
    const std::size_t got = std::fread(buffer_.get() + end_, 1, capacity_ - end_, stream_);
    if (got == 0) {
      if (std::ferror(stream_)) fail(field);
      break;
    }
    end_ += got;
    fetched_ += got;
  }
  return end_;
}

void Byte_reader::read(void* destination, std::size_t size, const char* field) {
  if (ensure(size, field) < size) fail(field);
  std::memcpy(destination, buffer_.get() + position_, size);
  position_ += size;
}

void Byte_reader::append(std::string& destination, std::size_t size, const char* field) {
  // A length read from a damaged file must not make us allocate more than the file holds.
  if (size > bytes_left()) {
    throw InternalInputOutError(field, "length " + std::to_string(size) + ", " +
                                           std::to_string(bytes_left()) + " bytes left");
  }
  if (size_known_) destination.reserve(destination.size() + size);
  // In pieces: a stream of unknown size may still end early.
  while (size > 0) {
    if (ensure(1, field) == 0) fail(field);
    const std::size_t piece = std::min(size, end_ - position_);
    destination.append(buffer_.get() + position_, piece);
    position_ += piece;
    size -= piece;
  }
}

std::size_t Byte_reader::append_hostname(std::string& destination) {
  const std::size_t window = max_stored_hostname_length + 1;
  const std::size_t available = std::min(ensure(window, "hostname"), window);
  const char* start = buffer_.get() + position_;
  for (std::size_t length = 0; length < available; ++length) {
    if (start[length] == '\0' || start[length] == '\n') {
      destination.append(start, length);
      position_ += length + 1;
      return length;
    }
  }
  if (available < window) fail("hostname");
  throw InternalInputOutError("hostname", "no terminator within 256 characters");
}

bool Byte_reader::at_end() {
  return ensure(1, "leftover data") == 0;
}

Byte_writer::Byte_writer(std::FILE* stream)
    : stream_(stream), buffer_(uninitialised(buffer_size)) {}

void Byte_writer::write(const void* data, std::size_t size, const char* field) {
  last_field_ = field;
  if (size == 0) return;  // an empty name may have no storage at all
  if (buffer_size - used_ < size) {
    drain();
    if (size > buffer_size) {
      // Large outputs go straight to the stream.
      if (std::fwrite(data, 1, size, stream_) != size) {
        throw InternalInputOutError(field, error_text(errno));
      }
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

void Byte_writer::drain() {
  if (used_ == 0) return;
  const std::size_t size = used_;
  used_ = 0;
  if (std::fwrite(buffer_.get(), 1, size, stream_) != size) {
    throw InternalInputOutError(last_field_, error_text(errno));
  }
}

}  // namespace Network_tools::DNS_experience
