// The Dig wrapper's run with scripted tools: the retry budget, the failure classification, the
// rotation over the machine's name servers, and the hostname.bind and DNSSEC steps.
#include <gtest/gtest.h>

#include <sstream>

#include "dig/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Dig {
namespace {

using namespace testing_support;

const Reply timed_out{";; connection timed out; no servers could be reached\n", 9};

class DigRunTest : public ::testing::Test {
 protected:
  DigRunTest() {
    parameters.host = "www.lab.test";
    parameters.set_query_type("a");
    parameters.server = "127.53.4.1";
    parameters.JSON_output = true;
  }

  // A wrapper for `parameters` whose tools are scripted and whose machine has `servers`.
  Wrapper& make(std::vector<std::string> servers = {}) {
    wrapper = std::make_unique<Wrapper>(logger, parameters);
    tools.install(*wrapper);
    wrapper->set_resolver_configuration([servers] { return servers; });
    return *wrapper;
  }

  // Runs and returns the exception it ended with.
  exception run_failing() {
    try {
      wrapper->run();
    } catch (const exception& error) {
      return error;
    }
    ADD_FAILURE() << "the run did not fail";
    return exception("", 0, "");
  }

  Tool_folder folder;
  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Parameters parameters{folder.path()};
  Scripted_tools tools;
  std::unique_ptr<Wrapper> wrapper;
};

TEST_F(DigRunTest, FiveTriesOfOneAndAHalfSecondFitATenSecondBudget) {
  parameters.set_tries(5);
  make();
  tools.answer = [](const std::string&) { return timed_out; };
  const exception error = run_failing();
  EXPECT_EQ(tools.commands.size(), 5u);
  EXPECT_EQ(error.error_code(), 12);
  EXPECT_STREQ(error.what(), "Measurement timed out (qv-dns.results.error.timeout)");
  EXPECT_EQ(wrapper->get_elapsed_time(), 7500u);
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.duration.ms"), "7500");
  EXPECT_EQ(value_at(wrapper->test_result(), "S:qv-dns.results.status"),
            "qv-dns.results.error.timeout");
  EXPECT_EQ(value_at(wrapper->test_result(), "R:common.results.error-code"),
            "qv-dns.results.error.timeout");
}

TEST_F(DigRunTest, BudgetStopsTheRetriesBeforeTheTriesRunOut) {
  // 5000 ms tries: after the first time-out, another would reach the 10 s budget.
  parameters.set_retry_timeout(5000);
  make();
  tools.answer = [](const std::string&) { return timed_out; };
  EXPECT_STREQ(run_failing().what(), "Timedout (qv-dns.results.error.timeout)");
  EXPECT_EQ(tools.commands.size(), 1u);

  // A 1 s budget cannot hold one try of 1 s: nothing is started.
  parameters.set_retry_timeout(1000);
  parameters.set_timeout(1, 1, 300);
  make();
  tools.commands.clear();
  EXPECT_STREQ(run_failing().what(), "Timedout (qv-dns.results.error.timeout)");
  EXPECT_TRUE(tools.commands.empty());
}

TEST_F(DigRunTest, ATimeOutThenAnAnswerCountsTheLostTry) {
  make();
  tools.answer = [this](const std::string&) {
    return tools.commands.size() == 1 ? timed_out : Reply{recorded("dig_authoritative_answer.txt")};
  };
  const std::string document = wrapper->run();
  EXPECT_EQ(tools.commands.size(), 2u);
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.duration.ms"), "1504");
  EXPECT_EQ(document, wrapper->test_result().to_string());
}

TEST_F(DigRunTest, FailuresAreClassifiedInTableOrder) {
  struct expectation {
    std::string text;
    int code;
    std::string message;
    std::string details;
  };
  const std::vector<expectation> cases = {
      // Refused wins over the time-out that dig also reports.
      {";; communications error to 127.53.4.1#53: connection refused\n" + timed_out.text, 1014,
       "Cannot reach name server: 127.53.4.1", "Connection refused"},
      {";; UDP setup with 127.53.4.1#53 failed: network unreachable.\n", 1014,
       "Cannot reach name server: 127.53.4.1", "Network unreachable"},
      {"dig: 'x' is not a legal name (label too long)\n", 1002, "Host name too long: www.lab.test",
       "Host name too long"},
      {"dig: 'x..y' is not a legal name (empty label)\n", 1002,
       "Host name is not legal: www.lab.test", "Host name is not legal"},
  };
  for (const expectation& c : cases) {
    make();
    tools.answer = [&c](const std::string&) { return Reply{c.text, 9}; };
    const exception error = run_failing();
    EXPECT_EQ(error.error_code(), c.code) << c.text;
    EXPECT_EQ(error.what(), c.message + " (" + err_to_string(static_cast<err_t>(c.code)) + ")");
    EXPECT_EQ(value_at(wrapper->test_result(), "R:common.results.error-details"), c.details);
  }
  // Without a server the message names the default one.
  parameters.server.clear();
  make();
  tools.answer = [](const std::string&) { return Reply{"connection refused\n", 9}; };
  EXPECT_STREQ(run_failing().what(),
               "Cannot reach name server: default (qv-dns.results.error.nameserver-unreachable)");
}

TEST_F(DigRunTest, UninterpretableToolEndsAreInternalErrors) {
  make();
  tools.answer = [](const std::string&) { return Reply{"", 0}; };
  EXPECT_EXIT(wrapper->run(), ::testing::ExitedWithCode(1),
              "Internal error: Original tool returned nothing");
  tools.answer = [](const std::string&) {
    return Reply{"dig: couldn't get address for 'x': not found\nmore\n", 10};
  };
  EXPECT_EXIT(
      wrapper->run(), ::testing::ExitedWithCode(1),
      "Internal error: Original tool returned 10: couldn't get address for 'x': not found\n");
}

TEST_F(DigRunTest, TriesRotateOverTheMachineNameServers) {
  parameters.server.clear();
  parameters.set_tries(4);
  make({"127.53.0.53", "not-an-address", "127.53.0.54", "127.53.0.55"});
  std::vector<std::string> reported;
  tools.answer = [&](const std::string&) {
    reported.push_back(value_at(wrapper->test_result(), "S:qv-dns.results.server.name"));
    return timed_out;
  };
  run_failing();
  ASSERT_EQ(tools.commands.size(), 4u);
  const char* expected[] = {"@127.53.0.53 ", "@127.53.0.54 ", "@127.53.0.55 ", "@127.53.0.53 "};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NE(tools.commands[i].find(expected[i]), std::string::npos) << tools.commands[i];
  }
  EXPECT_EQ(reported,
            (std::vector<std::string>{"127.53.0.53", "127.53.0.54", "127.53.0.55", "127.53.0.53"}));
}

