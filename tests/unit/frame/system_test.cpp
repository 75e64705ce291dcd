// Resolver configuration, name resolution without the network, durations and splitting.
#include "frame/system.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "frame/exception.h"

namespace Network_tools {
namespace {

using ::testing::ElementsAre;

const std::string data = NT_TEST_DATA_DIR;

TEST(MachineNameserversTest, ReadsServersInFileOrderSkippingComments) {
  // Comment lines, options and search lines give nothing; a tab may follow the keyword; names
  // are kept (filtering them is up to the wrappers).
  EXPECT_EQ(get_machine_nameservers(data + "/resolv/mixed.conf"),
            (std::vector<std::string>{"192.0.2.53", "2001:db8::53", "resolver.example.test"}));
}

TEST(MachineNameserversTest, FileWithoutServersOrNoFileGivesNone) {
  EXPECT_TRUE(get_machine_nameservers(data + "/resolv/without_servers.conf").empty());
  EXPECT_TRUE(get_machine_nameservers(data + "/resolv/absent.conf").empty());
}

TEST(HostToIpTest, DigitsOnlyAreNotLookedUp) {
  EXPECT_TRUE(host_to_IP("", IPv4_only).empty());
  EXPECT_TRUE(host_to_IP("12345", any_family).empty());
}

TEST(HostToIpTest, LiteralsAndHostsFileNamesResolveWithoutDns) {
  EXPECT_EQ(host_to_IP("127.0.0.1", IPv4_only).to_string(), "127.0.0.1");
  EXPECT_EQ(host_to_IP("::1", IPv6_first).to_string(), "::1");
  // An IPv4-only name under the IPv6-first strategy falls back to IPv4.
  EXPECT_EQ(host_to_IP("127.0.0.1", IPv6_first).to_string(), "127.0.0.1");
  EXPECT_EQ(host_to_IP("localhost", IPv4_only).to_string(), "127.0.0.1");
  // An IPv6 literal cannot be had in IPv4: a silent empty address.
  EXPECT_TRUE(host_to_IP("::1", IPv4_only).empty());
}

TEST(ComputeDurationTest, EachTimeIsTruncatedToMillisecondsFirst) {
  EXPECT_EQ(compute_duration({10, 999999999}, {11, 0}), 1);
  EXPECT_EQ(compute_duration({10, 0}, {10, 999999}), 0);
  EXPECT_EQ(compute_duration({1, 500000000}, {3, 250000000}), 1750);
  EXPECT_EQ(compute_duration({11, 0}, {10, 0}), -1000);
}

TEST(ComputeDurationTest, DurationsBeyondTheIntRangeThrow) {
  EXPECT_EQ(compute_duration({0, 0}, {2147483, 647000000}), 2147483647);
  EXPECT_THROW(compute_duration({0, 0}, {2147483, 648000000}), exception);
  try {
    compute_duration({0, 0}, {4000000000, 0});
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_STREQ(error.what(), "Time duration overflow.");
  }
}

TEST(SplitTest, BehavesLikeGetline) {
  EXPECT_THAT(split("a,,b", ','), ElementsAre("a", "", "b"));
  EXPECT_THAT(split("a,", ','), ElementsAre("a"));
  EXPECT_THAT(split(",a", ','), ElementsAre("", "a"));
  EXPECT_THAT(split("a,,", ','), ElementsAre("a", ""));
  EXPECT_TRUE(split("", ',').empty());
  EXPECT_THAT(split("no delimiter", ','), ElementsAre("no delimiter"));
}

}  // namespace
}  // namespace Network_tools
