// The wrapper base: test failures, internal errors, URL splitting, name-server loading and hooks,
// with the parameter-set base, the typed JSON accessors and the command-line argument readers.
#include "wrapper/wrapper.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "frame/exception.h"
#include "support/sample_wrapper.h"
#include "wrapper/arguments.h"
#include "wrapper/json_access.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

TEST(UrlTest, SplitsSchemeHostAndPortAndRefusesMalformedPorts) {
  const std::pair<const char*, const char*> cases[] = {
      {"qv-dns-exp://[2001:db8::1]:5353/x", "qv-dns-exp|2001:db8::1|5353"},
      {"qv-dns-trace://example.com", "qv-dns-trace|example.com|0"},
      {"qv-dns-exp://example.com:53/a/b:c", "qv-dns-exp|example.com|53"},
      {"qv-dns-exp://[::1]", "qv-dns-exp|::1|0"},
      {"qv-dns-exp:/example.com", "Missing ://"},
      {"qv-dns-exp://example.com:53a", "Port is not totally integer"},
      {"qv-dns-exp://example.com:", "Port is not integer"},
      {"qv-dns-exp://example.com:-53", "Port is not integer"},
      {"qv-dns-exp://example.com:99999999999", "Port is not integer"},
      {"qv-dns-exp://2001:db8::1", "Port is not integer"},  // an IPv6 host needs brackets
  };
  for (const auto& [url, expected] : cases) {
    std::string scheme;
    std::string host;
    int port = -1;
    try {
      Wrapper::retrieve_details_from_url(url, scheme, host, port);
      EXPECT_EQ(scheme + "|" + host + "|" + std::to_string(port), expected) << url;
    } catch (const exception& error) {
      EXPECT_STREQ(error.what(), expected) << url;
    }
  }
}

TEST(WrapperTest, TestFailureCarriesItsCodeAndTheDocument) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  try {
    wrapper.throw_exception(1012, "qv-dns.results.error.x", "No server", true, 0, -1);
    ADD_FAILURE() << "nothing thrown";
  } catch (const exception& error) {
    EXPECT_STREQ(error.what(), "No server (qv-dns.results.error.x)");
    EXPECT_EQ(error.error_code(), 1012);
    EXPECT_TRUE(error.need_JSON_output());
    EXPECT_EQ(error.error_message(), wrapper.result().to_string());
  }
  EXPECT_EXIT(Wrapper::throw_internal_error("Empty output"), ::testing::ExitedWithCode(1),
              "^Internal error: Empty output\n$");
}

TEST(WrapperTest, DefaultHooksReachTheSystem) {
  struct Probe : Sample_wrapper {
    using Sample_wrapper::Sample_wrapper;
    std::string run_command(const std::string& command, int& status) {
      return command_reader_(command_launcher_(command, pipes), status);
    }
  };
  Logger logger(LEVEL_ERROR);
  Probe probe(logger);
  int status = -1;
  EXPECT_EQ(probe.run_command("echo hello; exit 4", status), "hello\n");
  EXPECT_EQ(status, 4);

  // Name servers come from the resolver file in order, without comments (a tab may follow the
  // keyword), filtered by family; a missing file gives none.
  std::string file = std::string(NT_TEST_DATA_DIR) + "/resolv/mixed.conf";
  probe.set_resolver_configuration([&file] { return get_machine_nameservers(file); });
  EXPECT_EQ(probe.load_nameservers(false), std::vector<std::string>{"192.0.2.53"});
  EXPECT_EQ(probe.load_nameservers(true), (std::vector<std::string>{"192.0.2.53", "2001:db8::53"}));
  file += ".absent";
  EXPECT_TRUE(probe.load_nameservers(true).empty());
}

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
  EXPECT_EQ(typed(GetBool, "\"true\""), "Bool");
  EXPECT_EQ(typed(GetInt, "-2147483648"), "-2147483648");
  for (const char* not_int : {"2147483648", "5.0", "\"5\""}) {
    EXPECT_EQ(typed(GetInt, not_int), "Int") << not_int;
  }
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
