// Parsing, printing and comparing addresses and subnets.
#include "frame/ip.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "frame/exception.h"

namespace Network_tools::IP {
namespace {

// The message of the exception that parsing `text` as T throws, or "" when it parses.
template <typename T>
std::string parse_error(const char* text) {
  try {
    T value(text);
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 0);
    EXPECT_FALSE(error.need_JSON_output());
    return error.what();
  }
  return "";
}

TEST(AddressTest, PrintsCanonicalForms) {
  EXPECT_EQ(Address("192.0.2.1").to_string(), "192.0.2.1");
  EXPECT_EQ(Address("2001:DB8:0:0:0:0:0:1").to_string(), "2001:db8::1");
  EXPECT_EQ(Address("::1").to_string(), "::1");
  EXPECT_EQ(Address("::ffff:192.0.2.1").to_string(), "::ffff:192.0.2.1");
  EXPECT_EQ(Address().to_string(), "");
  EXPECT_EQ(Address("192.0.2.1").get_family(), AF_INET);
  EXPECT_EQ(Address("fe80::1").get_family(), AF_INET6);
}

TEST(AddressTest, FamilyIsGuessedFromTheFirstCharacters) {
  // ":" at position 4 still means IPv6; "." there does not mean IPv4.
  EXPECT_EQ(Address("2001:db8::1").to_string(), "2001:db8::1");
  EXPECT_EQ(parse_error<Address>("12345.1"),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [12345.1]");
  EXPECT_EQ(parse_error<Address>("hostname.example"),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [hostname.example]");
  EXPECT_EQ(parse_error<Address>("ab"),
            "Network_tools::IP::Address() - Constructor error - Malformed IP: [ab]");
  EXPECT_EQ(parse_error<Address>("abcd"),
            "Network_tools::IP::Address() - Constructor error - Malformed IP: [abcd]");
  EXPECT_EQ(parse_error<Address>(""),
            "Network_tools::IP::Address() - Constructor error - Empty IP");
  EXPECT_EQ(parse_error<Address>(nullptr),
            "Network_tools::IP::Address() - Constructor error - Empty IP");
}

TEST(AddressTest, TextsThatLookRightButDoNotParseAreWrong) {
  EXPECT_EQ(parse_error<Address>("1.2.3"),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [1.2.3]");
  EXPECT_EQ(parse_error<Address>("256.1.1.1"),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [256.1.1.1]");
  EXPECT_EQ(parse_error<Address>("1::2::3"),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [1::2::3]");
  EXPECT_EQ(parse_error<Address>("192.0.2.1 "),
            "Network_tools::IP::Address() - Constructor error - Wrong IP: [192.0.2.1 ]");
}

TEST(AddressTest, EqualityComparesFamilyAndAddress) {
  EXPECT_EQ(Address("192.0.2.1"), Address("192.0.2.1"));
  EXPECT_EQ(Address("2001:db8::1"), Address("2001:DB8:0::1"));
  EXPECT_EQ(Address(), Address());
  EXPECT_FALSE(Address("192.0.2.1") == Address("192.0.2.2"));
  EXPECT_FALSE(Address("0.0.0.0") == Address());
  EXPECT_FALSE(Address("::") == Address("0.0.0.0"));
  EXPECT_FALSE(Address("::ffff:192.0.2.1") == Address("192.0.2.1"));
}

TEST(SubnetTest, HostBitsAreCleared) {
  EXPECT_EQ(Subnet("10.1.2.3/8").to_string(), "10.0.0.0/8");
  EXPECT_EQ(Subnet("2001:db8::1/32").to_string(), "2001:db8::/32");
  EXPECT_EQ(Subnet("192.0.2.255/25").to_string(), "192.0.2.128/25");
  EXPECT_EQ(Subnet("203.0.113.77/0").to_string(), "0.0.0.0/0");
  EXPECT_EQ(Subnet("2001:db8:ffff::/33").to_string(), "2001:db8:8000::/33");
  EXPECT_EQ(Subnet("10.1.2.3/8").to_address_string(), "10.0.0.0");
  EXPECT_EQ(Subnet("10.1.2.3/8").get_prefix_length(), 8);
}

TEST(SubnetTest, BareAddressTakesTheFullLength) {
  EXPECT_EQ(Subnet("192.0.2.1").to_string(), "192.0.2.1/32");
  EXPECT_EQ(Subnet("::1").to_string(), "::1/128");
  EXPECT_EQ(Subnet().to_string(), "");
  EXPECT_EQ(Subnet().to_address_string(), "");
}

TEST(SubnetTest, PrefixLengthErrors) {
  const std::string prefix = "Network_tools::IP::Subnet() - Constructor error - ";
  EXPECT_EQ(parse_error<Subnet>("10.0.0.0/33"), prefix + "Invalid bitlen value 33 [10.0.0.0/33]");
  EXPECT_EQ(parse_error<Subnet>("::/129"), prefix + "Invalid bitlen value 129 [::/129]");
  EXPECT_EQ(parse_error<Subnet>("::/4294967424"),
            prefix + "Invalid bitlen value 4294967424 [::/4294967424]");
  EXPECT_EQ(parse_error<Subnet>("10.0.0.0/"),
            prefix + "Unexpected end while parsing bitlen value 0 [10.0.0.0/]");
  EXPECT_EQ(parse_error<Subnet>("10.0.0.0/8x"),
            prefix + "Unexpected end while parsing bitlen value 8 [10.0.0.0/8x]");
  EXPECT_EQ(parse_error<Subnet>("10.0.0.0/-1"),
            prefix + "Unexpected end while parsing bitlen value 0 [10.0.0.0/-1]");
  // 128 is fine for IPv6 but not for IPv4.
  EXPECT_EQ(Subnet("::/128").get_prefix_length(), 128);
  EXPECT_EQ(parse_error<Subnet>("10.0.0.0/128"),
            prefix + "Invalid bitlen value 128 [10.0.0.0/128]");
}

TEST(SubnetTest, AddressErrorsNameTheSubnet) {
  const std::string prefix = "Network_tools::IP::Subnet() - Constructor error - ";
  EXPECT_EQ(parse_error<Subnet>("hostname.example/8"),
            prefix + "Wrong subnet: [hostname.example/8]");
  EXPECT_EQ(parse_error<Subnet>("ab"), prefix + "Malformed subnet: [ab]");
  EXPECT_EQ(parse_error<Subnet>("1.2.3/8"), prefix + "Wrong IP: [1.2.3/8]");
  EXPECT_EQ(parse_error<Subnet>("1.2.3.4/8/8"), prefix + "Wrong IP: [1.2.3.4/8/8]");
}

TEST(SubnetTest, EqualityIncludesThePrefixLength) {
  EXPECT_EQ(Subnet("10.1.2.3/8"), Subnet("10.9.9.9/8"));
  EXPECT_FALSE(Subnet("10.0.0.0/8") == Subnet("10.0.0.0/9"));
  EXPECT_EQ(Subnet(), Subnet());
  EXPECT_FALSE(Subnet("0.0.0.0/0") == Subnet());
}

TEST(IsAddressTest, AcceptsLiteralsOfTheAskedFamily) {
  EXPECT_TRUE(is_address("192.0.2.1"));
  EXPECT_TRUE(is_address("2001:db8::1"));
  EXPECT_FALSE(is_address("example.test"));
  EXPECT_FALSE(is_address("192.0.2.1/24"));
  EXPECT_FALSE(is_address(""));
  EXPECT_TRUE(is_address("192.0.2.1", IPv4_type));
  EXPECT_FALSE(is_address("2001:db8::1", IPv4_type));
  EXPECT_TRUE(is_address("2001:db8::1", IPv6_type));
  EXPECT_FALSE(is_address("192.0.2.1", IPv6_type));
}

}  // namespace
}  // namespace Network_tools::IP
