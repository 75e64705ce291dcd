// The Dig wrapper as a tool: command-line options, the JSON input document and the input check.
#include <gtest/gtest.h>

#include <sstream>

#include "dig/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::Dig {
namespace {

using namespace testing_support;

class DigFrontEndTest : public ::testing::Test {
 protected:
  std::unique_ptr<Wrapper> from_arguments(const std::string& line) {
    return from_command_line<Wrapper>("dig_wrapper " + line, logger, "");
  }
  std::unique_ptr<Wrapper> from_document(const std::string& line) {
    std::stringbuf input(line + "\n");
    return std::make_unique<Wrapper>(logger, "", &input);
  }

  std::ostringstream log;
  Logger logger{LEVEL_INFO, "", log};
};

TEST_F(DigFrontEndTest, OptionsFillTheQuery) {
  auto wrapper = from_arguments("-n 127.53.4.1 -p 5353 -t AAAA -w 750 -Q 30 -R -N -T www.lab.test");
  EXPECT_EQ(wrapper->get_parameters().get_cmd_line(),
            "/opt/Tarvex/Tools/bind/QV_dig -u +comment +question +tcp -4 +cd +tries=1 "
            "+timeout=0.750 +norecurse @127.53.4.1 -p 5353 +noedns -t aaaa www.lab.test 2>&1");
  EXPECT_EQ(wrapper->get_parameters().get_timeout(), 30);
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_ERROR);

  auto reverse = from_arguments("--reverse-lookup --debug 127.53.4.1");
  EXPECT_EQ(reverse->get_parameters().get_query_type(), "ptr");
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_DEBUG);
}

TEST_F(DigFrontEndTest, BadOptionsAreFatalWithTheirCodes) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"-jZ x", "Unrecognized option -Z \\(qv-dns.results.error.unrecognized-argument\\)"},
      {"--bogus x", "Unrecognized option --bogus \\("},
      {"x -t", "Option -t requires an argument \\(qv-dns.results.error.missing-argument-value\\)"},
      {"-n -t a x", "Option -n requires an argument"},
      {"-p 53x x", "Option -p value is invalid \\(qv-dns.results.error.wrong-argument-value\\)"},
      {"-r 9 x", "Tries of 9 over the limit of 5 \\(qv-dns.results.error.out-of-bounds-argument"},
      {"a.test b.test", "Duplicate host b.test \\(qv-dns.results.error.duplicate-host\\)"},
      {"-E +tcp x", "Invalid DNSSEC server \\[\\+tcp\\]: not a DNS name or an IP address \\("},
  };
  for (const auto& [line, message] : cases) {
    EXPECT_EXIT(from_arguments(line), ::testing::ExitedWithCode(1), "Fatal error: " + message)
        << line;
  }
  const exception help = thrown_by([this] { from_arguments("-h"); });
  EXPECT_EQ(help.error_code(), 0);
  EXPECT_EQ(std::string(help.what()).rfind("Usage: dig_wrapper [ -6dDhHjNoRSTUVx ]", 0), 0u);
}

TEST_F(DigFrontEndTest, InputCheckRefusesWhatCannotBeAsked) {
  // dig would read "-f..." as its option -f; one try longer than the whole budget would end as a
  // time-out that never happened.
  const std::pair<const char*, const char*> cases[] = {
      {"www.lab.test", "Missing query type \\(qv-dns.results.error.missing-query-type\\)"},
      {"-t a", "Missing host \\(qv-dns.results.error.invalid-host\\)"},
      {"-t a -- -f/etc/passwd",
       "Invalid host \\[-f/etc/passwd\\]: not a DNS name or an IP address \\(qv-dns.results.error."
       "invalid-host\\)"},
      {"-w 5000 -Q 5 -t a x",
       "Retry timeout of 5000ms does not fit in the timeout of 5s \\(qv-dns.results.error.wrong"},
  };
  for (const auto& [line, message] : cases) {
    EXPECT_EXIT(from_arguments(line)->input_sanity_check(), ::testing::ExitedWithCode(1),
                std::string("Fatal error: ") + message)
        << line;
  }
  from_arguments("-w 4999 -Q 5 -t a x")->input_sanity_check();

  auto identity = from_arguments("-H -n 127.53.4.1");
  identity->input_sanity_check();
  EXPECT_EQ(identity->get_parameters().query_mode, query_mode_t::hostname_bind);
  auto reverse = from_arguments("-x 2001:db8::1");
  reverse->input_sanity_check();
  EXPECT_EQ(reverse->get_parameters().query_mode, query_mode_t::reverse);
}

TEST_F(DigFrontEndTest, ServerNamesAreResolvedWithTheAskedStrategy) {
  auto wrapper = from_arguments("-j -o -t a -n ns1.lab.test -E nowhere -P 5300 www.lab.test");
  std::vector<std::pair<std::string, resolution_strategy_t>> lookups;
  wrapper->set_host_lookup([&](const std::string& name, resolution_strategy_t strategy) {
    lookups.emplace_back(name, strategy);
    return name == "ns1.lab.test" ? IP::Address("127.53.4.1") : IP::Address();
  });
  wrapper->input_sanity_check();
  EXPECT_EQ(lookups, (decltype(lookups){{"ns1.lab.test", any_family}, {"nowhere", any_family}}));
  EXPECT_EQ(value_at(wrapper->test_result(), "S:qv-dns.results.server.address"), "127.53.4.1");
  // An unresolvable DNSSEC server is dropped with its port.
  EXPECT_EQ(wrapper->get_parameters().DNSSEC_server, "");
  EXPECT_EQ(wrapper->get_parameters().get_DNSSEC_server_port(), 0);
}

TEST_F(DigFrontEndTest, DocumentCapabilitiesAndSettings) {
  // The step time out of range is forgiven: the "Timeout" setting stands in for it.
  auto wrapper =
      from_document(R"({"Capabilities":{"qv-dns.test.query-type":"MX","qv-dns.test.nsid":true,)"
                    R"("qv-dns.test.dns-via-tcp":true,"common.test.max-downloads-bytes":5,"x.y":1,)"
                    R"("common.test.max-step-time":-1},)"
                    R"("Settings":{"DisableEdns":true,"UseOsIpVersion":true,"Timeout":20}})");
  const Parameters& p = wrapper->get_parameters();
  EXPECT_EQ(p.get_timeout(), 20);
  EXPECT_EQ(p.get_query_type(), "mx");
  EXPECT_EQ(p.query_mode, query_mode_t::nsid);
  EXPECT_EQ(p.get_protocol(), protocol_TCP);
  EXPECT_TRUE(!p.EDNS && p.force_OS_behavior && p.JSON_output);
  EXPECT_NE(log.str().find("Unrecognized option: x.y"), std::string::npos);
  EXPECT_EQ(log.str().find("max-downloads-bytes"), std::string::npos);
}

TEST_F(DigFrontEndTest, UnforgivenDocumentProblemsEndTheRun) {
  EXPECT_EXIT(
      from_document(R"({"Capabilities":{"qv-dns.test.query-retry-count":9},"Settings":{}})"),
      ::testing::ExitedWithCode(1), "Fatal error: Tries of 9 over the limit of 5");
  const exception error = thrown_by([this] {
    from_document(R"({"Capabilities":{"qv-dns.test.query-type":"a"},"Settings":{"Timeout":900}})");
  });
  EXPECT_EQ(error.error_code(), 1009);
  EXPECT_NE(error.error_message().find("qv-dns.results.error.out-of-bounds-argument"),
            std::string::npos);
}

}  // namespace
}  // namespace Network_tools::Dig
