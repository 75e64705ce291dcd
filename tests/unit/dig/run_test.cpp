// The Dig wrapper's run with scripted tools: the retry budget, the failure classification, the
// rotation over the machine's name servers, and the hostname.bind and DNSSEC steps.
#include <gtest/gtest.h>

#include <sstream>

#include "dig/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Dig {
namespace {

using namespace testing_support;
using Answer = std::function<Reply(const std::string& command)>;

const Reply timed_out{";; connection timed out; no servers could be reached\n", 9};

Answer always(const Reply& reply) {
  return [reply](const std::string&) { return reply; };
}

// `special` for the commands that contain `marker`, the recording `usual_file` for the others.
Answer special_when(const std::string& marker, const Reply& special,
                    const std::string& usual_file) {
  const Reply usual{recorded(usual_file)};
  return [=](const std::string& command) {
    return command.find(marker) != std::string::npos ? special : usual;
  };
}

class DigRunTest : public ::testing::Test {
 protected:
  DigRunTest() {
    parameters.host = "www.lab.test";
    parameters.set_query_type("a");
    parameters.server = "127.53.4.1";
    parameters.JSON_output = true;
  }

  // A wrapper for `parameters` whose tools reply with `answer` and whose machine has `servers`.
  void make(Answer answer, const std::vector<std::string>& servers = {}) {
    wrapper = std::make_unique<Wrapper>(logger, parameters);
    tools.commands.clear();
    tools.answer = std::move(answer);
    tools.install(*wrapper);
    wrapper->set_resolver_configuration([servers] { return servers; });
  }
  exception run_failing() {
    return thrown_by([this] { wrapper->run(); });
  }
  std::string result(const std::string& path) { return value_at(wrapper->test_result(), path); }

