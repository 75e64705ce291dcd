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

TEST(AddressTest, ParsesAndPrintsCanonically) {
  EXPECT_EQ(parsed<Address>("192.0.2.1"), "192.0.2.1");
  EXPECT_EQ(parsed<Address>("2001:DB8:0:0:0:0:0:1"), "2001:db8::1");
  EXPECT_EQ(parsed<Address>("::ffff:192.0.2.1"), "::ffff:192.0.2.1");
  EXPECT_EQ(Address().to_string(), "");
}

TEST(AddressTest, RefusalsNameTheText) {
  const std::string error = "Network_tools::IP::Address() - Constructor error - ";
  EXPECT_EQ(parsed<Address>(""), error + "Empty IP");
  EXPECT_EQ(parsed<Address>(nullptr), error + "Empty IP");
  // No separator among the first four characters (or a ":" just after them).
  EXPECT_EQ(parsed<Address>("ab"), error + "Malformed IP: [ab]");
  EXPECT_EQ(parsed<Address>("abcd"), error + "Malformed IP: [abcd]");
  EXPECT_EQ(parsed<Address>("hostname.example"), error + "Wrong IP: [hostname.example]");
  EXPECT_EQ(parsed<Address>("12345.1"), error + "Wrong IP: [12345.1]");
  // Right separators, wrong address.
  EXPECT_EQ(parsed<Address>("1.2.3"), error + "Wrong IP: [1.2.3]");
  EXPECT_EQ(parsed<Address>("1::2::3"), error + "Wrong IP: [1::2::3]");
  EXPECT_EQ(parsed<Address>("192.0.2.1 "), error + "Wrong IP: [192.0.2.1 ]");
}

TEST(AddressTest, EqualityComparesFamilyAndAddress) {
  EXPECT_EQ(Address("2001:db8::1"), Address("2001:DB8:0::1"));
  EXPECT_EQ(Address(), Address());
  EXPECT_FALSE(Address("192.0.2.1") == Address("192.0.2.2"));
  EXPECT_FALSE(Address("0.0.0.0") == Address());
  EXPECT_FALSE(Address("::") == Address("0.0.0.0"));
}

TEST(SubnetTest, HostBitsAreClearedAndBareAddressesTakeTheFullLength) {
  EXPECT_EQ(parsed<Subnet>("10.1.2.3/8"), "10.0.0.0/8");
  EXPECT_EQ(parsed<Subnet>("2001:db8::1/32"), "2001:db8::/32");
  EXPECT_EQ(parsed<Subnet>("192.0.2.255/25"), "192.0.2.128/25");
  EXPECT_EQ(parsed<Subnet>("2001:db8:ffff::/33"), "2001:db8:8000::/33");
  EXPECT_EQ(parsed<Subnet>("203.0.113.77/0"), "0.0.0.0/0");
  EXPECT_EQ(parsed<Subnet>("192.0.2.1"), "192.0.2.1/32");
  EXPECT_EQ(parsed<Subnet>("::1"), "::1/128");
  EXPECT_EQ(Subnet("10.1.2.3/8").to_address_string(), "10.0.0.0");
  EXPECT_EQ(Subnet().to_string(), "");
  EXPECT_EQ(Subnet("10.1.2.3/8"), Subnet("10.9.9.9/8"));
  EXPECT_FALSE(Subnet("10.0.0.0/8") == Subnet("10.0.0.0/9"));
}

TEST(SubnetTest, RefusalsNameTheText) {
  const std::string error = "Network_tools::IP::Subnet() - Constructor error - ";
  EXPECT_EQ(parsed<Subnet>("10.0.0.0/33"), error + "Invalid bitlen value 33 [10.0.0.0/33]");
  EXPECT_EQ(parsed<Subnet>("::/129"), error + "Invalid bitlen value 129 [::/129]");
  EXPECT_EQ(parsed<Subnet>("::/4294967424"),
            error + "Invalid bitlen value 4294967424 [::/4294967424]");
  EXPECT_EQ(parsed<Subnet>("10.0.0.0/"),
            error + "Unexpected end while parsing bitlen value 0 [10.0.0.0/]");
  EXPECT_EQ(parsed<Subnet>("10.0.0.0/8x"),
            error + "Unexpected end while parsing bitlen value 8 [10.0.0.0/8x]");
  EXPECT_EQ(parsed<Subnet>("hostname.example/8"), error + "Wrong subnet: [hostname.example/8]");
  EXPECT_EQ(parsed<Subnet>("ab"), error + "Malformed subnet: [ab]");
  EXPECT_EQ(parsed<Subnet>("1.2.3/8"), error + "Wrong IP: [1.2.3/8]");
}

TEST(IsAddressTest, AcceptsLiteralsOfTheAskedFamily) {
  EXPECT_TRUE(is_address("192.0.2.1") && is_address("2001:db8::1"));
  EXPECT_FALSE(is_address("example.test") || is_address("192.0.2.1/24") || is_address(""));
  EXPECT_FALSE(is_address("2001:db8::1", IPv4_type) || is_address("192.0.2.1", IPv6_type));
  EXPECT_TRUE(is_address("192.0.2.1", IPv4_type) && is_address("::1", IPv6_type));
}

}  // namespace
}  // namespace Network_tools::IP
