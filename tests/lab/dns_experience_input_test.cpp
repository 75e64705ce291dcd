// dns_experience's version text read from the installed native tools, run as a user would.
#include <gtest/gtest.h>

#include <string>

#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::built_tool;
using testing_support::Lab_run;
using testing_support::run_in_lab;

TEST(DnsExperienceLab, VersionNamesEachInstalledTool) {
  testing_support::ensure_lab_up();
  const Lab_run version = run_in_lab(built_tool("dns_experience") + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.err, "");

  // Each tool's own word for its version.
  const Lab_run dig = run_in_lab("/opt/Tarvex/Tools/bind/QV_dig -v 2>&1");
  const Lab_run delv = run_in_lab("/opt/Tarvex/Tools/bind/QV_delv -v 2>&1");
  const Lab_run traceroute =
      run_in_lab("/opt/Tarvex/Tools/traceroute/QV_traceroute --version 2>&1");
  const auto word_after = [](const std::string& text, const std::string& marker) {
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) return std::string("<missing>");
    const std::size_t start = at + marker.size();
    return text.substr(start, text.find_first_of(" \n", start) - start);
  };
  const std::string dig_version = word_after(dig.out, " ");
  const std::string traceroute_version = word_after(traceroute.out, " version ");
  ASSERT_FALSE(dig_version.empty() || dig_version == "<missing>") << dig.out;
  EXPECT_EQ(word_after(delv.out, " "), dig_version);
  EXPECT_EQ(version.out, "DnsExperience wrapper 1.16.7.2 for Linux\nQV_dig version: " +
                             dig_version + "\nQV_delv version: " + dig_version +
                             "\nQV_traceroute version: " + traceroute_version + "\n");
}

}  // namespace
}  // namespace Network_tools
