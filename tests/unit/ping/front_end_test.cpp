// The stand-alone ping tool: command-line options, the JSON test document and the checks of
// the destination before a run.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/exception.h"
#include "ping/wrapper.h"
#include "wrapper/json_access.h"

namespace Network_tools::Ping {
namespace {

// Builds the tool from command-line words (the program name first).
std::unique_ptr<Wrapper> from_arguments(Logger& logger, std::vector<std::string> storage) {
  std::vector<char*> argv;
  for (std::string& word : storage) argv.push_back(word.data());
  argv.push_back(nullptr);
  return std::make_unique<Wrapper>(static_cast<int>(storage.size()), argv.data(), logger, "");
}

// Builds the tool from one JSON input line.
std::unique_ptr<Wrapper> from_document(Logger& logger, const std::string& line) {
  std::stringbuf input(line + "\n");
  return std::make_unique<Wrapper>(logger, "", &input);
}

TEST(PingFrontEndTest, CommandLineOptionsFillTheParameters) {
  Logger logger;
  auto wrapper = from_arguments(
      logger, {"ping_wrapper", "-T", "-p", "53",  "--probes=3", "-L", "64",       "-6",
               "-j",           "-v", "-z", "100", "-F",         "0",  "-w",       "4",
               "-Q",           "9",  "-X", "abc", "-N",         "2",  "host.test"});
  const Parameters& parameters = wrapper->get_parameters();
  EXPECT_EQ(parameters.host, "host.test");
  EXPECT_EQ(parameters.get_protocol(), protocol_TCP);
  EXPECT_EQ(parameters.get_port(), 53);
  EXPECT_EQ(parameters.get_probes(), 600u);  // derived before -F 0 ended the high-frequency run
  EXPECT_TRUE(parameters.JSON_output);
  EXPECT_EQ(parameters.packet_loss_mode, 0);
  EXPECT_EQ(parameters.get_cmd_line(),
            "/opt/Tarvex/Tools/traceroute/QV_traceroute -T -6 --ping=64 -q 600 -z 100 "
            "--packet-loss-threshold=100 --packet-loss-window-size=50 -w 4,0,0 -n -Q 9 -p 53 -N 2 "
            "host.test 2>&1");
  EXPECT_EQ(logger.get_ID(), "abc");
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_ERROR);

  auto kinds = from_arguments(logger, {"ping_wrapper", "--udp", "-i", "h"});
  EXPECT_EQ(kinds->get_parameters().get_protocol(), protocol_in_session_TCP);
  EXPECT_FALSE(kinds->get_parameters().JSON_output);
}

TEST(PingFrontEndTest, HelpAndVersionTravelAsCodeZero) {
  Logger logger;
  try {
    from_arguments(logger, {"ping_wrapper", "-h"});
    FAIL() << "no help";
  } catch (const exception& help) {
    EXPECT_EQ(help.error_code(), 0);
    EXPECT_EQ(
        std::string(help.what()).rfind("Usage: ping_wrapper [ -6dfhiIjloqTUvV ] [ -e here ]", 0),
        0u);
  }
  try {
    from_arguments(logger, {"ping_wrapper", "--version"});
    FAIL() << "no version";
  } catch (const exception& version) {
    EXPECT_EQ(version.error_code(), 0);
    EXPECT_EQ(std::string(version.what())
                  .rfind("Ping wrapper 1.16.7.2 for Linux\nQV_traceroute version: ", 0),
              0u);
  }
}

TEST(PingFrontEndDeathTest, BadOptionsAreFatal) {
  Logger logger;
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"ping_wrapper", "-Z", "h"},
       "Unrecognized option -Z \\(qv-ping.results.error.unrecognized-argument\\)"},
      {{"ping_wrapper", "--frobnicate=1", "h"}, "Unrecognized option --frobnicate \\("},
      {{"ping_wrapper", "h", "-q"},
       "Option -q requires an argument \\(qv-ping.results.error.missing-argument-value\\)"},
      {{"ping_wrapper", "-q", "-j", "h"}, "Option -q requires an argument"},
      {{"ping_wrapper", "-q", "5x", "h"},
       "Option -q value is invalid \\(qv-ping.results.error.wrong-argument-value\\)"},
      {{"ping_wrapper", "-L", "31", "h"},
       "TTL of 31 under the limit of 32 \\(qv-ping.results.error.out-of-bounds-argument\\)"},
      {{"ping_wrapper", "h1", "h2"},
       "Duplicate host h2 \\(qv-ping.results.error.duplicate-host\\)"},
  };
  for (const auto& [words, message] : cases) {
    EXPECT_EXIT(from_arguments(logger, words), ::testing::ExitedWithCode(1),
                std::string("Fatal error: ") + message);
  }
}

