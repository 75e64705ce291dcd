// dns_experience run as a user would inside the lab: its version text read from the installed
// native tools, and hostile input refused before any query.
#include <gtest/gtest.h>

#include <string>

#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::run_in_lab;

TEST(DnsExperienceLab, VersionNamesEachInstalledTool) {
  testing_support::ensure_lab_up();
  const auto version = run_in_lab(testing_support::built_tool("dns_experience") + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.err, "");
  // Each tool's own word for its version: after "NAME " for dig and delv, after " version " for
  // traceroute.
  const auto word_after = [](const std::string& command, const std::string& marker) {
    const std::string text = run_in_lab("/opt/Tarvex/Tools/" + command + " 2>&1").out;
    const std::size_t start = text.find(marker) + marker.size();
    return text.find(marker) == std::string::npos
               ? "<missing: " + text + ">"
               : text.substr(start, text.find_first_of(" \n", start) - start);
  };
  EXPECT_EQ(version.out, "DnsExperience wrapper 1.16.7.2 for Linux\nQV_dig version: " +
                             word_after("bind/QV_dig -v", " ") + "\nQV_delv version: " +
                             word_after("bind/QV_delv -v", " ") + "\nQV_traceroute version: " +
                             word_after("traceroute/QV_traceroute --version", " version ") + "\n");
}

TEST(DnsExperienceLab, HostileInputIsRefusedBeforeAnyQuery) {
  testing_support::ensure_lab_up();
  const auto document = [](const std::string& url) {
    return R"({"Capabilities":{"test.common.url":")" + url +
           R"("},"Settings":{"DebugModeOn":true}})" + "\n";
  };
  const std::string not_a_host =
      "]: not a DNS name or an IP address (qv-dns.results.error.invalid-host)";
  const std::string wrong = " (qv-dns.results.error.wrong-argument-value)";
  testing_support::expect_refused(
      "dns_experience",
      {
          {"-d -j -- +tcp", "", "Invalid host [+tcp" + not_a_host},
          {"", document("qv-dns-exp://www.lab.test;reboot"),
           "Invalid host [www.lab.test;reboot" + not_a_host},
          {"-d -j -t type99999 www.lab.test", "",
           "Invalid query type [type99999]: not a DNS record type" + wrong},
          {"", document("qv-dns-exp://www.lab.test\\u0000"),
           "URL [qv-dns-exp://www.lab.test\\x00] holds a control character" + wrong},
          {"-d -j -C '/tmp/a\nb' www.lab.test", "",
           "Cache path [/tmp/a\\x0ab] holds a control character" + wrong},
      });
}

}  // namespace
}  // namespace Network_tools
