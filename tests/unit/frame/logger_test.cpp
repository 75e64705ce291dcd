// Log line format and level filtering.
#include "frame/logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

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

TEST(LoggerTest, IdAndTagComeBeforeTheTimeAndAreLeftOutWhenEmpty) {
  EXPECT_THAT(line("abc", "CACHE"),
              MatchesRegex("\\[ID=abc\\] \\[CACHE\\] " + stamp + " - Opened cache\\.\n"));
  EXPECT_THAT(line("abc", ""), MatchesRegex("\\[ID=abc\\] " + stamp + " - Opened cache\\.\n"));
  EXPECT_THAT(line("", "INPUT CHANGE"),
              MatchesRegex("\\[INPUT CHANGE\\] " + stamp + " - Opened cache\\.\n"));
  EXPECT_THAT(line("", ""), MatchesRegex(stamp + " - Opened cache\\.\n"));
}

// The bounds come from the same clock as the logger: time() reads the coarse clock, which may
// still show the previous second.
time_t precise_now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return now.tv_sec;
}

TEST(LoggerTest, TimeIsUniversalTime) {
  const time_t before = precise_now();
  const std::string text = line("", "");
  tm written{};
  ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &written), nullptr);
  EXPECT_GE(timegm(&written), before);
  EXPECT_LE(timegm(&written), precise_now());
}

TEST(LoggerTest, LinesBelowTheMinimumLevelAreDropped) {
  EXPECT_EQ(line("", "", LEVEL_DEBUG), "");
  EXPECT_NE(line("", "", LEVEL_INFO), "");
  std::ostringstream sink;
  Logger logger(LEVEL_ERROR, "", sink);
  logger.write(LEVEL_WARNING, "WARNING", "hidden");
  logger.set_minimum_level(LEVEL_DEBUG);  // as debug mode does
  logger.write(LEVEL_DEBUG, "", "shown");
  EXPECT_THAT(sink.str(), MatchesRegex(stamp + " - shown\n"));
}

}  // namespace
}  // namespace Network_tools
