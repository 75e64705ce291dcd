// What a failure carries to the process entry.
#include "frame/exception.h"

#include <gtest/gtest.h>

namespace Network_tools {
namespace {

TEST(ExceptionTest, JsonOutputIsWantedExactlyWhenThereIsADocument) {
  const exception failure("No answer (qv-dns.results.error.timeout)", 12, R"({"a":1})");
  EXPECT_STREQ(failure.what(), "No answer (qv-dns.results.error.timeout)");
  EXPECT_EQ(failure.error_code(), 12);
  EXPECT_EQ(failure.error_message(), R"({"a":1})");
  EXPECT_TRUE(failure.need_JSON_output());
  // Whatever the code: an error without a document prints nothing on standard output.
  EXPECT_FALSE(exception("failed", 1003, "").need_JSON_output());
}

}  // namespace
}  // namespace Network_tools
