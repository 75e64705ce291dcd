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
#include "support/scripted_ping.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

using testing_support::script_tool;

// `probes` replies from `address`, the first taking `first` ms.
std::string replies(const std::string& address, int probes, int first = 1) {
  std::string text = "ping to " + address + " (" + address + "), 128 hops max\n128  " + address;
  for (int i = 0; i < probes; ++i) text += "  " + std::to_string(first + i) + ".0 ms";
  return text + "\nDuration: 12.500\n";
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
  std::unique_ptr<Wrapper> scripted(const Parameters& parameters,
                                    std::vector<testing_support::Tool_answer> answers) {
    auto wrapper = std::make_unique<Wrapper>(logger_, parameters);
    script_tool(*wrapper, std::move(answers), commands_);
    return wrapper;
  }
  static const rapidjson::Value& step(const Wrapper& wrapper) {
    return wrapper.get_test_result().document()["MonitorResults"][0]["StepResults"][0];
  }
  static std::string other(const Wrapper& wrapper, const char* key) {
    const rapidjson::Value& data = step(wrapper)["OtherData"];
    return data.HasMember(key) ? JSON_to_string(data[key]) : "absent";
  }
  static std::vector<std::string> rtts(const Wrapper& wrapper) {
    std::vector<std::string> times;
    for (const auto& metric : step(wrapper)["Metrics"].GetArray()) {
      times.push_back(metric["MetricData"]["qv-ping.results.rtt"].GetString());
    }
    return times;
  }

  testing_support::Fake_tool_folder folder_;
  Logger logger_{LEVEL_ERROR};
  std::shared_ptr<std::vector<std::string>> commands_ =
      std::make_shared<std::vector<std::string>>();
};

TEST_F(PingRunTest, InSessionTcpFallsBackToTcpSynOnlyWhenAllowed) {
  auto wrapper = scripted(parameters(protocol_in_session_TCP),
                          {{"Missing SACK options from 10.0.0.1\n", 1}, {replies("10.0.0.1", 5)}});
  const std::string result = wrapper->run();
  EXPECT_EQ(result, wrapper->get_test_result().to_string());
  ASSERT_EQ(commands_->size(), 2u);
  EXPECT_NE((*commands_)[0].find("QV_traceroute --tcpdata -4 "), std::string::npos);
  EXPECT_NE((*commands_)[1].find("QV_traceroute -T -4 "), std::string::npos);
  EXPECT_EQ(other(*wrapper, "qv-ping.results.fall-back-reason"),
            "\"qv-ping.results.fall-back-reason.missing-sack-option\"");
  EXPECT_EQ(other(*wrapper, "common.results.error-code"), "absent");
  EXPECT_EQ(rtts(*wrapper).size(), 5u);

  Parameters no_fall_back = parameters(protocol_in_session_TCP);
  no_fall_back.in_session_fall_back = false;
  const std::pair<const char*, const char*> reasons[] = {
      {"Malformed SACK option; Missing SACK options", "malformed-sack-option"},
      {"Cannot complete initial TCP handshake", "cannot-complete-initial-tcp-handshake"},
      {"odd SACK block", "unknown"}};
  for (const auto& [text, key] : reasons) {
    commands_->clear();
    auto refused = scripted(no_fall_back, {{text, 1}});
    refused->run();
    EXPECT_EQ(commands_->size(), 1u) << text;
    EXPECT_EQ(other(*refused, "qv-ping.results.fall-back-reason"),
              std::string("\"qv-ping.results.fall-back-reason.") + key + "\"");
    EXPECT_EQ(other(*refused, "common.results.error-code"), "\"qv-ping.results.error.sack-issue\"");
    EXPECT_EQ(rtts(*refused), std::vector<std::string>(5, "null"));
  }
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
    auto wrapper = scripted(parameters(), {{text, 2}});
    try {
      wrapper->run();
      ADD_FAILURE() << text;
    } catch (const exception& error) {
      EXPECT_STREQ(error.what(), message);
      EXPECT_EQ(error.error_message(), wrapper->get_test_result().to_string());
    }
  }
}

using PingRunDeathTest = PingRunTest;

TEST_F(PingRunDeathTest, ToolProblemsEndTheProcess) {
  auto run_with = [this](const std::string& text, protocol_t protocol = protocol_ICMP) {
    scripted(parameters(protocol), {{text, 1}})->run();
  };
  EXPECT_EXIT(run_with("Permission denied; Name or service not known"),
              ::testing::ExitedWithCode(1),
              "Fatal error: Missing privileges. Please check permissions of .*QV_traceroute "
              "\\(qv-ping.results.error.missing-privileges\\)");
  // The stand-in's refusal of in-session TCP names no SACK problem: nothing to fall back on.
  EXPECT_EXIT(run_with("QV_traceroute: in-session TCP probes (--tcpdata) are not supported",
                       protocol_in_session_TCP),
              ::testing::ExitedWithCode(1), "Internal error: Native tool returned 1\n");
  // TCP SYN never falls back: a SACK complaint after the fall-back cannot be read.
  EXPECT_EXIT(run_with("TCP SACK not permitted from destination\n", protocol_in_session_TCP),
              ::testing::ExitedWithCode(1), "Internal error: Parsing error. Weird first line");
  Parameters missing_tool("/nonexistent/");
  EXPECT_EXIT(Wrapper(logger_, missing_tool).run(), ::testing::ExitedWithCode(1),
              "Fatal error: Native tool /nonexistent/QV_traceroute problem. Error: 2 - No such "
              "file or directory \\(qv-ping.results.error.missing-native-tools\\)");
}

