// The stand-alone ping tool: command-line options, the JSON test document and the checks of
// the destination before a run.
#include <gtest/gtest.h>

#include <array>
#include <sstream>

#include "ping/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Ping {
namespace {

using testing_support::from_command_line;
using testing_support::input_document;

std::unique_ptr<Wrapper> from_arguments(Logger& logger, const std::string& line) {
  return from_command_line<Wrapper>("ping_wrapper " + line, logger, "");
}

std::unique_ptr<Wrapper> from_document(Logger& logger, const std::string& capabilities,
                                       const std::string& settings = "") {
  std::stringbuf input(input_document(capabilities, settings));
  return std::make_unique<Wrapper>(logger, "", &input);
}

TEST(PingFrontEndTest, OptionsAndDocumentsFillTheParameters) {
  Logger logger;
  auto wrapper = from_arguments(
      logger,
      "-T -p 53 --probes=3 -L 64 -6 -l -e 5 -j -v -z 100 -F 0 -w 4 -Q 9 -X abc -N 2 h.test");
  // -z derived 600 probes from the default interval before -F 0 ended the high-frequency run.
  EXPECT_EQ(
      wrapper->get_parameters().get_cmd_line(),
      "/opt/Tarvex/Tools/traceroute/QV_traceroute -T -6 --loose-match --ping=64 -q 600 -z 100 "
      "--packet-loss-threshold=100 --packet-loss-window-size=50 -w 4,5,0 -n -Q 9 -p 53 -N 2 "
      "h.test 2>&1");
  EXPECT_TRUE(wrapper->get_parameters().JSON_output);
  EXPECT_EQ(logger.get_ID(), "abc");

  // The malformed spacing is forgiven: the setting stands in for it.
  auto document = from_document(
      logger,
      R"("test.common.url":"qv-ping-sack://[::1]:853/x","test.common.flag.debug-on-error":true,)"
      R"("qv-ping.test.continuous-ping-spacing":"fast")",
      R"("NoInSessionTcpFallBack":true,"ProbeSpacing":250)");
  const Parameters& p = document->get_parameters();
  EXPECT_EQ(p.get_protocol(), protocol_in_session_TCP);
  EXPECT_EQ(p.host + ":" + std::to_string(p.get_port()), "::1:853");
  EXPECT_EQ(p.packet_loss_mode, 0);
  EXPECT_FALSE(p.in_session_fall_back);
  EXPECT_EQ(p.get_probe_spacing(), 250u);
}

TEST(PingFrontEndDeathTest, BadOptionsAreFatal) {
  Logger logger;
  const std::pair<const char*, const char*> cases[] = {
      {"-Z h", "Unrecognized option -Z \\(qv-ping.results.error.unrecognized-argument\\)"},
      {"--frobnicate=1 h", "Unrecognized option --frobnicate \\("},
      {"h -q", "Option -q requires an argument \\(qv-ping.results.error.missing-argument-value\\)"},
      {"-q -j h", "Option -q requires an argument"},
      {"-q 5x h", "Option -q value is invalid \\(qv-ping.results.error.wrong"},
      {"-L 31 h",
       "TTL of 31 under the limit of 32 \\(qv-ping.results.error.out-of-bounds-argument\\)"},
      {"-w 70 h", "Probe timeout of 70s over the limit of 65s \\(qv-ping.results.error.out-of"},
      {"h1 h2", "Duplicate host h2 \\(qv-ping.results.error.duplicate-host\\)"},
  };
  for (const auto& [line, message] : cases) {
    EXPECT_EXIT(from_arguments(logger, line), ::testing::ExitedWithCode(1),
                std::string("Fatal error: ") + message);
  }
  EXPECT_EXIT(from_document(logger, R"("test.common.url":"http://h")"),
              ::testing::ExitedWithCode(1), "Fatal error: Unsupported URL scheme http \\(");
  EXPECT_EXIT(from_document(logger, R"("test.common.monitor.state":"{}")"),
              ::testing::ExitedWithCode(1), "Capability test.common.monitor.state is malformed");
  EXPECT_EXIT(Wrapper(logger, Parameters()).input_sanity_check(), ::testing::ExitedWithCode(1),
              "Fatal error: Missing destination \\(qv-ping.results.error.missing-host\\)");
}

TEST(PingFrontEndTest, TheDestinationChoosesTheAddressFamily) {
  // Host, "-6 " or "", what the lookup answers ("" for nothing), and "IPv4", "IPv6" or the failure.
  const std::array<std::string, 4> cases[] = {
      {"10.0.0.1", "-6 ", "", "IPv4"},
      {"2001:db8::1", "", "",
       "Address family not supported (qv-ping.results.error.address-failure)"},
      {"v4.test", "-6 ", "10.0.0.1", "IPv4"},
      {"v6.test", "-6 ", "2001:db8::1", "IPv6"},
      {"nowhere.test", "", "",
       "Name or service not known for [nowhere.test] (qv-ping.results.error.resolution-failed)"},
  };
  std::vector<resolution_strategy_t> strategies;
  for (const auto& [host, IPv6, found, outcome] : cases) {
    Logger logger(LEVEL_ERROR);
    auto wrapper = from_arguments(logger, IPv6 + host);
    wrapper->set_host_lookup(
        [&, found = found](const std::string&, resolution_strategy_t strategy) {
          strategies.push_back(strategy);
          return found.empty() ? IP::Address() : IP::Address(found);
        });
    try {
      wrapper->input_sanity_check();
      EXPECT_EQ(wrapper->get_parameters().use_IPv6 ? "IPv6" : "IPv4", outcome) << host;
    } catch (const exception& error) {
      EXPECT_EQ(error.what(), outcome) << host;
    }
  }
  // Addresses are not looked up.
  EXPECT_EQ(strategies, (std::vector<resolution_strategy_t>{IPv6_first, IPv6_first, IPv4_only}));
}

}  // namespace
}  // namespace Network_tools::Ping
