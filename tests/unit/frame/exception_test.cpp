// What the exceptions carry to the process entry.
#include "frame/exception.h"

#include <gtest/gtest.h>

#include "wrapper/parameters.h"

namespace Network_tools {
namespace {

TEST(ExceptionTest, CarriesMessageCodeAndErrorDocument) {
  const exception error("Cannot resolve name server: ns1 (qv-dns.results.error.x)", 1012,
                        R"({"MonitorResults":[]})");
  EXPECT_STREQ(error.what(), "Cannot resolve name server: ns1 (qv-dns.results.error.x)");
  EXPECT_EQ(error.error_code(), 1012);
  EXPECT_EQ(error.error_message(), R"({"MonitorResults":[]})");
  EXPECT_TRUE(error.need_JSON_output());
}

TEST(ExceptionTest, NoDocumentMeansNoJsonOutputWhateverTheCode) {
  EXPECT_FALSE(exception("failed", 1003, "").need_JSON_output());
  EXPECT_FALSE(exception("Usage: ...", 0, "").need_JSON_output());
}

TEST(ExceptionTest, CopiesKeepEverything) {
  const exception original("m", 7, "{}");
  try {
    throw original;
  } catch (const std::exception& caught) {
    const auto* copy = dynamic_cast<const exception*>(&caught);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy->what(), "m");
    EXPECT_EQ(copy->error_code(), 7);
    EXPECT_EQ(copy->error_message(), "{}");
  }
}

TEST(ExceptionTest, ParameterExceptionIsAStandardExceptionWithItsMessage) {
  try {
    throw Parameters::exception("Tries of 9 over the limit of 5");
  } catch (const std::exception& caught) {
    EXPECT_STREQ(caught.what(), "Tries of 9 over the limit of 5");
  }
}

}  // namespace
}  // namespace Network_tools
