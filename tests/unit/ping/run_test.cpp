// Running a ping with a scripted native tool: the fall-back from in-session TCP, the failure
// phrases and tool problems.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "frame/exception.h"
#include "ping/wrapper.h"
#include "support/scripted_ping.h"

namespace Network_tools::Ping {
namespace {

using strings = std::vector<std::string>;
using testing_support::metric_values;
using testing_support::Reply;
using testing_support::value_at;

// `probes` replies from `address`, the first taking `first` ms.
std::string replies(const std::string& address, int probes, int first = 1) {
  std::string text = "ping to " + address + " (" + address + "), 128 hops max\n128  " + address;
  for (int i = 0; i < probes; ++i) text += "  " + std::to_string(first + i) + ".0 ms";
  return text + "\nDuration: 12.500\n";
}

// A tool that always answers `reply`.
auto always(const Reply& reply) {
  return [reply](const std::string&) { return reply; };
}

class PingRunTest : public ::testing::Test {
 protected:
  Parameters parameters(protocol_t protocol = protocol_ICMP) const {
    Parameters parameters(folder_.path());
    parameters.JSON_output = true;
    parameters.host = "10.0.0.1";
    parameters.set_protocol(protocol);
    return parameters;
  }
  // A wrapper for `parameters` whose tool answers as `answer` says; `tools_` records commands.
  std::unique_ptr<Wrapper> scripted(const Parameters& parameters,
                                    std::function<Reply(const std::string&)> answer) {
    auto wrapper = std::make_unique<Wrapper>(logger_, parameters);
    tools_.commands.clear();
    tools_.answer = std::move(answer);
    tools_.install(*wrapper);
    return wrapper;
  }

  testing_support::Ping_tool_folder folder_;
  Logger logger_{LEVEL_ERROR};
  testing_support::Scripted_tools tools_;
};

TEST_F(PingRunTest, InSessionTcpFallsBackToTcpSynOnlyWhenAllowed) {
  auto wrapper = scripted(parameters(protocol_in_session_TCP), [](const std::string& command) {
    if (command.find(" --tcpdata ") != std::string::npos) {
      return Reply{"Missing SACK options from 10.0.0.1\n", 1};
    }
    return Reply{replies("10.0.0.1", 5)};
  });
  const std::string printed = wrapper->run();
  EXPECT_EQ(printed, wrapper->get_test_result().to_string());
  ASSERT_EQ(tools_.commands.size(), 2u);
  EXPECT_NE(tools_.commands[1].find("QV_traceroute -T -4 "), std::string::npos);
  const TestResult& result = wrapper->get_test_result();
  EXPECT_EQ(value_at(result, "S:qv-ping.results.fall-back-reason"),
            "qv-ping.results.fall-back-reason.missing-sack-option");
  EXPECT_EQ(value_at(result, "S:common.results.error-code"), "<absent>");
  EXPECT_EQ(metric_values(result).size(), 5u);

  // Without permission the first phrase found names the reason, and no probe was measured.
  Parameters no_fall_back = parameters(protocol_in_session_TCP);
  no_fall_back.in_session_fall_back = false;
  const std::pair<const char*, const char*> reasons[] = {
      {"Malformed SACK option; Missing SACK options", "malformed-sack-option"},
      {"odd SACK block", "unknown"}};
  for (const auto& [text, key] : reasons) {
    auto refused = scripted(no_fall_back, always({text, 1}));
    refused->run();
    const TestResult& refusal = refused->get_test_result();
    EXPECT_EQ(tools_.commands.size(), 1u) << text;
    EXPECT_EQ(value_at(refusal, "S:qv-ping.results.fall-back-reason"),
              std::string("qv-ping.results.fall-back-reason.") + key);
    EXPECT_EQ(value_at(refusal, "S:common.results.error-code"), "qv-ping.results.error.sack-issue");
    EXPECT_EQ(metric_values(refusal), strings(5, "null"));
  }
}

TEST_F(PingRunTest, ATextRunPrintsTheFirstTwoLinesLikePing) {
  Parameters text = parameters();
  text.JSON_output = false;
  EXPECT_EQ(scripted(text, always({replies("10.0.0.1", 1)}))->run(),
            "ping to 10.0.0.1 (10.0.0.1), 128 ttl\n  10.0.0.1  1.0 ms\n");
}

TEST_F(PingRunTest, FailurePhrasesBecomeTestFailuresInOrder) {
  const std::pair<const char*, const char*> cases[] = {
      {"x: Name or service not known\nconnect: x",
       "Name or service not known (qv-ping.results.error.resolution-failed)"},
      {"Address family not supported by protocol\nconnect: x",
       "Address family not supported (qv-ping.results.error.address-failure)"},
      {"send: x\nconnect: Network is unreachable\nmore\n",
       "connect: Network is unreachable (qv-ping.results.error.network-unreachable)"},
  };
  for (const auto& [text, message] : cases) {
    auto wrapper = scripted(parameters(), always({text, 2}));
    const exception error = testing_support::thrown_by([&] { wrapper->run(); });
    EXPECT_STREQ(error.what(), message);
    EXPECT_EQ(error.error_message(), wrapper->get_test_result().to_string());
  }
}

using PingRunDeathTest = PingRunTest;

TEST_F(PingRunDeathTest, ToolProblemsEndTheProcessUnlessFailuresAreContained) {
  struct Problem {
    Parameters parameters;
    Reply reply;
    std::string fatal_line;  // a regular expression
    std::string contained;   // the start of the exception's message
  };
  const std::vector<Problem> problems = {
      {parameters(),
       {"Permission denied; Name or service not known", 1},
       "Fatal error: Missing privileges. Please check permissions of .*QV_traceroute "
       "\\(qv-ping.results.error.missing-privileges\\)",
       "Missing privileges. Please check permissions of "},
      // TCP SYN never falls back: a SACK complaint after the fall-back cannot be read.
      {parameters(protocol_in_session_TCP),
       {"TCP SACK not permitted from destination\n", 1},
       "Internal error: Parsing error. Weird first line",
       "Parsing error. Weird first line"},
      {parameters(),
       {"ping to h (10.0.0.1)\n128  !H  1.0 ms\n", 0},
       "Internal error: Parsing error. ICMP unreachable \\[!H\\] before any probe",
       "Parsing error. ICMP unreachable [!H] before any probe"},
      {parameters(),
       {"odd failure", 3},
       "Internal error: Native tool returned 3",
       "Native tool returned 3 (qv-ping.results.error.internal-error)"},
      {Parameters("/nonexistent/"),
       {"", 0},
       "Fatal error: Native tool /nonexistent/QV_traceroute problem. Error: 2 - No such "
       "file or directory \\(qv-ping.results.error.missing-native-tools\\)",
       "Native tool /nonexistent/QV_traceroute problem."},
  };
  for (const Problem& problem : problems) {
    EXPECT_EXIT(scripted(problem.parameters, always(problem.reply))->run(),
                ::testing::ExitedWithCode(1), problem.fatal_line);
    // Inside another tool the ping fails alone.
    auto contained = scripted(problem.parameters, always(problem.reply));
    contained->set_failures_contained(true);
    const exception error = testing_support::thrown_by([&] { contained->run(); });
    EXPECT_TRUE(std::string(error.what()).starts_with(problem.contained)) << error.what();
  }
}

}  // namespace
}  // namespace Network_tools::Ping
