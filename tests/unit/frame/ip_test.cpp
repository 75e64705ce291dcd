// Parsing, printing and comparing addresses and subnets.
#include "frame/ip.h"

#include <gtest/gtest.h>

#include "frame/exception.h"

namespace Network_tools::IP {
namespace {

// The text of the value parsed from `text`, or the message of the exception it throws.
template <typename T>
std::string parsed(const char* text) {
  try {
    return T(text).to_string();
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 0);
    return error.what();
  }
}

TEST(AddressTest, ParsesLiteralsAndNamesRefusedTexts) {
  const std::string error = "Network_tools::IP::Address() - Constructor error - ";
  const std::pair<const char*, std::string> cases[] = {
      {"192.0.2.1", "192.0.2.1"},
      {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
      {"", error + "Empty IP"},
      {nullptr, error + "Empty IP"},
      // No separator among the first four characters: short texts are malformed, longer wrong.
      {"ab", error + "Malformed IP: [ab]"},
      {"abcd", error + "Malformed IP: [abcd]"},
      {"hostname.example", error + "Wrong IP: [hostname.example]"},
      {"1.2.3", error + "Wrong IP: [1.2.3]"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(parsed<Address>(text), expected) << (text == nullptr ? "null" : text);
  }
  EXPECT_EQ(Address("2001:db8::1"), Address("2001:DB8:0::1"));
  EXPECT_EQ(Address(), Address());
  EXPECT_FALSE(Address("192.0.2.1") == Address("192.0.2.2"));
  EXPECT_FALSE(Address("0.0.0.0") == Address() || Address("::") == Address("0.0.0.0"));
  EXPECT_TRUE(is_address("192.0.2.1") && is_address("::1", IPv6_type));
  EXPECT_FALSE(is_address("192.0.2.1/24") || is_address("2001:db8::1", IPv4_type));
}

TEST(SubnetTest, HostBitsAreClearedAndRefusalsNameTheText) {
  const std::string error = "Network_tools::IP::Subnet() - Constructor error - ";
  const std::pair<const char*, std::string> cases[] = {
      {"10.1.2.3/8", "10.0.0.0/8"},
      {"2001:db8::1/32", "2001:db8::/32"},
      {"192.0.2.255/25", "192.0.2.128/25"},
      {"203.0.113.77/0", "0.0.0.0/0"},
      {"192.0.2.1", "192.0.2.1/32"},
      {"::1", "::1/128"},
      {"10.0.0.0/33", error + "Invalid bitlen value 33 [10.0.0.0/33]"},
      {"::/129", error + "Invalid bitlen value 129 [::/129]"},
      // Would wrap round to 128 in 32 bits.
      {"::/4294967424", error + "Invalid bitlen value 4294967424 [::/4294967424]"},
      {"10.0.0.0/", error + "Unexpected end while parsing bitlen value 0 [10.0.0.0/]"},
      {"10.0.0.0/8x", error + "Unexpected end while parsing bitlen value 8 [10.0.0.0/8x]"},
      {"hostname.example/8", error + "Wrong subnet: [hostname.example/8]"},
      {"ab", error + "Malformed subnet: [ab]"},
      {"1.2.3/8", error + "Wrong IP: [1.2.3/8]"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parsed<Subnet>(text), expected) << text;
  // A NUL would cut the text short for the parser.
  EXPECT_THROW(Subnet(std::string("10.0.0.0/8\0x", 12)), exception);
  EXPECT_EQ(Subnet("10.1.2.3/8").to_address_string(), "10.0.0.0");
  EXPECT_EQ(Subnet().to_string(), "");
  EXPECT_EQ(Subnet("10.1.2.3/8"), Subnet("10.9.9.9/8"));
  EXPECT_FALSE(Subnet("10.0.0.0/8") == Subnet("10.0.0.0/9"));
}

}  // namespace
}  // namespace Network_tools::IP
