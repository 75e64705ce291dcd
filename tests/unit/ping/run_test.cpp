// Running a ping with a scripted native tool: the fall-back from in-session TCP, the failure
// phrases, the continuation of a stopped run, and many pings at once on threads.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/exception.h"
#include "ping/factory.h"
#include "ping/wrapper.h"
#include "support/scripted_ping.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

using testing_support::Fake_tool_folder;
using testing_support::replies_text;
using testing_support::script_tool;
using testing_support::Tool_answer;
using commands_t = std::shared_ptr<std::vector<std::string>>;

class PingRunTest : public ::testing::Test {
 protected:
  Parameters parameters(protocol_t protocol = protocol_ICMP) const {
    Parameters parameters(folder_.path());
    parameters.JSON_output = true;
    parameters.host = "10.0.0.1";
    parameters.set_protocol(protocol);
    return parameters;
  }

  // A wrapper for `parameters` whose tool answers `answers` in turn.
  std::unique_ptr<Wrapper> scripted(const Parameters& parameters,
                                    std::vector<Tool_answer> answers) {
    auto wrapper = std::make_unique<Wrapper>(logger_, parameters);
    script_tool(*wrapper, std::move(answers), commands_);
    return wrapper;
  }

  // The value of `key` in step 0's other data as JSON text, or "absent".
  static std::string other(const Wrapper& wrapper, const char* key) {
    const rapidjson::Value& data =
        wrapper.get_test_result().document()["MonitorResults"][0]["StepResults"][0]["OtherData"];
    return data.HasMember(key) ? JSON_to_string(data[key]) : "absent";
  }

  // Every round-trip time of the result, in probe order.
  static std::vector<std::string> rtts(const Wrapper& wrapper) {
    std::vector<std::string> times;
    const rapidjson::Value& metrics =
        wrapper.get_test_result().document()["MonitorResults"][0]["StepResults"][0]["Metrics"];
    for (const auto& metric : metrics.GetArray()) {
      times.push_back(metric["MetricData"]["qv-ping.results.rtt"].GetString());
    }
    return times;
  }

  // The exception that `run` ends with.
  static exception run_failure(Wrapper& wrapper) {
    try {
      wrapper.run();
    } catch (const exception& error) {
      return error;
    }
    return exception("no failure", -1, "");
  }

  Fake_tool_folder folder_;
  Logger logger_{LEVEL_ERROR};
  commands_t commands_ = std::make_shared<std::vector<std::string>>();
};

TEST_F(PingRunTest, InSessionTcpFallsBackToTcpSynWhenAllowed) {
  auto wrapper =
      scripted(parameters(protocol_in_session_TCP),
               {{"Missing SACK options from 10.0.0.1\n", 1}, {replies_text("10.0.0.1", 5), 0}});
  const std::string result = wrapper->run();
  ASSERT_EQ(commands_->size(), 2u);
  EXPECT_NE((*commands_)[0].find("QV_traceroute --tcpdata -4 "), std::string::npos);
  EXPECT_NE((*commands_)[1].find("QV_traceroute -T -4 "), std::string::npos);
  EXPECT_EQ(other(*wrapper, "qv-ping.results.fall-back-reason"),
            "\"qv-ping.results.fall-back-reason.missing-sack-option\"");
  EXPECT_EQ(other(*wrapper, "common.results.error-code"), "absent");
  EXPECT_EQ(rtts(*wrapper).size(), 5u);
  EXPECT_EQ(result, wrapper->get_test_result().to_string());
}

TEST_F(PingRunTest, WithoutFallBackASackProblemIsReported) {
  Parameters no_fall_back = parameters(protocol_in_session_TCP);
  no_fall_back.in_session_fall_back = false;
  const std::pair<const char*, const char*> reasons[] = {
      {"Malformed SACK option; Missing SACK options", "malformed-sack-option"},
      {"Unexpected overlap of SACK intervals", "unexpected-overlap-of-sack-intervals"},
      {"Cannot complete initial TCP handshake", "cannot-complete-initial-tcp-handshake"},
      {"odd SACK block", "unknown"}};
  for (const auto& [text, key] : reasons) {
    commands_->clear();
    auto wrapper = scripted(no_fall_back, {{text, 1}});
    wrapper->run();
    EXPECT_EQ(commands_->size(), 1u) << text;
    EXPECT_EQ(other(*wrapper, "qv-ping.results.fall-back-reason"),
              std::string("\"qv-ping.results.fall-back-reason.") + key + "\"");
    EXPECT_EQ(other(*wrapper, "common.results.error-code"), "\"qv-ping.results.error.sack-issue\"");
    EXPECT_EQ(rtts(*wrapper), std::vector<std::string>(5, "null"));
  }
}

