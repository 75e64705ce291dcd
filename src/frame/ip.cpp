// Parsing, printing and comparing of addresses and subnets.
#include "frame/ip.h"

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "frame/exception.h"
#include "frame/system.h"

namespace Network_tools::IP {
namespace {

[[noreturn]] void fail(const std::string& message) {
  throw exception(message, 0, "");
}

std::string constructor_error(const char* owner) {
  return std::string("Network_tools::IP::") + owner + "() - Constructor error - ";
}

// The family of the text that a constructor named `owner` ("Address" or "Subnet") was given,
// which calls it `kind` ("IP" or "subnet") in its refusals. A "." among the first four
// characters means IPv4, a ":" there (or right after them) means IPv6, whichever comes first.
// Shorter texts without either are malformed, longer ones wrong.
int detect_family(const char* text, const char* owner, const char* kind) {
  if (text == nullptr || *text == '\0') fail(constructor_error(owner) + "Empty IP");
  const std::string whole(text);
  for (std::size_t position = 0; position < 5; ++position) {
    if (position == whole.size()) {
      fail(constructor_error(owner) + "Malformed " + kind + ": [" + whole + "]");
    }
    const char c = whole[position];
    if (c == ':') return AF_INET6;
    if (position == 4) break;
    if (c == '.') return AF_INET;
  }
  fail(constructor_error(owner) + "Wrong " + kind + ": [" + whole + "]");
}

}  // namespace

namespace {

// A NUL inside the text would end it early for the parser: such a text is no address at all.
const char* without_nul(const std::string& text, const char* owner, const char* kind) {
  if (text.find('\0') != std::string::npos) {
    fail(constructor_error(owner) + "Wrong " + kind + ": [" + text.substr(0, text.find('\0')) +
         "...]");
  }
  return text.c_str();
}

}  // namespace

const char* Address::whole_text(const std::string& text) {
  return without_nul(text, "Address", "IP");
}

const char* Subnet::whole_text(const std::string& text) {
  return without_nul(text, "Subnet", "subnet");
}

Address::Address(const char* text) {
  const int family = detect_family(text, "Address", "IP");
  parse(text, family, "Address", text);
}

Address::Address(int family, const void* bytes) {
  if (family != AF_INET && family != AF_INET6) return;
  family_ = family;
  std::memcpy(bytes_.data(), bytes, family == AF_INET ? 4 : 16);
}

void Address::parse(const std::string& address, int family, const char* owner, const char* whole) {
  std::array<std::uint8_t, 16> bytes{};
  const int result = inet_pton(family, address.c_str(), bytes.data());
  if (result == 0) fail(constructor_error(owner) + "Wrong IP: [" + whole + "]");
  if (result < 0) {
    const int error = errno;
    fail(std::string("Network_tools::IP::") + owner + "() - inet_pton() error - Error found: " +
         std::to_string(error) + " (" + error_text(error) + ")");
  }
  bytes_ = bytes;
  family_ = family;
}

std::string Address::to_string() const {
  if (family_ != AF_INET && family_ != AF_INET6) return "";
  std::array<char, INET6_ADDRSTRLEN> text{};
  if (inet_ntop(family_, bytes_.data(), text.data(), text.size()) == nullptr) return "";
  return text.data();
}

bool operator==(const Address& left, const Address& right) {
  if (left.family_ != right.family_) return false;
  const std::size_t length = left.family_ == AF_INET ? 4 : left.family_ == AF_INET6 ? 16 : 0;
  return std::memcmp(left.bytes_.data(), right.bytes_.data(), length) == 0;
}

Subnet::Subnet(const char* text) {
  const int family = detect_family(text, "Subnet", "subnet");
  const std::string whole(text);
  const unsigned maximum = family == AF_INET ? 32 : 128;

  std::string address = whole;
  unsigned length = maximum;
  if (const std::size_t slash = whole.rfind('/'); slash != std::string::npos) {
    const std::string number = whole.substr(slash + 1);
    std::size_t digits = 0;
    while (digits < number.size() && number[digits] >= '0' && number[digits] <= '9') ++digits;
    const std::string shown = digits == 0 ? "0" : number.substr(0, digits);
    if (digits == 0 || digits != number.size()) {
      fail(constructor_error("Subnet") + "Unexpected end while parsing bitlen value " + shown +
           " [" + whole + "]");
    }
    // More than three digits are too many whatever they say (and would overflow).
    const unsigned value = digits > 3 ? maximum + 1 : static_cast<unsigned>(std::stoul(shown));
    if (value > maximum) {
      fail(constructor_error("Subnet") + "Invalid bitlen value " + shown + " [" + whole + "]");
    }
    length = value;
    address = whole.substr(0, slash);
  }

  parse(address, family, "Subnet", text);
  prefix_length_ = static_cast<std::uint8_t>(length);

  // Clear the host bits.
  const unsigned byte_count = family == AF_INET ? 4 : 16;
  for (unsigned bit = length; bit < byte_count * 8; ++bit) {
    bytes_[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
  }
}

std::string Subnet::to_string() const {
  if (empty()) return "";
  return Address::to_string() + "/" + std::to_string(prefix_length_);
}

bool operator==(const Subnet& left, const Subnet& right) {
  return left.prefix_length_ == right.prefix_length_ &&
         static_cast<const Address&>(left) == static_cast<const Address&>(right);
}

bool is_address(const std::string& text, type_v type) {
  if (text.find('\0') != std::string::npos) return false;
  std::array<std::uint8_t, 16> bytes{};
  if (type != IPv6_type && inet_pton(AF_INET, text.c_str(), bytes.data()) == 1) return true;
  return type != IPv4_type && inet_pton(AF_INET6, text.c_str(), bytes.data()) == 1;
}

}  // namespace Network_tools::IP
