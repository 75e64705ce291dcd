// The parameter-set base, the typed JSON accessors and the command-line argument readers.
#include "wrapper/parameters.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "support/sample_wrapper.h"
#include "wrapper/arguments.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

using testing_support::Sample_parameters;

std::string timeout_error(Sample_parameters& parameters, int value, int minimum, int maximum) {
  try {
    parameters.set_timeout(value, minimum, maximum);
  } catch (const Parameters::exception& error) {
    return error.what();
  }
  return "";
}

TEST(ParametersTest, TimeoutLimitsAreInclusiveAndRefusalsKeepTheOldValue) {
  Sample_parameters parameters;
  EXPECT_EQ(parameters.get_timeout(), 10);
  EXPECT_EQ(timeout_error(parameters, 5, 5, 300), "");
  EXPECT_EQ(parameters.get_timeout(), 5);
  EXPECT_EQ(timeout_error(parameters, 300, 5, 300), "");
  EXPECT_EQ(parameters.get_timeout(), 300);

  EXPECT_EQ(timeout_error(parameters, 301, 5, 300), "Timeout of 301 over the limit of 300");
  EXPECT_EQ(timeout_error(parameters, 4, 5, 300), "Timeout of 4 under the limit of 5");
  EXPECT_EQ(timeout_error(parameters, -70000, 1, 300), "Timeout of -70000 under the limit of 1");
  EXPECT_EQ(parameters.get_timeout(), 300);
  // The maximum is checked first.
  EXPECT_EQ(timeout_error(parameters, 7, 10, 6), "Timeout of 7 over the limit of 6");
}

TEST(ParametersTest, ToolFolderReplacesTheExecutablesDirectory) {
  Sample_parameters built_in;
  EXPECT_EQ(built_in.get_native_tool_executable(), "/opt/sample/bin/sample_tool");

  struct In_folder : Sample_parameters {
    In_folder() { tool_folder_ = "/tmp/tools/"; }
  };
  EXPECT_EQ(In_folder().get_native_tool_executable(), "/tmp/tools/sample_tool");
}

rapidjson::Document parse(const char* text) {
  rapidjson::Document document;
  document.Parse(text);
  return document;
}

template <typename Getter>
std::string type_error(Getter getter, const char* json) {
  const rapidjson::Document document = parse(json);
  try {
    getter(document);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "";
}

TEST(JsonAccessTest, AccessorsTakeOnlyTheirOwnType) {
  EXPECT_TRUE(GetBool(parse("true")));
  EXPECT_FALSE(GetBool(parse("false")));
  EXPECT_EQ(type_error(GetBool, "1"), "Bool");
  EXPECT_EQ(type_error(GetBool, "\"true\""), "Bool");

  EXPECT_EQ(GetInt(parse("-2147483648")), -2147483648);
  EXPECT_EQ(GetInt(parse("2147483647")), 2147483647);
  EXPECT_EQ(type_error(GetInt, "2147483648"), "Int");
  EXPECT_EQ(type_error(GetInt, "5.0"), "Int");
  EXPECT_EQ(type_error(GetInt, "\"5\""), "Int");
  EXPECT_EQ(type_error(GetInt, "null"), "Int");

  EXPECT_EQ(GetString(parse(R"("a\u0000b")")), std::string("a\0b", 3));
  EXPECT_EQ(type_error(GetString, "[]"), "String");
}

TEST(JsonAccessTest, CompactTextAndTypeNames) {
  EXPECT_EQ(JSON_to_string(parse(R"( { "a" : [ 1 , 2.5 ] , "b" : "x y" } )")),
            R"({"a":[1,2.5],"b":"x y"})");
  // Full precision here, unlike the result document.
  EXPECT_EQ(JSON_to_string(parse("0.123456")), "0.123456");

  EXPECT_EQ(JSON_type_name(parse("null")), "Null");
  EXPECT_EQ(JSON_type_name(parse("false")), "Bool");
  EXPECT_EQ(JSON_type_name(parse("true")), "Bool");
  EXPECT_EQ(JSON_type_name(parse("{}")), "Object");
  EXPECT_EQ(JSON_type_name(parse("[]")), "Array");
  EXPECT_EQ(JSON_type_name(parse("\"\"")), "String");
  EXPECT_EQ(JSON_type_name(parse("1.5")), "Number");
}

template <typename Exception, typename Reader>
std::string argument_error(Reader reader, const char* argument) {
  try {
    reader("--tries", argument);
  } catch (const Exception& error) {
    return error.what();
  }
  return "no error";
}

TEST(ArgumentsTest, StringArgumentMustBeThereAndNotLookLikeAnOption) {
  EXPECT_EQ(retrieve_string_option("-n", "ns1.example.test"), "ns1.example.test");
  EXPECT_EQ(argument_error<std::length_error>(retrieve_string_option, nullptr), "--tries");
  EXPECT_EQ(argument_error<std::length_error>(retrieve_string_option, ""), "--tries");
  EXPECT_EQ(argument_error<std::length_error>(retrieve_string_option, "-x"), "--tries");
}

TEST(ArgumentsTest, IntArgumentMustBeAWholeNumberInRange) {
  EXPECT_EQ(retrieve_int_option("-r", "3"), 3);
  EXPECT_EQ(retrieve_int_option("-r", "2147483647"), 2147483647);
  EXPECT_EQ(argument_error<std::length_error>(retrieve_int_option, nullptr), "--tries");
  EXPECT_EQ(argument_error<std::length_error>(retrieve_int_option, "2147483648"), "--tries");
  EXPECT_EQ(argument_error<std::length_error>(retrieve_int_option, "-1"), "--tries");
  EXPECT_EQ(argument_error<std::invalid_argument>(retrieve_int_option, "abc"), "--tries");
  EXPECT_EQ(argument_error<std::invalid_argument>(retrieve_int_option, "3x"), "--tries");
  EXPECT_EQ(argument_error<std::invalid_argument>(retrieve_int_option, " 3"), "--tries");
}

}  // namespace
}  // namespace Network_tools
