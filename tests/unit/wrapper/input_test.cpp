// Reading the JSON input document: sections, failed capabilities and settings standing in. The
// tools' reading of standard input is tested on the tools themselves (hostile_input_test.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "frame/exception.h"
#include "support/sample_wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

// The sample tool built from `document` on an in-memory stream, logging into `log`.
struct Built {
  explicit Built(const std::string& document)
      : input(document), logger(LEVEL_INFO, "", log), wrapper(logger, &input) {}
  std::stringbuf input;
  std::ostringstream log;
  Logger logger;
  Sample_wrapper wrapper;
};

TEST(InputTest, GoodDocumentIsAppliedAndMinimumEntriesWritten) {
  Built built(R"({"Capabilities":{"sample.flag":true},"Settings":{"Timeout":30},"Other":1})");
  EXPECT_TRUE(built.wrapper.flag);
  EXPECT_EQ(built.wrapper.parameters.get_timeout(), 30);
  EXPECT_TRUE(built.wrapper.result().check_other_data_presence("sample.results.flag", 0, -1));
  EXPECT_EQ(built.log.str(), "");
}

TEST(InputTest, BadCapabilityIsForgivenWhenItsSettingIsPresent) {
  Built built(R"({"Capabilities":{"sample.flag":"yes","sample.timeout":400},)"
              R"("Settings":{"Flag":true,"Timeout":20}})");
  EXPECT_TRUE(built.wrapper.flag);
  EXPECT_EQ(built.wrapper.parameters.get_timeout(), 20);
  EXPECT_THAT(built.log.str(),
              ::testing::MatchesRegex("\\[WARNING\\] .* - Bad sample.flag .*\n"
                                      "\\[WARNING\\] .* - Timeout of 400 over the limit of 300\n"));
  // The failure had recorded an error code; forgiven, it must not reach the result.
  EXPECT_EQ(built.wrapper.result().to_string().find("error-code"), std::string::npos);
}

TEST(InputTest, DocumentProblemsAndUnforgivenCapabilitiesAreFatal) {
  // Documents, and what standard error must end with.
  const std::pair<const char*, const char*> cases[] = {
      {R"({"Capabilities":{"sample.flag":true}})", "Fatal error: Cannot find Settings in input"},
      {R"([{"Capabilities":{}}])", "Fatal error: Cannot find Capabilities in input"},
      {R"({"Capabilities":[],"Settings":{}})", "Fatal error: Capabilities is not an object"},
      {"", "Fatal error: The document is empty\\."},
      // Only the first line is read.
      {"{\"Capabilities\":{},\n\"Settings\":{}}",
       "Fatal error: Missing a name for object member\\."},
      // A setting that stands in for another capability forgives nothing.
      {R"({"Capabilities":{"sample.flag":1},"Settings":{"Timeout":9}})",
       "\\[ERROR\\] .* - Capability sample.flag is malformed and no related Setting is available\n"
       "Fatal error: Bad sample.flag \\(sample.error.wrong-argument-value\\)"},
  };
  for (const auto& [document, ending] : cases) {
    const auto build = [document = document] {
      std::stringbuf input(document);
      Logger logger;
      Sample_wrapper wrapper(logger, &input);
    };
    EXPECT_EXIT(build(), ::testing::ExitedWithCode(1), std::string(ending) + "\n$") << document;
  }
}

TEST(InputTest, FailureOfASettingLeavesAfterTheMinimumEntries) {
  std::stringbuf input(R"({"Capabilities":{},"Settings":{"Broken":1}})");
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  EXPECT_THROW(wrapper.handle_stdin(&input), exception);
  EXPECT_TRUE(wrapper.result().check_other_data_presence("sample.results.flag", 0, -1));
}

}  // namespace
}  // namespace Network_tools