  Tool_folder folder;
  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Parameters parameters{folder.path()};
  Scripted_tools tools;
  std::unique_ptr<Wrapper> wrapper;
};

TEST_F(DigRunTest, TimeBudgetEndsTheTries) {
  const auto expect_time_out = [this](int tries, int retry_ms, int budget_s, std::size_t commands,
                                      const std::string& message) {
    parameters.set_tries(tries);
    parameters.set_retry_timeout(retry_ms);
    parameters.set_timeout(budget_s, 1, 300);
    make(always(timed_out));
    EXPECT_EQ(run_failing().what(), message + " (qv-dns.results.error.timeout)") << retry_ms;
    EXPECT_EQ(tools.commands.size(), commands) << retry_ms;
  };
  // Five tries of 1500 ms fit the 10 s budget; after one of 5000 ms another would reach it; a
  // 1 s budget cannot hold one try of 1 s.
  expect_time_out(5, 1500, 10, 5, "Measurement timed out");
  EXPECT_EQ(result("R:qv-dns.results.duration.ms"), "7500");
  EXPECT_EQ(result("S:qv-dns.results.duration.us"), "7500000");
  EXPECT_EQ(result("R:common.results.error-code"), "qv-dns.results.error.timeout");
  expect_time_out(3, 5000, 10, 1, "Timedout");
  expect_time_out(3, 1000, 1, 0, "Timedout");
}

TEST_F(DigRunTest, ATimeOutThenAnAnswerCountsTheLostTry) {
  const Reply answer{recorded("dig_authoritative_answer.txt")};  // 4956 usec
  make([&](const std::string&) { return tools.commands.size() == 1 ? timed_out : answer; });
  const std::string document = wrapper->run();
  EXPECT_EQ(document, wrapper->test_result().to_string());
  EXPECT_EQ(tools.commands.size(), 2u);
  EXPECT_EQ(result("R:qv-dns.results.duration.ms"), "1504");
}

TEST_F(DigRunTest, FailuresAreClassifiedInTableOrder) {
  struct expectation {
    std::string text, message, details;
  };
  const std::string unreachable =
      "Cannot reach name server: 127.53.4.1 (qv-dns.results.error.nameserver-unreachable)";
  const std::vector<expectation> cases = {
      // Refused wins over the time-out that dig also reports.
      {";; communications error to 127.53.4.1#53: connection refused\n" + timed_out.text,
       unreachable, "Connection refused"},
      {";; UDP setup with 127.53.4.1#53 failed: network unreachable.\n", unreachable,
       "Network unreachable"},
      {"dig: 'x' is not a legal name (label too long)\n",
       "Host name too long: www.lab.test (qv-dns.results.error.invalid-host)",
       "Host name too long"},
      {"dig: 'x..y' is not a legal name (empty label)\n",
       "Host name is not legal: www.lab.test (qv-dns.results.error.invalid-host)",
       "Host name is not legal"},
  };
  for (const expectation& c : cases) {
    make(always({c.text, 9}));
    EXPECT_EQ(run_failing().what(), c.message);
    EXPECT_EQ(result("R:common.results.error-details"), c.details);
  }
  // Without a server the message names the default one.
  parameters.server.clear();
  make(always({"connection refused\n", 9}));
  EXPECT_STREQ(run_failing().what(),
               "Cannot reach name server: default (qv-dns.results.error.nameserver-unreachable)");
}

TEST_F(DigRunTest, UninterpretableToolEndsAreInternalErrors) {
  make(always({"", 0}));
  EXPECT_EXIT(wrapper->run(), ::testing::ExitedWithCode(1),
              "Internal error: Original tool returned nothing");
  make(always({"dig: couldn't get address for 'x': not found\nmore\n", 10}));
  EXPECT_EXIT(
      wrapper->run(), ::testing::ExitedWithCode(1),
      "Internal error: Original tool returned 10: couldn't get address for 'x': not found\n");
}

TEST_F(DigRunTest, TriesRotateOverTheMachineNameServers) {
  parameters.server.clear();
  parameters.set_tries(4);
  std::vector<std::string> servers;  // each try's, as the document names it
  make(
      [&](const std::string& command) {
        servers.push_back(result("S:qv-dns.results.server.name"));
        EXPECT_NE(command.find("@" + servers.back() + " "), std::string::npos) << command;
        return timed_out;
      },
      {"127.53.0.53", "not-an-address", "127.53.0.54", "127.53.0.55"});
  run_failing();
  EXPECT_EQ(servers,
            (std::vector<std::string>{"127.53.0.53", "127.53.0.54", "127.53.0.55", "127.53.0.53"}));
}

TEST_F(DigRunTest, FailingHostnameBindNeverFailsTheQuery) {
  make(special_when("hostname.bind", {"connection refused\n", 9}, "dig_authoritative_answer.txt"));
  wrapper->set_hostname_bind(true);
  wrapper->run();
  EXPECT_EQ(result("M0:qv-dns.results.answer.info"), "127.53.100.1");
  EXPECT_EQ(result("S:qv-dns.results.hostname-bind"), "<absent>");
  EXPECT_EQ(result("R:common.results.error-code"), "qv-dns.results.error.nameserver-unreachable");
  EXPECT_EQ(result("R:common.results.error-details"),
            "Error triggered while querying hostname BIND");
}

TEST_F(DigRunTest, ReusedWrapperAsksTheCurrentServerForItsIdentity) {
  make(special_when("hostname.bind", {recorded("dig_hostname_bind.txt")},
                    "dig_authoritative_answer.txt"));
  wrapper->set_hostname_bind(true);
  wrapper->run();
  // The engine's sequence for its next query, to another server. The identity wrapper, made on
  // first need, once kept its first parameters and asked the old server.
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
  make(special_when("QV_delv", {recorded("delv_unsigned.txt")}, "dig_authoritative_answer.txt"),
       {"127.53.0.53"});
  wrapper->run();
  ASSERT_EQ(tools.commands.size(), 2u);
  // The validation uses the machine's resolver: delv finds it by itself.
  EXPECT_NE(tools.commands[1].find("QV_delv -4 -t a www.lab.test +cd"), std::string::npos);
  EXPECT_EQ(result("S:qv-dns.results.dnssec-duration.ms"), "140");
  EXPECT_EQ(result("R:qv-dns.results.duration.ms"), "144");
  EXPECT_EQ(result("R:qv-dns.results.duration.us"), "144956");
  EXPECT_EQ(result("S:common.results.error-code"), "qv-dns.results.error.dnssec-answer-unsigned");
  EXPECT_EQ(result("M1:qv-dns.results.dnssec-trace"), recorded("delv_unsigned.txt"));
}

}  // namespace
}  // namespace Network_tools::Dig
