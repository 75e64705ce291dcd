// Resolver configuration, name resolution without the network, durations and splitting.
#include "frame/system.h"

#include <gtest/gtest.h>

#include "frame/exception.h"

namespace Network_tools {
namespace {

using strings = std::vector<std::string>;
const std::string data = NT_TEST_DATA_DIR;

TEST(MachineNameserversTest, ServersInFileOrderWithoutComments) {
  // Comments, options and search lines give nothing; a tab may follow the keyword; names are
  // kept (the wrappers filter them).
  EXPECT_EQ(get_machine_nameservers(data + "/resolv/mixed.conf"),
            (strings{"192.0.2.53", "2001:db8::53", "resolver.example.test"}));
  EXPECT_EQ(get_machine_nameservers(data + "/resolv/absent.conf"), strings{});
}

TEST(HostToIpTest, ResolvesLiteralsAndHostsFileNamesAndNeverDigits) {
  EXPECT_TRUE(host_to_IP("12345", any_family).empty());
  EXPECT_EQ(host_to_IP("localhost", IPv4_only).to_string(), "127.0.0.1");
  EXPECT_EQ(host_to_IP("::1", IPv6_first).to_string(), "::1");
  // IPv6 first falls back to IPv4; IPv4 only gives an IPv6 literal nothing, silently.
  EXPECT_EQ(host_to_IP("127.0.0.1", IPv6_first).to_string(), "127.0.0.1");
  EXPECT_TRUE(host_to_IP("::1", IPv4_only).empty());
}

TEST(ComputeDurationTest, TimesAreTruncatedToMillisecondsFirst) {
  EXPECT_EQ(compute_duration({10, 999999999}, {11, 0}), 1);
  EXPECT_EQ(compute_duration({11, 0}, {10, 0}), -1000);
  EXPECT_EQ(compute_duration({0, 0}, {2147483, 647000000}), 2147483647);
  try {
    compute_duration({0, 0}, {2147483, 648000000});
    ADD_FAILURE() << "no overflow";
  } catch (const exception& error) {
    EXPECT_STREQ(error.what(), "Time duration overflow.");
  }
}

TEST(SplitTest, BehavesLikeGetline) {
  EXPECT_EQ(split("a,,b", ','), (strings{"a", "", "b"}));
  EXPECT_EQ(split("a,", ','), strings{"a"});
  EXPECT_EQ(split("", ','), strings{});
}

}  // namespace
}  // namespace Network_tools
