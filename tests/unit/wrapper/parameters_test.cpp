// The parameter-set base, the typed JSON accessors and the command-line argument readers.
#include "wrapper/parameters.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/sample_wrapper.h"
#include "wrapper/arguments.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

TEST(ParametersTest, TimeoutLimitsAreInclusiveAndRefusalsKeepTheOldValue) {
  testing_support::Sample_parameters parameters;
  const auto refusal = [&parameters](int value, int minimum, int maximum) -> std::string {
    try {
      parameters.set_timeout(value, minimum, maximum);
    } catch (const Parameters::exception& error) {
      return error.what();
    }
    return "";
  };
  EXPECT_EQ(refusal(5, 5, 300), "");
  EXPECT_EQ(refusal(300, 5, 300), "");
  EXPECT_EQ(refusal(301, 5, 300), "Timeout of 301 over the limit of 300");
  EXPECT_EQ(refusal(4, 5, 300), "Timeout of 4 under the limit of 5");
  EXPECT_EQ(refusal(7, 10, 6), "Timeout of 7 over the limit of 6");  // maximum checked first
  EXPECT_EQ(parameters.get_timeout(), 300);
}

// What `read` makes of the JSON text, or the message of std::invalid_argument.
template <typename Reader>
std::string typed(Reader read, const char* json) {
  rapidjson::Document document;
  document.Parse(json);
  try {
    return ::testing::PrintToString(read(document));
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
}

TEST(JsonAccessTest, AccessorsTakeOnlyTheirOwnType) {
  EXPECT_EQ(typed(GetBool, "false"), "false");
  EXPECT_EQ(typed(GetBool, "1") + typed(GetBool, "\"true\""), "BoolBool");
  EXPECT_EQ(typed(GetInt, "-2147483648"), "-2147483648");
  for (const char* not_int : {"2147483648", "5.0", "\"5\"", "null"}) {
    EXPECT_EQ(typed(GetInt, not_int), "Int") << not_int;
  }
  EXPECT_EQ(typed(GetString, R"("a b")"), "\"a b\"");
  EXPECT_EQ(typed(GetString, "[]"), "String");
  EXPECT_EQ(typed(JSON_to_string, R"( { "a" : [ 1 , 0.123456 ] } )"), R"("{\"a\":[1,0.123456]}")");
}

TEST(ArgumentsTest, ArgumentsMustBePresentAndWholeNumbersInRange) {
  EXPECT_EQ(retrieve_string_option("-n", "ns1.example.test"), "ns1.example.test");
  EXPECT_EQ(retrieve_int_option("-r", "2147483647"), 2147483647);
  // Absent, empty, the next option, out of range: the value is missing.
  for (const char* missing : {static_cast<const char*>(nullptr), "", "-x", "2147483648"}) {
    EXPECT_THROW(retrieve_int_option("--tries", missing), std::length_error);
  }
  for (const char* invalid : {"abc", "3x", " 3"}) {
    EXPECT_THROW(retrieve_int_option("--tries", invalid), std::invalid_argument) << invalid;
  }
}

}  // namespace
}  // namespace Network_tools
