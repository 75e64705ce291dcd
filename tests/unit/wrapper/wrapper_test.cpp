// The wrapper base: test failures, internal errors, URL splitting, name-server loading and hooks.
#include "wrapper/wrapper.h"

#include <gtest/gtest.h>

#include "frame/exception.h"
#include "support/sample_wrapper.h"

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

TEST(WrapperTest, TestFailureRecordsTheErrorCodeAndCarriesTheDocumentWhenAsked) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  for (const bool need_JSON : {true, false}) {
    try {
      wrapper.throw_exception(1012, "qv-dns.results.error.x", "No server", need_JSON, 0, -1);
    } catch (const exception& error) {
      EXPECT_STREQ(error.what(), "No server (qv-dns.results.error.x)");
      EXPECT_EQ(error.error_code(), 1012);
      EXPECT_EQ(error.error_message(), need_JSON ? wrapper.result().to_string() : "");
      EXPECT_EQ(error.need_JSON_output(), need_JSON);
    }
  }
  EXPECT_EQ(wrapper.result().retrieve_error("common.results.error-code", 0, -1),
            "qv-dns.results.error.x");
  // Fatal errors are checked with the input they come from.
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

  // Name servers come from the resolver hook, filtered by family, in order.
  probe.set_resolver_configuration(
      [] { return get_machine_nameservers(std::string(NT_TEST_DATA_DIR) + "/resolv/mixed.conf"); });
  EXPECT_EQ(probe.load_nameservers(false), std::vector<std::string>{"192.0.2.53"});
  EXPECT_EQ(probe.load_nameservers(true), (std::vector<std::string>{"192.0.2.53", "2001:db8::53"}));
}

}  // namespace
}  // namespace Network_tools
