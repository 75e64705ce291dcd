// Log line format and level filtering.
#include "frame/logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <sstream>

namespace Network_tools {
namespace {

using ::testing::MatchesRegex;

// POSIX extended expression of the time stamp.
const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";

std::string line(const std::string& ID, const std::string& tag, level_t level = LEVEL_ERROR) {
  std::ostringstream sink;
  Logger(LEVEL_INFO, ID, sink).write(level, tag, "Opened cache.");
  return sink.str();
}

TEST(LoggerTest, IdAndTagComeBeforeTheUniversalTimeAndLevelsFilter) {
  EXPECT_THAT(line("abc", "CACHE"),
              MatchesRegex("\\[ID=abc\\] \\[CACHE\\] " + stamp + " - Opened cache\\.\n"));

  // In a zone five hours east of UTC that needs no zone database, the stamp is still UTC.
  setenv("TZ", "XST-5", 1);
  tzset();
  const std::string text = line("", "");
  const time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  unsetenv("TZ");
  tzset();
  EXPECT_THAT(text, MatchesRegex(stamp + " - Opened cache\\.\n"));
  tm written{};
  ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &written), nullptr);
  EXPECT_LE(std::abs(timegm(&written) - now), 1);
  // Lines below the minimum level are dropped, those at it written.
  EXPECT_EQ(line("", "", LEVEL_DEBUG), "");
  EXPECT_NE(line("", "", LEVEL_INFO), "");
}

}  // namespace
}  // namespace Network_tools