TEST(PingFrontEndTest, TestDocumentsChooseTheProbeKindByScheme) {
  Logger logger;
  const std::pair<const char*, protocol_t> schemes[] = {{"qv-ping", protocol_ICMP},
                                                        {"qv-ping-tcp", protocol_TCP},
                                                        {"qv-ping-udp", protocol_UDP},
                                                        {"qv-ping-sack", protocol_in_session_TCP},
                                                        {"qv-ping-quic", protocol_QUIC}};
  for (const auto& [scheme, kind] : schemes) {
    auto wrapper = from_document(
        logger, std::string("{\"Capabilities\":{\"test.common.url\":\"") + scheme +
                    "://[::1]:853/x\",\"test.common.use-ipv6\":true,"
                    "\"test.common.flag.debug-on-error\":true,\"unknown.key\":1},\"Settings\":{"
                    "\"ProbeTimeout\":5,\"NoInSessionTcpFallBack\":true}}");
    const Parameters& parameters = wrapper->get_parameters();
    EXPECT_EQ(parameters.get_protocol(), kind) << scheme;
    EXPECT_EQ(parameters.host, "::1");
    EXPECT_EQ(parameters.get_port(), 853);
    EXPECT_TRUE(parameters.use_IPv6);
    EXPECT_TRUE(parameters.JSON_output);
    EXPECT_EQ(parameters.packet_loss_mode, 0);
    EXPECT_EQ(parameters.get_probe_timeout(), 5);
    EXPECT_FALSE(parameters.in_session_fall_back);
    EXPECT_EQ(JSON_to_string(
                  wrapper->get_test_result().document()["MonitorResults"][0]["StepResults"][0]
                                                       ["OtherData"]["common.results.host.name"]),
              "\"::1\"");
  }
  // A malformed spacing is forgiven when the setting stands in for it.
  auto forgiven = from_document(
      logger,
      "{\"Capabilities\":{\"test.common.url\":\"qv-ping://h\",\"qv-ping.test.continuous-ping-"
      "spacing\":\"fast\"},\"Settings\":{\"ProbeSpacing\":250}}");
  EXPECT_EQ(forgiven->get_parameters().get_probe_spacing(), 250u);
}

TEST(PingFrontEndDeathTest, UnusableDocumentsAreFatal) {
  Logger logger;
  EXPECT_EXIT(
      from_document(logger,
                    "{\"Capabilities\":{\"test.common.url\":\"http://h\"},"
                    "\"Settings\":{}}"),
      ::testing::ExitedWithCode(1),
      "Fatal error: Unsupported URL scheme http \\(qv-ping.results.error.wrong-argument-value\\)");
  EXPECT_EXIT(from_document(logger,
                            "{\"Capabilities\":{\"test.common.use-ipv6\":\"yes\"},"
                            "\"Settings\":{}}"),
              ::testing::ExitedWithCode(1),
              "Fatal error: Capability test.common.use-ipv6 is supposed to be Bool and not String");
  EXPECT_EXIT(from_document(logger,
                            "{\"Capabilities\":{\"test.common.monitor.state\":\"{}\"},"
                            "\"Settings\":{}}"),
              ::testing::ExitedWithCode(1),
              "Fatal error: Capability test.common.monitor.state is malformed");
}

class PingSanityTest : public ::testing::Test {
 protected:
  // A wrapper for `host` whose host lookup answers `address` and records the strategy.
  std::unique_ptr<Wrapper> checked(const std::string& host, bool use_IPv6,
                                   const std::string& address = "") {
    Parameters parameters;
    parameters.host = host;
    parameters.use_IPv6 = use_IPv6;
    parameters.JSON_output = true;
    auto wrapper = std::make_unique<Wrapper>(logger_, parameters);
    wrapper->set_host_lookup([this, address](const std::string&, resolution_strategy_t strategy) {
      strategies_.push_back(strategy);
      return address.empty() ? IP::Address() : IP::Address(address);
    });
    wrapper->input_sanity_check();
    return wrapper;
  }

  Logger logger_{LEVEL_ERROR};
  std::vector<resolution_strategy_t> strategies_;
};

TEST_F(PingSanityTest, AddressesChooseTheFamily) {
  EXPECT_FALSE(checked("10.0.0.1", true)->get_parameters().use_IPv6);
  EXPECT_TRUE(checked("2001:db8::1", true)->get_parameters().use_IPv6);
  EXPECT_TRUE(strategies_.empty());
  try {
    checked("2001:db8::1", false);
    FAIL() << "IPv6 accepted without IPv6";
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 1005);
    EXPECT_NE(error.error_message().find("\"common.results.error-details\":\"Address family not "
                                         "supported\""),
              std::string::npos);
  }
}

TEST_F(PingSanityTest, NamesAreResolvedWithTheAskedStrategy) {
  EXPECT_FALSE(checked("v4.test", true, "10.0.0.1")->get_parameters().use_IPv6);
  EXPECT_TRUE(checked("v6.test", true, "2001:db8::1")->get_parameters().use_IPv6);
  EXPECT_FALSE(checked("v4.test", false, "10.0.0.1")->get_parameters().use_IPv6);
  EXPECT_EQ(strategies_, (std::vector<resolution_strategy_t>{IPv6_first, IPv6_first, IPv4_only}));
  try {
    checked("nowhere.test", false);
    FAIL() << "unknown name accepted";
  } catch (const exception& error) {
    EXPECT_EQ(error.error_code(), 3);
    EXPECT_STREQ(error.what(),
                 "Name or service not known for [nowhere.test] "
                 "(qv-ping.results.error.resolution-failed)");
  }
}

TEST_F(PingSanityTest, MissingHostOrProtocolIsFatal) {
  EXPECT_EXIT(checked("", false), ::testing::ExitedWithCode(1),
              "Fatal error: Missing destination \\(qv-ping.results.error.missing-host\\)");
  EXPECT_EXIT(
      {
        Parameters parameters;
        parameters.host = "10.0.0.1";
        parameters.set_protocol(protocol_unset);
        Wrapper(logger_, parameters).input_sanity_check();
      },
      ::testing::ExitedWithCode(1),
      "Fatal error: Missing protocol \\(qv-ping.results.error.trace-mode-not-specified\\)");
}

}  // namespace
}  // namespace Network_tools::Ping
