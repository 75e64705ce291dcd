// The Delv wrapper's parser on texts recorded from the lab (its command line is tested with the
// Dig parameters that make it).
#include <gtest/gtest.h>

#include <sstream>

#include "delv/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Delv {
namespace {

using namespace testing_support;

class DelvParserTest : public ::testing::Test {
 protected:
  const TestResult& parse(const std::string& file) {
    parameters.host = "www.lab.test";
    wrapper = std::make_unique<Wrapper>(logger, parameters);
    text = recorded(file);
    wrapper->output_to_JSON(text);
    return wrapper->test_result();
  }
  std::string chain() { return value_at(wrapper->test_result(), "M0:qv-delv.test.trust-chain"); }

  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Parameters parameters{""};
  std::unique_ptr<Wrapper> wrapper;
  std::string text;
};

TEST_F(DelvParserTest, FullyValidatedAnswerDescribesTheWholeChain) {
  const TestResult& result = parse("delv_fully_validated.txt");
  EXPECT_EQ(value_at(result, "S:common.results.error-code"), "<absent>");
  EXPECT_EQ(value_at(result, "S:qv-delv.test.duration.ms"), "136");
  EXPECT_EQ(value_at(result, "M0:qv-delv.test.trace"), text);
  const std::string lines = chain();
  EXPECT_EQ(
      lines.rfind("    RRSIG on www.lab.test. (A) signed by lab.test. with algorithm "
                  "ECDSAP256SHA256 (13) and key tag 17579 (expiration: 20270105074422, "
                  "injection: 20261206074422)\n    DNSKEY on lab.test. public portion of ZSK "
                  "(key tag 17579) created with algorithm ECDSAP256SHA256 (13) and flags 256\n",
                  0),
      0u);
  // The DS of a key seen earlier names its zone; one of a key not seen yet does not.
  EXPECT_NE(lines.find("    DS on lab.test. with digest of key tag 30931 (lab.test.) created with "
                       "algorithm ECDSAP256SHA256 (13)\n"),
            std::string::npos);
  EXPECT_NE(lines.find("    DS on test. with digest of key tag 737 (test.) created"),
            std::string::npos);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 17);
}

TEST_F(DelvParserTest, UnsignedAnswersAreReportedWithoutDetails) {
  for (const char* file : {"delv_unsigned.txt", "delv_negative_unsigned.txt"}) {
    const TestResult& result = parse(file);
    EXPECT_EQ(value_at(result, "S:common.results.error-code"),
              "qv-delv.results.error.answer-unsigned")
        << file;
    EXPECT_EQ(value_at(result, "S:common.results.error-details"), "<absent>") << file;
  }
  // The unsigned zone's answer came without a signature; so did its SOA in the negative case.
  EXPECT_EQ(chain().rfind("    RRSIG missing for record A\n", 0), 0u);
  EXPECT_NE(chain().find("    NSEC on unsigned.test.\n"), std::string::npos);
}

TEST_F(DelvParserTest, BrokenChainIsAResolutionFailureWithItsReason) {
  const TestResult& result = parse("delv_resolution_failed.txt");
  EXPECT_EQ(value_at(result, "S:common.results.error-code"),
            "qv-delv.results.error.resolution-failure");
  EXPECT_EQ(value_at(result, "S:common.results.error-details"), "broken trust chain");
  EXPECT_EQ(value_at(result, "S:qv-delv.test.duration.ms"), "113");
}

}  // namespace
}  // namespace Network_tools::Delv
