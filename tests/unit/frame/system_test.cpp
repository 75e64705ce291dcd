// Name resolution without the network, durations, and texts.
#include "frame/system.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "frame/exception.h"

namespace Network_tools {
namespace {

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
  EXPECT_THROW(compute_duration({0, 0}, {2147483, 648000000}), exception);
}

TEST(TextsTest, FormattedTextsAreWholeAndErrorTextsNamed) {
  EXPECT_EQ(format_text("%u.%03u", 1U, 5U), "1.005");
  EXPECT_EQ(format_text("%.2f", 1e40).size(), 44U);  // longer than any fixed buffer it replaced
  EXPECT_EQ(error_text(ENOENT), "No such file or directory");
}

}  // namespace
}  // namespace Network_tools
