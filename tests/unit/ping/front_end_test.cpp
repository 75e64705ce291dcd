// The stand-alone ping tool: command-line options, the JSON test document and the checks of
// the destination before a run.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "frame/exception.h"
#include "ping/wrapper.h"

namespace Network_tools::Ping {
namespace {

// Builds the tool from command-line words (the program name first).
std::unique_ptr<Wrapper> from_arguments(Logger& logger, std::vector<std::string> words) {
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  return std::make_unique<Wrapper>(static_cast<int>(words.size()), argv.data(), logger, "");
}

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
  // -z derived 600 probes from the default interval before -F 0 ended the high-frequency run.
  EXPECT_EQ(wrapper->get_parameters().get_cmd_line(),
            "/opt/Tarvex/Tools/traceroute/QV_traceroute -T -6 --ping=64 -q 600 -z 100 "
            "--packet-loss-threshold=100 --packet-loss-window-size=50 -w 4,0,0 -n -Q 9 -p 53 -N 2 "
            "host.test 2>&1");
  EXPECT_TRUE(wrapper->get_parameters().JSON_output);
  EXPECT_EQ(logger.get_ID(), "abc");
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
       "Option -q value is invalid \\(qv-ping.results.error.wrong"},
      {{"ping_wrapper", "-L", "31", "h"},
       "TTL of 31 under the limit of 32 \\(qv-ping.results.error.out-of-bounds-argument\\)"},
      {{"ping_wrapper", "h1", "h2"},
       "Duplicate host h2 \\(qv-ping.results.error.duplicate-host\\)"},
  };
  for (const auto& [words, message] : cases) {
    EXPECT_EXIT(from_arguments(logger, words), ::testing::ExitedWithCode(1),
                std::string("Fatal error: ") + message);
  }
  EXPECT_EXIT(from_document(logger,
                            "{\"Capabilities\":{\"test.common.url\":\"http://h\"},"
                            "\"Settings\":{}}"),
              ::testing::ExitedWithCode(1), "Fatal error: Unsupported URL scheme http \\(");
  EXPECT_EXIT(from_document(logger,
                            "{\"Capabilities\":{\"test.common.monitor.state\":\"{}\"},"
                            "\"Settings\":{}}"),
              ::testing::ExitedWithCode(1), "Capability test.common.monitor.state is malformed");
}

TEST(PingFrontEndTest, TestDocumentsChooseTheProbeKindByScheme) {
  Logger logger;
  const std::pair<const char*, protocol_t> schemes[] = {{"qv-ping", protocol_ICMP},
                                                        {"qv-ping-tcp", protocol_TCP},
                                                        {"qv-ping-udp", protocol_UDP},
                                                        {"qv-ping-sack", protocol_in_session_TCP},
                                                        {"qv-ping-quic", protocol_QUIC}};
  for (const auto& [scheme, kind] : schemes) {
    auto wrapper =
        from_document(logger, std::string("{\"Capabilities\":{\"test.common.url\":\"") + scheme +
                                  "://[::1]:853/x\",\"test.common.flag.debug-on-error\":true},"
                                  "\"Settings\":{\"NoInSessionTcpFallBack\":true}}");
    const Parameters& parameters = wrapper->get_parameters();
    EXPECT_EQ(parameters.get_protocol(), kind) << scheme;
    EXPECT_EQ(parameters.host + ":" + std::to_string(parameters.get_port()), "::1:853");
    EXPECT_EQ(parameters.packet_loss_mode, 0);
    EXPECT_FALSE(parameters.in_session_fall_back);
  }
  // A malformed spacing is forgiven when the setting stands in for it.
  auto forgiven = from_document(logger,
                                "{\"Capabilities\":{\"qv-ping.test.continuous-ping-spacing\":"
                                "\"fast\"},\"Settings\":{\"ProbeSpacing\":250}}");
  EXPECT_EQ(forgiven->get_parameters().get_probe_spacing(), 250u);
}

// Checks a wrapper for `host` whose host lookup answers `address` (none when empty); returns
// whether it pings over IPv6, or the failure's message.
std::string checked(const std::string& host, bool use_IPv6, const std::string& address,
                    std::vector<resolution_strategy_t>& strategies) {
  Logger logger(LEVEL_ERROR);
  Parameters parameters;
  parameters.host = host;
  parameters.use_IPv6 = use_IPv6;
  Wrapper wrapper(logger, parameters);
  wrapper.set_host_lookup([&](const std::string&, resolution_strategy_t strategy) {
    strategies.push_back(strategy);
    return address.empty() ? IP::Address() : IP::Address(address);
  });
  try {
    wrapper.input_sanity_check();
  } catch (const exception& error) {
    return error.what();
  }
  return wrapper.get_parameters().use_IPv6 ? "IPv6" : "IPv4";
}

TEST(PingFrontEndTest, TheDestinationChoosesTheAddressFamily) {
  std::vector<resolution_strategy_t> strategies;
  EXPECT_EQ(checked("10.0.0.1", true, "", strategies), "IPv4");
  EXPECT_EQ(checked("2001:db8::1", false, "", strategies),
            "Address family not supported (qv-ping.results.error.address-failure)");
  EXPECT_TRUE(strategies.empty());
  EXPECT_EQ(checked("v4.test", true, "10.0.0.1", strategies), "IPv4");
  EXPECT_EQ(checked("v6.test", true, "2001:db8::1", strategies), "IPv6");
  EXPECT_EQ(
      checked("nowhere.test", false, "", strategies),
      "Name or service not known for [nowhere.test] (qv-ping.results.error.resolution-failed)");
  EXPECT_EQ(strategies, (std::vector<resolution_strategy_t>{IPv6_first, IPv6_first, IPv4_only}));
  EXPECT_EXIT(checked("", false, "", strategies), ::testing::ExitedWithCode(1),
              "Fatal error: Missing destination \\(qv-ping.results.error.missing-host\\)");
}

}  // namespace
}  // namespace Network_tools::Ping