TEST_F(PingRunTest, AStoppedViolationCheckIsContinuedWhereItStopped) {
  // 6 probes 10 ms apart, windows of 2; the first window loses both.
  Parameters check = parameters();
  check.set_high_frequency_interval(60);
  check.set_probe_spacing(10);
  check.set_packet_loss_window_length(20);
  check.packet_loss_mode = 0;
  auto first =
      scripted(check, {{"ping to h (10.0.0.1), 128 hops max\n128  * *\nPacket loss: "
                        "Threshold violation detected\nDuration: 2011.277\nTimedout: true\n"}});
  first->run();
  const std::string state =
      first->get_test_result()
          .document()["MonitorResults"][0]["OtherData"]["common.results.monitor.state"]
          .GetString();

  // The rest answered, partly answered, all lost: counters and verdicts cover all six probes.
  const std::pair<const char*, const char*> rests[] = {
      {"1.0 ms  *  *  4.0 ms", "absent"}, {"*  *  *  *", "\"qv-ping.results.error.timeout\""}};
  for (const auto& [probes, error] : rests) {
    rapidjson::Document input;
    input.Parse(
        "{\"Capabilities\":{\"test.common.url\":\"qv-ping://10.0.0.1\","
        "\"qv-ping.test.continuous-ping-spacing\":10},\"Settings\":{}}");
    input["Capabilities"].AddMember("test.common.monitor.state",
                                    rapidjson::Value(state.c_str(), input.GetAllocator()),
                                    input.GetAllocator());
    std::stringbuf line(JSON_to_string(input) + "\n");
    Wrapper second(logger_, folder_.path(), &line);
    commands_->clear();
    script_tool(second,
                {{std::string("ping to h (10.0.0.1), 128 hops max\n128  10.0.0.1  ") + probes +
                  "\nDuration: 40.0\n"}},
                commands_);
    second.input_sanity_check();
    second.run();

    EXPECT_NE((*commands_)[0].find(" -q 4 -z 0.010000 -w 2,0,0 -n -Q 68 -N 1 10.0.0.1 "),
              std::string::npos)
        << (*commands_)[0];
    const std::vector<std::string> times = rtts(second);
    ASSERT_EQ(times.size(), 6u) << probes;
    EXPECT_EQ(times[2], probes[0] == '*' ? "null" : "1");
    EXPECT_EQ(other(second, "common.results.error-code"), error) << probes;
    EXPECT_EQ(other(second, "qv-ping.results.missing-probes"), "absent");
    EXPECT_NEAR(step(second)["OtherData"]["qv-ping.results.duration.ms"].GetDouble(), 2051.277,
                0.01);
  }
}

TEST_F(PingRunTest, ManyPingsAtOnceKeepTheirOwnResults) {
  // Each thread pings its own address with its own probe count, odd threads losing every
  // probe; any state shared between wrappers would mix addresses, counts or errors.
  constexpr int threads = 8;
  const WrapperFactory factory;
  std::vector<std::string> failures(threads);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      const std::string address = "10.0.0." + std::to_string(t + 1);
      std::string lost = "ping to h (" + address + ")\n128";
      for (int probe = 0; probe <= t; ++probe) lost += "  *";
      for (int round = 0; round < 25 && failures[t].empty(); ++round) {
        Parameters own = parameters();
        own.host = address;
        own.force_set_probes(t + 1);
        std::unique_ptr<Wrapper> wrapper;
        factory.create(logger_, own, wrapper);
        script_tool(*wrapper, {{t % 2 == 1 ? lost : replies(address, t + 1, t)}},
                    std::make_shared<std::vector<std::string>>());
        wrapper->run();
        const std::vector<std::string> times = rtts(*wrapper);
        const bool right =
            times.size() == static_cast<std::size_t>(t + 1) &&
            times[0] == (t % 2 == 1 ? "null" : std::to_string(t)) &&
            other(*wrapper, "common.results.host.address") == "\"" + address + "\"" &&
            other(*wrapper, "common.results.host.name") == "\"" + address + "\"" &&
            other(*wrapper, "common.results.error-code") ==
                (t % 2 == 1 ? "\"qv-ping.results.error.timeout\"" : "absent");
        if (!right) failures[t] = wrapper->get_test_result().to_string();
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(failures[t], "") << "thread " << t;
}

}  // namespace
}  // namespace Network_tools::Ping
