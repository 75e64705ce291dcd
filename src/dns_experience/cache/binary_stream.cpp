// Buffered field reader and writer of the cache storage file.
#include "dns_experience/cache/binary_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Network_tools::DNS_experience {
namespace {

// Large enough that stdio is called a few hundred times for a 100 MB file.
constexpr std::size_t buffer_size = std::size_t{1} << 20;

}  // namespace

Byte_reader::Byte_reader(std::FILE* stream) : stream_(stream), buffer_(buffer_size) {}

void Byte_reader::fail(const char* field) const {
  if (std::ferror(stream_)) throw InternalInputOutError(field, std::strerror(errno));
  throw InternalInputOutError(field, "unexpected end of file");
}

std::size_t Byte_reader::ensure(std::size_t size, const char* field) {
  if (end_ - position_ >= size) return end_ - position_;
  // Move the unread tail to the front, then fill up the rest.
  std::memmove(buffer_.data(), buffer_.data() + position_, end_ - position_);
  end_ -= position_;
  position_ = 0;
  while (end_ < size) {
    const std::size_t got = std::fread(buffer_.data() + end_, 1, buffer_.size() - end_, stream_);
    if (got == 0) {
      if (std::ferror(stream_)) fail(field);
      break;
    }
    end_ += got;
  }
  return end_;
}

void Byte_reader::read(void* destination, std::size_t size, const char* field) {
  if (ensure(size, field) < size) fail(field);
  std::memcpy(destination, buffer_.data() + position_, size);
  position_ += size;
}

void Byte_reader::append(std::string& destination, std::size_t size, const char* field) {
  // In pieces, so that a length read from a damaged file cannot make us allocate more than the
  // file holds.
  while (size > 0) {
    if (ensure(1, field) == 0) fail(field);
    const std::size_t piece = std::min(size, end_ - position_);
    destination.append(buffer_.data() + position_, piece);
    position_ += piece;
    size -= piece;
  }
}

std::size_t Byte_reader::append_hostname(std::string& destination) {
  const std::size_t window = max_stored_hostname_length + 1;
  const std::size_t available = std::min(ensure(window, "hostname"), window);
  const char* start = buffer_.data() + position_;
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

Byte_writer::Byte_writer(std::FILE* stream) : stream_(stream), buffer_(buffer_size) {}

void Byte_writer::write(const void* data, std::size_t size, const char* field) {
  last_field_ = field;
  if (size == 0) return;  // an empty name may have no storage at all
  if (buffer_.size() - used_ < size) {
    drain();
    if (size > buffer_.size()) {
      // Large outputs go straight to the stream.
      if (std::fwrite(data, 1, size, stream_) != size) {
        throw InternalInputOutError(field, std::strerror(errno));
      }
      return;
    }
  }
  std::memcpy(buffer_.data() + used_, data, size);
  used_ += size;
}

void Byte_writer::drain() {
  if (used_ == 0) return;
  const std::size_t size = used_;
  used_ = 0;
  if (std::fwrite(buffer_.data(), 1, size, stream_) != size) {
    throw InternalInputOutError(last_field_, std::strerror(errno));
  }
}

}  // namespace Network_tools::DNS_experience