TEST_F(DigRunTest, FailingHostnameBindNeverFailsTheQuery) {
  make();
  wrapper->set_hostname_bind(true);
  tools.answer = [](const std::string& command) {
    return command.find("hostname.bind") != std::string::npos
               ? Reply{"connection refused\n", 9}
               : Reply{recorded("dig_authoritative_answer.txt")};
  };
  wrapper->run();
  const TestResult& result = wrapper->test_result();
  EXPECT_EQ(value_at(result, "M0:qv-dns.results.answer.info"), "127.53.100.1");
  EXPECT_EQ(value_at(result, "S:qv-dns.results.hostname-bind"), "<absent>");
  EXPECT_EQ(value_at(result, "R:common.results.error-code"),
            "qv-dns.results.error.nameserver-unreachable");
  EXPECT_EQ(value_at(result, "R:common.results.error-details"),
            "Error triggered while querying hostname BIND");
}

TEST_F(DigRunTest, ReusedWrapperAsksTheCurrentServerForItsIdentity) {
  make();
  wrapper->set_hostname_bind(true);
  tools.answer = [](const std::string& command) {
    return Reply{recorded(command.find("hostname.bind") != std::string::npos
                              ? "dig_hostname_bind.txt"
                              : "dig_authoritative_answer.txt")};
  };
  wrapper->run();
  // The engine's sequence for its next query, to another server.
  parameters.server = "127.53.4.2";
  wrapper->set_parameters(parameters);
  wrapper->test_result().initialize_JSON_object();
  wrapper->add_min_options();
  wrapper->set_elapsed_time(0);
  wrapper->set_record_counter(0);
  tools.commands.clear();
  wrapper->run();
  ASSERT_EQ(tools.commands.size(), 2u);
  EXPECT_NE(tools.commands[1].find("@127.53.4.2 hostname.bind txt chaos"), std::string::npos);
  EXPECT_EQ(metric_count(wrapper->test_result()), 1u);
}

TEST_F(DigRunTest, DNSSECValidationIsMergedWithItsErrorAndDuration) {
  parameters.DNSSEC = true;
  make({"127.53.0.53"});
  tools.answer = [](const std::string& command) {
    return Reply{recorded(command.find("QV_delv") != std::string::npos
                              ? "delv_unsigned.txt"
                              : "dig_authoritative_answer.txt")};
  };
  wrapper->run();
  ASSERT_EQ(tools.commands.size(), 2u);
  // The validation uses the machine's resolver: delv finds it by itself.
  EXPECT_NE(tools.commands[1].find("QV_delv -4 -t a www.lab.test +cd"), std::string::npos);
  const TestResult& result = wrapper->test_result();
  EXPECT_EQ(value_at(result, "S:qv-dns.results.dnssec-duration.ms"), "140");
  EXPECT_EQ(value_at(result, "R:qv-dns.results.duration.ms"), "144");
  for (const char* path : {"S:common.results.error-code", "R:common.results.error-code"}) {
    EXPECT_EQ(value_at(result, path), "qv-dns.results.error.dnssec-answer-unsigned");
  }
  ASSERT_EQ(metric_count(result), 2u);
  EXPECT_EQ(value_at(result, "M1:qv-dns.results.dnssec-trace"), recorded("delv_unsigned.txt"));
  EXPECT_EQ(value_at(result, "M1:qv-dns.results.dnssec-trust-chain")
                .rfind("    RRSIG missing for record A\n", 0),
            0u);
}

}  // namespace
}  // namespace Network_tools::Dig
