// The wrapper base: test failures, fatal ends, URL splitting, name-server loading and hooks.
#include "wrapper/wrapper.h"

#include <gtest/gtest.h>

#include "frame/exception.h"
#include "support/sample_wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

struct Url {
  std::string scheme;
  std::string host;
  int port = -1;
};

Url split_url(const std::string& text) {
  Url url;
  Wrapper::retrieve_details_from_url(text, url.scheme, url.host, url.port);
  return url;
}

std::string url_error(const std::string& text) {
  try {
    split_url(text);
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 0);
    return error.what();
  }
  return "";
}

TEST(UrlTest, SplitsSchemeHostAndPort) {
  const Url bracketed = split_url("qv-dns-exp://[2001:db8::1]:5353/x");
  EXPECT_EQ(bracketed.scheme, "qv-dns-exp");
  EXPECT_EQ(bracketed.host, "2001:db8::1");
  EXPECT_EQ(bracketed.port, 5353);

  const Url plain = split_url("qv-dns-trace://example.com");
  EXPECT_EQ(plain.scheme, "qv-dns-trace");
  EXPECT_EQ(plain.host, "example.com");
  EXPECT_EQ(plain.port, 0);

  EXPECT_EQ(split_url("qv-dns-exp://example.com:53/a/b:c").host, "example.com");
  EXPECT_EQ(split_url("qv-dns-exp://example.com:53/a/b:c").port, 53);
  EXPECT_EQ(split_url("qv-dns-exp://[::1]").host, "::1");
  EXPECT_EQ(split_url("qv-dns-exp://[::1]").port, 0);
  EXPECT_EQ(split_url("qv-dns-exp://").host, "");
}

TEST(UrlTest, MalformedUrlsAndPortsAreRefused) {
  EXPECT_EQ(url_error("example.com"), "Missing ://");
  EXPECT_EQ(url_error("qv-dns-exp:/example.com"), "Missing ://");
  EXPECT_EQ(url_error("qv-dns-exp://example.com:53a"), "Port is not totally integer");
  EXPECT_EQ(url_error("qv-dns-exp://example.com:"), "Port is not integer");
  EXPECT_EQ(url_error("qv-dns-exp://example.com:x53"), "Port is not integer");
  EXPECT_EQ(url_error("qv-dns-exp://example.com:-53"), "Port is not integer");
  EXPECT_EQ(url_error("qv-dns-exp://example.com:99999999999"), "Port is not integer");
  // Without brackets an IPv6 literal cannot be told from a port.
  EXPECT_EQ(url_error("qv-dns-exp://2001:db8::1"), "Port is not integer");
}

TEST(WrapperTest, TestFailureRecordsTheErrorCodeAndCarriesTheDocument) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  try {
    wrapper.throw_exception(1012, "qv-dns.results.error.nameserver-resolution-failure",
                            "Cannot resolve name server: ns1.example.test", true, 0, -1);
    FAIL() << "no exception";
  } catch (const exception& error) {
    EXPECT_STREQ(error.what(),
                 "Cannot resolve name server: ns1.example.test "
                 "(qv-dns.results.error.nameserver-resolution-failure)");
    EXPECT_EQ(error.error_code(), 1012);
    EXPECT_EQ(error.error_message(), wrapper.get_test_result().to_string());
    EXPECT_NE(error.error_message().find(
                  R"("OtherData":{"common.results.error-code":"qv-dns.results.error.)"),
              std::string::npos);
  }
  EXPECT_EQ(wrapper.result().retrieve_error("common.results.error-code", 0, -1),
            "qv-dns.results.error.nameserver-resolution-failure");
}

TEST(WrapperTest, TestFailureWithoutJsonCarriesNoDocument) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  try {
    wrapper.throw_exception(3, "sample.error", "gone", false, 0, 0);
  } catch (const exception& error) {
    EXPECT_FALSE(error.need_JSON_output());
  }
  // Recorded all the same, at the step this caller named.
  EXPECT_EQ(wrapper.result().retrieve_error("common.results.error-code", 0, 0), "sample.error");
}

TEST(WrapperTest, FatalAndInternalErrorsEndTheProcess) {
  EXPECT_EXIT(Wrapper::throw_fatal_error("Missing Host (qv-dns.results.error.missing-host)"),
              ::testing::ExitedWithCode(1),
              "^Fatal error: Missing Host \\(qv-dns.results.error.missing-host\\)\n$");
  EXPECT_EXIT(Wrapper::throw_internal_error("Empty output"), ::testing::ExitedWithCode(1),
              "^Internal error: Empty output\n$");
}

TEST(WrapperTest, NameServersAreFilteredByFamilyInConfigurationOrder) {
  Logger logger(LEVEL_ERROR);
  Sample_wrapper wrapper(logger);
  wrapper.set_resolver_configuration(
      [] { return get_machine_nameservers(std::string(NT_TEST_DATA_DIR) + "/resolv/mixed.conf"); });
  EXPECT_EQ(wrapper.load_nameservers(false), std::vector<std::string>{"192.0.2.53"});
  EXPECT_EQ(wrapper.load_nameservers(true),
            (std::vector<std::string>{"192.0.2.53", "2001:db8::53"}));
}

TEST(WrapperTest, DefaultHooksReachTheSystem) {
  // A tool that calls its hooks gets the real helpers unless a test replaced them.
  struct Probe : Sample_wrapper {
    using Sample_wrapper::Sample_wrapper;
    std::string run_command(const std::string& command, int& status) {
      return command_reader_(command_launcher_(command, pipes), status);
    }
    IP::Address look_up(const std::string& host) { return host_lookup_(host, IPv4_only); }
  };
  Logger logger(LEVEL_ERROR);
  Probe probe(logger);
  int status = -1;
  EXPECT_EQ(probe.run_command("echo hello; exit 4", status), "hello\n");
  EXPECT_EQ(status, 4);
  EXPECT_EQ(probe.look_up("127.0.0.1").to_string(), "127.0.0.1");

  probe.set_command_launcher([](const std::string&, Pipe_registry&) { return nullptr; });
  probe.set_command_reader([](FILE*, int& exit_status) {
    exit_status = 0;
    return std::string("replaced");
  });
  EXPECT_EQ(probe.run_command("echo hello", status), "replaced");
}

}  // namespace
}  // namespace Network_tools
