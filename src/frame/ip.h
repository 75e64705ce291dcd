// IPv4 and IPv6 address values and address prefixes (subnets).
#ifndef NETWORK_TOOLS_FRAME_IP_H_
#define NETWORK_TOOLS_FRAME_IP_H_

#include <array>
#include <cstdint>
#include <string>

namespace Network_tools::IP {

// Anything that prints as an address text.
class Prefix {
 public:
  virtual ~Prefix() = default;
  virtual std::string to_string() const = 0;
};

// An IPv4 or IPv6 address, or the empty address (family 0). Parse failures throw
// `Network_tools::exception` with code 0 and a message naming the text.
class Address : public Prefix {
 public:
  // The empty address.
  Address() = default;
  // Parses a literal such as "192.0.2.1" or "2001:db8::1".
  explicit Address(const char* text);
  explicit Address(const std::string& text) : Address(whole_text(text)) {}
  // Builds an address from `family` (AF_INET or AF_INET6) and its bytes in network order.
  Address(int family, const void* bytes);

  // The canonical text ("2001:db8::1"), or "" for the empty address.
  std::string to_string() const override;

  // Same family and same address bytes; two empty addresses are equal.
  friend bool operator==(const Address& left, const Address& right);

  // 0 (empty), AF_INET or AF_INET6.
  int get_family() const { return family_; }
  bool empty() const { return family_ == 0; }
  // Address bytes in network order; IPv4 uses the first four.
  const std::array<std::uint8_t, 16>& get_bytes() const { return bytes_; }

 protected:
  // Parses the address part of `whole` for a constructor named `owner` ("Address" or
  // "Subnet"), whose family detection already chose `family`.
  void parse(const std::string& address, int family, const char* owner, const char* whole);

  std::array<std::uint8_t, 16> bytes_{};
  int family_ = 0;

 private:
  // `text` for the parser; throws the wrong-IP error when it holds a NUL.
  static const char* whole_text(const std::string& text);
};

// An address with a prefix length; the host bits are always zero.
class Subnet : public Address {
 public:
  // The empty subnet, which prints as "".
  Subnet() = default;
  // Parses "10.1.2.3/8" (stored as 10.0.0.0/8) or a bare address (full-length prefix).
  explicit Subnet(const char* text);
  explicit Subnet(const std::string& text) : Subnet(whole_text(text)) {}

  // "10.0.0.0/8", or "" for the empty subnet.
  std::string to_string() const override;
  // The address part alone: "10.0.0.0".
  std::string to_address_string() const { return Address::to_string(); }

  std::uint8_t get_prefix_length() const { return prefix_length_; }

  // Same family, prefix length and (masked) address.
  friend bool operator==(const Subnet& left, const Subnet& right);

 private:
  // `text` for the parser; throws the wrong-subnet error when it holds a NUL.
  static const char* whole_text(const std::string& text);

  std::uint8_t prefix_length_ = 0;
};

// Which address families `is_address` accepts.
enum type_v : std::uint8_t { any_type = 0, IPv4_type = 4, IPv6_type = 6 };

// True when `text` is an address literal of the asked family: `any_type` accepts IPv4 and IPv6.
bool is_address(const std::string& text, type_v type = any_type);

}  // namespace Network_tools::IP

#endif  // NETWORK_TOOLS_FRAME_IP_H_
