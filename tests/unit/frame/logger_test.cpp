// Log line format and level filtering.
#include "frame/logger.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <time.h>

#include <sstream>

namespace Network_tools {
namespace {

using ::testing::MatchesRegex;

// POSIX extended expressions, as the matcher takes them.
const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";

TEST(LoggerTest, LineCarriesIdTagTimeAndMessageInThatOrder) {
  std::ostringstream sink;
  Logger logger(LEVEL_INFO, "abc", sink);
  logger.write(LEVEL_INFO, "CACHE", "Opened cache storage path successfully.");
  EXPECT_THAT(sink.str(), MatchesRegex("\\[ID=abc\\] \\[CACHE\\] " + stamp +
                                       " - Opened cache storage path successfully\\.\n"));
}

TEST(LoggerTest, EmptyTagAndEmptyIdAreLeftOutWithTheirBlanks) {
  std::ostringstream only_id;
  Logger with_id(LEVEL_INFO, "t-1", only_id);
  with_id.write(LEVEL_ERROR, "", "m");
  EXPECT_THAT(only_id.str(), MatchesRegex("\\[ID=t-1\\] " + stamp + " - m\n"));

  std::ostringstream only_tag;
  Logger with_tag(LEVEL_INFO, "", only_tag);
  with_tag.write(LEVEL_ERROR, "INPUT CHANGE", "m");
  EXPECT_THAT(only_tag.str(), MatchesRegex("\\[INPUT CHANGE\\] " + stamp + " - m\n"));

  std::ostringstream neither;
  Logger bare(LEVEL_INFO, "", neither);
  bare.write(LEVEL_ERROR, "", "m");
  EXPECT_THAT(neither.str(), MatchesRegex(stamp + " - m\n"));
}

TEST(LoggerTest, TimeIsUniversalTime) {
  std::ostringstream sink;
  Logger logger(LEVEL_DEBUG, "", sink);
  const time_t before = time(nullptr);
  logger.write(LEVEL_INFO, "", "now");
  const time_t after = time(nullptr);

  tm written{};
  ASSERT_NE(strptime(sink.str().c_str(), "%Y-%m-%d %H:%M:%S", &written), nullptr);
  const time_t seconds = timegm(&written);
  EXPECT_GE(seconds, before);
  EXPECT_LE(seconds, after);
}

TEST(LoggerTest, LinesBelowTheMinimumLevelAreDropped) {
  std::ostringstream sink;
  Logger logger(LEVEL_INFO, "", sink);
  logger.write(LEVEL_DEBUG, "", "hidden");
  EXPECT_EQ(sink.str(), "");

  // Debug mode lowers the minimum, as the input handlers do.
  logger.set_minimum_level(LEVEL_DEBUG);
  logger.write(LEVEL_DEBUG, "", "shown");
  EXPECT_NE(sink.str().find("shown"), std::string::npos);

  // A command-line run logs errors only.
  std::ostringstream errors_only;
  Logger strict(LEVEL_ERROR, "", errors_only);
  strict.write(LEVEL_WARNING, "WARNING", "hidden");
  strict.write(LEVEL_ERROR, "ERROR", "shown");
  EXPECT_EQ(errors_only.str().find("hidden"), std::string::npos);
  EXPECT_NE(errors_only.str().find("[ERROR] "), std::string::npos);
}

TEST(LoggerTest, IdSetLaterAppearsOnLaterLines) {
  std::ostringstream sink;
  Logger logger(LEVEL_INFO, "", sink);
  logger.write(LEVEL_INFO, "", "first");
  logger.set_ID("42");
  logger.write(LEVEL_INFO, "", "second");
  const std::string text = sink.str();
  EXPECT_EQ(text.rfind("[ID=", 0), std::string::npos);
  EXPECT_NE(text.find("\n[ID=42] "), std::string::npos);
}

}  // namespace
}  // namespace Network_tools