TEST_F(PingRunTest, FailurePhrasesBecomeTestFailures) {
  struct {
    const char* text;
    int code;
    const char* message;
  } cases[] = {
      {"traceroute: Name or service not known\nconnect: x", 3,
       "Name or service not known (qv-ping.results.error.resolution-failed)"},
      {"Address family not supported by protocol\n", 1005,
       "Address family not supported (qv-ping.results.error.address-failure)"},
      {"send: x\nconnect: Network is unreachable\nmore\n", 1006,
       "connect: Network is unreachable (qv-ping.results.error.network-unreachable)"},
  };
  for (const auto& failing : cases) {
    auto wrapper = scripted(parameters(), {{failing.text, 2}});
    const exception error = run_failure(*wrapper);
    EXPECT_EQ(error.error_code(), failing.code);
    EXPECT_STREQ(error.what(), failing.message);
    EXPECT_NE(error.error_message().find("\"common.results.error-code\""), std::string::npos);
  }
  auto unreachable = scripted(parameters(), {{"connect: Network is unreachable", 2}});
  run_failure(*unreachable);
  EXPECT_EQ(other(*unreachable, "common.results.error-details"),
            "\"connect: Network is unreachable\"");
}

TEST_F(PingRunTest, WithoutJsonTheTextReadsLikePing) {
  Parameters text_output = parameters();
  text_output.JSON_output = false;
  auto wrapper = scripted(text_output, {{replies_text("10.0.0.1", 2), 0}});
  EXPECT_EQ(wrapper->run(),
            "ping to 10.0.0.1 (10.0.0.1), 128 ttl, 60 byte packets\n  10.0.0.1  0.500 ms  1.500 "
            "ms\n");
}

using PingRunDeathTest = PingRunTest;

TEST_F(PingRunDeathTest, ToolProblemsEndTheProcess) {
  auto run_with = [this](const std::string& text, int status) {
    scripted(parameters(), {{text, status}})->run();
  };
  EXPECT_EXIT(run_with("Permission denied; Name or service not known", 1),
              ::testing::ExitedWithCode(1),
              "Fatal error: Missing privileges. Please check permissions of .*QV_traceroute "
              "\\(qv-ping.results.error.missing-privileges\\)");
  EXPECT_EXIT(run_with("You do not have enough privileges; Permission denied", 1),
              ::testing::ExitedWithCode(1), "Please check capabilities of ");
  // The stand-in's refusal of in-session TCP names no SACK problem: nothing to fall back on.
  EXPECT_EXIT(
      run_with("QV_traceroute: in-session TCP probes (--tcpdata) are not supported by this build",
               1),
      ::testing::ExitedWithCode(1), "Internal error: Native tool returned 1\n");

  // TCP SYN never falls back: a SACK complaint after the fall-back is text that cannot be read.
  EXPECT_EXIT(
      scripted(parameters(protocol_in_session_TCP),
               {{"TCP SACK not permitted from destination\n", 1}})
          ->run(),
      ::testing::ExitedWithCode(1),
      "Internal error: Parsing error. Weird first line, expected \"ping\" but got \\[TCP\\]");

  Parameters missing_tool = parameters();
  missing_tool = Parameters("/nonexistent/folder/");
  missing_tool.host = "10.0.0.1";
  EXPECT_EXIT(Wrapper(logger_, missing_tool).run(), ::testing::ExitedWithCode(1),
              "Fatal error: Native tool /nonexistent/folder/QV_traceroute problem. Error: 2 - No "
              "such file or directory \\(qv-ping.results.error.missing-native-tools\\)");
}

