// Reading the JSON input document: sections, failed capabilities, settings standing in, and
// the wait for standard input.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "frame/exception.h"
#include "support/sample_wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

// Builds the sample tool from `document` given as an in-memory stream.
struct Built {
  explicit Built(const std::string& document)
      : input(document), logger(LEVEL_INFO, "", log), wrapper(logger, &input) {}
  std::stringbuf input;
  std::ostringstream log;
  Logger logger;
  Sample_wrapper wrapper;
};

bool has_error_code(const TestResult& result) {
  return result.check_other_data_presence("common.results.error-code", 0, 0) ||
         result.check_other_data_presence("common.results.error-code", 0, -1) ||
         result.check_other_data_presence("common.results.error-code", -1, -1);
}

TEST(InputTest, GoodDocumentIsAppliedAndMinimumEntriesWritten) {
  Built built(
      R"({"Capabilities":{"sample.flag":true,"test.common.url":"qv-dns-exp://example.test"},)"
      R"("Settings":{"Timeout":30},"Other":1})");
  EXPECT_TRUE(built.wrapper.flag);
  EXPECT_EQ(built.wrapper.host, "example.test");
  EXPECT_EQ(built.wrapper.parameters.get_timeout(), 30);
  EXPECT_EQ(built.wrapper.min_options_calls, 1);
  EXPECT_TRUE(built.wrapper.result().check_other_data_presence("sample.results.host", 0, -1));
  EXPECT_EQ(built.log.str(), "");
}

TEST(InputTest, BadCapabilityIsForgivenWhenItsSettingIsPresent) {
  Built built(R"({"Capabilities":{"sample.flag":"yes"},"Settings":{"Flag":true}})");
  EXPECT_TRUE(built.wrapper.flag);
  EXPECT_NE(built.log.str().find("[WARNING] "), std::string::npos);
  EXPECT_NE(built.log.str().find(" - Capability sample.flag is supposed to be Bool and not String "
                                 "(sample.error.wrong-argument-value)\n"),
            std::string::npos)
      << built.log.str();
  // The failure had recorded an error code; forgiven, it must not reach the result.
  EXPECT_FALSE(has_error_code(built.wrapper.result()));
  EXPECT_EQ(built.wrapper.min_options_calls, 1);
}

TEST(InputTest, RefusedParameterValueIsForgivenByItsSettingToo) {
  Built built(R"({"Capabilities":{"sample.timeout":400},"Settings":{"Timeout":20}})");
  EXPECT_EQ(built.wrapper.parameters.get_timeout(), 20);
  EXPECT_NE(built.log.str().find("Timeout of 400 over the limit of 300"), std::string::npos);
}

TEST(InputTest, BadCapabilityWithoutSettingIsFatal) {
  EXPECT_EXIT(
      {
        std::stringbuf input(R"({"Capabilities":{"sample.flag":"yes"},"Settings":{"Timeout":9}})");
        Logger logger;
        Sample_wrapper wrapper(logger, &input);
      },
      ::testing::ExitedWithCode(1),
      "\\[ERROR\\] .* - Capability sample.flag is malformed and no related Setting is "
      "available\nFatal error: Capability sample.flag is supposed to be Bool and not String "
      "\\(sample.error.wrong-argument-value\\)\n$");
}

TEST(InputTest, LaterFailureOfTheSameCapabilityWins) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  const auto failed =
      wrapper.handle_options(R"({"Capabilities":{"sample.flag":1,"sample.flag":null}})");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed.at("sample.flag").find("and not Null"), std::string::npos);
}

TEST(InputTest, SectionProblemsAreFatal) {
  const struct {
    const char* document;
    const char* message;
  } cases[] = {
      {R"({"Capabilities":{"sample.flag":true}})", "Cannot find Settings in input"},
      {R"({"Settings":{}})", "Cannot find Capabilities in input"},
      {R"([{"Capabilities":{}}])", "Cannot find Capabilities in input"},
      {R"({"Capabilities":[],"Settings":{}})", "Capabilities is not an object"},
      {R"({"Capabilities":{},"Settings":"x"})", "Settings is not an object"},
      {"", "The document is empty."},
      {"{\"Capabilities\":{},\n\"Settings\":{}}", "Missing a name for object member."},
      {"{\"Capabilities\":{}} trailing", "The document root must not be followed by other values."},
      {"nonsense", "Invalid value."},
  };
  for (const auto& entry : cases) {
    EXPECT_EXIT(
        {
          std::stringbuf input(entry.document);
          Logger logger;
          Sample_wrapper wrapper(logger, &input);
        },
        ::testing::ExitedWithCode(1), std::string("^Fatal error: ") + entry.message + "\n$")
        << entry.document;
  }
}

TEST(InputTest, AbsentStreamIsFatal) {
  EXPECT_EXIT(
      {
        Logger logger;
        Sample_wrapper wrapper(logger, nullptr);
      },
      ::testing::ExitedWithCode(1), "^Fatal error: Bad input \\(streambuf is nullptr\\)\n$");
}

TEST(InputTest, FailureOfASettingLeavesAfterTheMinimumEntries) {
  std::stringbuf input(R"({"Capabilities":{},"Settings":{"Broken":1}})");
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  try {
    wrapper.handle_stdin(&input);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_STREQ(error.what(), "broken setting");
    EXPECT_EQ(error.error_code(), 9);
  }
  EXPECT_EQ(wrapper.min_options_calls, 1);
}

// Makes a pipe the process's standard input; returns its write end.
int pipe_as_stdin() {
  int ends[2];
  if (pipe(ends) != 0 || dup2(ends[0], STDIN_FILENO) < 0) std::_Exit(2);
  close(ends[0]);
  return ends[1];
}

TEST(InputTest, StandardInputIsReadUpToTheFirstLineEnd) {
  EXPECT_EXIT(
      {
        const int writer = pipe_as_stdin();
        const std::string text =
            "{\"Capabilities\":{\"sample.flag\":true},\"Settings\":{}}\nnot read\n";
        if (write(writer, text.data(), text.size()) < 0) std::_Exit(2);
        Logger logger;
        Sample_wrapper wrapper(logger, std::cin.rdbuf());
        std::_Exit(wrapper.flag ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(InputTest, NothingOnStandardInputWithinFiveSecondsIsFatal) {
  EXPECT_EXIT(
      {
        // The write end stays open and silent.
        pipe_as_stdin();
        Logger logger;
        Sample_wrapper wrapper(logger, std::cin.rdbuf());
      },
      ::testing::ExitedWithCode(1), "^Fatal error: Timeout on receiving STDIN input\n$");
}

}  // namespace
}  // namespace Network_tools
