// dns_experience_view on results of real lab runs, checked as a user sees them: each page is
// loaded in Debian's headless Chromium (tests/browser/check_pages.mjs, one browser for all),
// which measures the level bars against the result document and takes a screenshot. The pages
// and screenshots stay in build/result_pages for a look.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::run_tool_in_lab;

TEST(ResultPageLab, LevelBarsInOrderScaledToTheirTimesInChromium) {
  testing_support::ensure_lab_up();
  const std::filesystem::path browser = std::filesystem::path(NT_SOURCE_DIR) / "tests/browser";
  ASSERT_TRUE(std::filesystem::exists(browser / "node_modules/playwright-core"))
      << "tests/browser has no node_modules: scripts/setup installs them";
  const std::filesystem::path folder = std::filesystem::path(NT_BINARY_DIR) / "../result_pages";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);

  // An alias whose upper levels come from the cache of the run before; a level whose two
  // servers time out one after the other.
  const std::string cache = "-j -c -C " + (folder / "cache.dat").string() + " ";
  run_tool_in_lab("dns_experience", cache + "to-example.alias.test");
  const std::vector<std::pair<std::string, std::string>> runs = {
      {"alias_cached", cache + "to-example.alias.test"},
      {"failed_servers", "-j -f -r 2 -w 1000 www.stalled.test"},
  };
  std::string pages;
  for (const auto& [name, arguments] : runs) {
    const testing_support::Lab_run run = run_tool_in_lab("dns_experience", arguments);
    ASSERT_EQ(run.status, 0) << arguments << "\n" << run.err;
    std::ofstream(folder / (name + ".json")) << run.out;
  }
  // Until traversal tests run in this build: a traversal result written by hand, with failed
  // and pinged servers.
  std::filesystem::copy_file(std::string(NT_TEST_DATA_DIR) + "/traversal_result.json",
                             folder / "traversal.json");
  for (const std::string name : {"alias_cached", "failed_servers", "traversal"}) {
    const std::string base = (folder / name).string();
    const testing_support::Lab_run view =
        testing_support::run_in_lab(testing_support::built_tool("dns_experience_view") + " " +
                                    base + ".json >" + base + ".html");
    ASSERT_EQ(view.status, 0) << name << ": " << view.err;
    pages += " " + base + ".json " + base + ".html " + base + ".png";
  }

  const testing_support::Lab_run check =
      testing_support::run_in_lab("node " + (browser / "check_pages.mjs").string() + pages);
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_NE(check.out.find("3 passed, 0 failed"), std::string::npos) << check.out << check.err;
}

}  // namespace
}  // namespace Network_tools