TEST_F(PingRunTest, AStoppedViolationCheckIsContinuedWhereItStopped) {
  // The first run: 6 probes 10 ms apart, windows of 2; the first window loses both.
  Parameters check = parameters();
  check.host = "127.53.5.1";
  check.set_high_frequency_interval(60);
  check.set_probe_spacing(10);
  check.set_packet_loss_window_length(20);
  check.set_packet_loss_threshold(50);
  check.packet_loss_mode = 0;
  auto first = scripted(check, {{"ping to 127.53.5.1 (127.53.5.1), 128 hops max\n128  * *\n"
                                 "Packet loss: Threshold violation detected\nDuration: 2011.277\n"
                                 "Timedout: true\n",
                                 0}});
  first->run();
  const rapidjson::Value& result = first->get_test_result().document()["MonitorResults"][0];
  const std::string state = result["OtherData"]["common.results.monitor.state"].GetString();

  // The rest of the probes: answered, partly answered, all lost.
  const std::pair<const char*, const char*> rests[] = {
      {"1.0 ms  2.0 ms  3.0 ms  4.0 ms", "absent"},
      {"1.0 ms  *  *  4.0 ms", "absent"},
      {"*  *  *  *", "\"qv-ping.results.error.timeout\""},
  };
  for (const auto& [probes, error] : rests) {
    rapidjson::Document input;
    input.Parse(
        "{\"Capabilities\":{\"test.common.url\":\"qv-ping://127.53.5.1\","
        "\"qv-ping.test.continuous-ping-spacing\":10},\"Settings\":{}}");
    input["Capabilities"].AddMember("test.common.monitor.state",
                                    rapidjson::Value(state.c_str(), input.GetAllocator()),
                                    input.GetAllocator());
    std::stringbuf line(JSON_to_string(input) + "\n");
    Wrapper second(logger_, folder_.path(), &line);
    commands_->clear();
    script_tool(second,
                {{std::string("ping to 127.53.5.1 (127.53.5.1), 128 hops max\n128  127.53.5.1  ") +
                      probes + "\nDuration: 40.0\n",
                  0}},
                commands_);
    second.input_sanity_check();
    second.run();

    ASSERT_EQ(commands_->size(), 1u);
    EXPECT_NE((*commands_)[0].find(" -q 4 -z 0.010000 -w 2,0,0 -n -Q 68 -N 1 127.53.5.1 "),
              std::string::npos)
        << (*commands_)[0];
    EXPECT_EQ(second.get_parameters().get_starting_RTT(), 2u);
    const std::vector<std::string> times = rtts(second);
    ASSERT_EQ(times.size(), 6u) << probes;
    EXPECT_EQ(times[0], "null");
    EXPECT_EQ(times[1], "null");
    EXPECT_EQ(times[5], std::string(probes).back() == '*' ? "null" : "4");
    EXPECT_EQ(other(second, "common.results.error-code"), error) << probes;
    EXPECT_EQ(other(second, "qv-ping.results.missing-probes"), "absent");
    EXPECT_EQ(JSON_to_string(second.get_test_result().document()["MonitorResults"][0]["OtherData"]),
              "{}");
    EXPECT_NEAR(second.get_test_result()
                    .document()["MonitorResults"][0]["StepResults"][0]["OtherData"]
                               ["qv-ping.results.duration.ms"]
                    .GetFloat(),
                2051.277F, 0.01F);
  }
}

TEST_F(PingRunTest, ManyPingsAtOnceKeepTheirOwnResults) {
  // Each thread's wrappers ping their own address with their own probe count; any state
  // shared between wrappers would mix addresses, counts or errors.
  constexpr int threads = 8;
  constexpr int rounds = 25;
  const WrapperFactory factory;
  std::vector<std::string> failures(threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int round = 0; round < rounds; ++round) {
        const std::string address = "10.0.0." + std::to_string(t + 1);
        Parameters own = parameters();
        own.host = address;
        own.force_set_probes(t + 1);
        std::unique_ptr<Wrapper> wrapper;
        factory.create(logger_, own, wrapper);
        // Odd threads see every probe lost, even ones replies.
        std::string text = replies_text(address, t + 1, t);
        if (t % 2 == 1) {
          text = "ping to h (" + address + ")\n128";
          for (int probe = 0; probe <= t; ++probe) text += "  *";
        }
        script_tool(*wrapper, {{text, 0}}, std::make_shared<std::vector<std::string>>());
        wrapper->run();
        const std::vector<std::string> times = rtts(*wrapper);
        const std::string expected_error =
            t % 2 == 1 ? "\"qv-ping.results.error.timeout\"" : "absent";
        if (times.size() != static_cast<std::size_t>(t + 1) ||
            other(*wrapper, "common.results.host.address") != "\"" + address + "\"" ||
            other(*wrapper, "common.results.host.name") != "\"" + address + "\"" ||
            other(*wrapper, "common.results.error-code") != expected_error ||
            (t % 2 == 0 && times[0] != std::to_string(t))) {
          failures[t] = wrapper->get_test_result().to_string();
          return;
        }
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

}  // namespace
}  // namespace Network_tools::Ping
