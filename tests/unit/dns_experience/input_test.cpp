// The DNS experience input in process: options, capabilities, settings and the test URL as they
// land in the parameters, the version text and the helpers.
#include <gtest/gtest.h>

#include <sstream>

#include "dns_experience/scripted_lab.h"
#include "support/scripted_ping.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

class DnsExperienceInputTest : public ::testing::Test {
 protected:
  std::unique_ptr<Staged_engine> from_arguments(const std::string& line,
                                                const std::string& tool_directory = "") {
    return from_command_line<Staged_engine>("dns_experience " + line, logger, tool_directory);
  }
  std::unique_ptr<Staged_engine> from_document(const std::string& capabilities,
                                               const std::string& settings = "") {
    std::stringbuf input(input_document(capabilities, settings));
    return std::make_unique<Staged_engine>(logger, "", &input);
  }

  std::ostringstream log;
  Logger logger{LEVEL_INFO, "", log};
};

TEST_F(DnsExperienceInputTest, OptionsInEitherFormFillTheParameters) {
  auto wrapper = from_arguments(
      "-6bcfgHjLNORST -C /nonexistent/c.dat -I a.test,b.test -l 64 -m 3 -p 4 -P 3 -Q 20 -r 2 "
      "-s 127.53.200.9/24 -t MX -w 2000 -x 9 -X t-1 www.Lab.test");
  const Parameters& p = wrapper->get_parameters();
  EXPECT_TRUE(p.use_IPv6 && p.bias_towards_best && p.cache_TLD && p.try_next_server_upon_failure);
  EXPECT_TRUE(p.JSON_output && p.ping_loose_match && p.network_outage_detection && p.timeout_given);
  EXPECT_FALSE(p.EDNS || p.recursion);
  EXPECT_EQ(wrapper->get_log_tag_prefix(), "DNS-T RUN");
  EXPECT_EQ(p.query_flags, Parameters::hostname_bind_flag | Parameters::nsid_flag);
  EXPECT_EQ(p.get_protocol(), protocol_TCP);
  EXPECT_EQ(p.get_cache_path(), "/nonexistent/c.dat");
  EXPECT_EQ(p.get_tld_host_ignore_list(), (std::unordered_set<std::string>{"a.test", "b.test"}));
  EXPECT_EQ(
      std::vector<int>({p.get_ping_probe_TTL(), p.get_tld_server_minimum_failure_count(),
                        p.get_ping_probes_count(), p.get_ping_probe_timeout(), p.get_timeout(),
                        p.get_tries(), p.get_retry_timeout(), p.get_max_concurrent_pings()}),
      std::vector<int>({64, 3, 4, 3, 20, 2, 2000, 9}));
  EXPECT_EQ(p.get_query_type() + " " + p.host + " " + logger.get_ID(), "mx www.Lab.test t-1");
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_ERROR);
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.url"), "www.Lab.test");

  // A second scan starts afresh; the host may come before the options.
  auto long_form = from_arguments("a.test --debug --udp --tries=4 --test-id=t-2");
  EXPECT_EQ(long_form->get_parameters().host, "a.test");
  EXPECT_EQ(long_form->get_parameters().get_protocol(), protocol_UDP);
  EXPECT_EQ(long_form->get_parameters().get_tries(), 4);
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_DEBUG);
  EXPECT_EQ(logger.get_ID(), "t-2");
}

TEST_F(DnsExperienceInputTest, DocumentCapabilitiesAndSettings) {
  // The malformed NSID and step time are forgiven: the "Nsid" and "Timeout" settings stand in.
  auto wrapper = from_document(
      R"("test.common.url":"qv-dns-exp://WWW.Lab.Test:8053/x","qv-dns.test.query-type":"AAAA",)"
      R"("qv-dns.test.disable-recursion":true,"qv-dns.test.nsid":"yes",)"
      R"("qv-dns.test.enable-hostname-bind-mode":true,"test.common.flag.debug-on-error":true,)"
      R"("common.test.max-step-time":"40s","common.test.send-data-bytes":1,"x.unknown":1)",
      R"("Nsid":true,"DataDirectory":"/nonexistent-data","DisableEdns":true,"Tries":5,"Odd":1,)"
      R"("Timeout":40)");
  const Parameters& p = wrapper->get_parameters();
  // The URL's port is not used: each server is asked on port 53.
  EXPECT_EQ(p.host + " " + p.get_query_type() + " " + std::to_string(p.server_port),
            "www.lab.test aaaa 0");
  EXPECT_TRUE(p.timeout_given);
  EXPECT_FALSE(p.recursion || p.EDNS);
  EXPECT_EQ(p.query_flags, Parameters::hostname_bind_flag | Parameters::nsid_flag);
  EXPECT_EQ(p.get_cache_path(), "/nonexistent-data/dns_experience_cache.dat");
  // "debug-on-error" asks for 3 probes per server.
  EXPECT_EQ(std::vector<int>({p.get_ping_probes_count(), p.get_timeout(), p.get_tries()}),
            std::vector<int>({3, 40, 5}));
  EXPECT_NE(log.str().find("Unrecognized option: x.unknown"), std::string::npos);
  EXPECT_NE(log.str().find("Unrecognized setting: Odd"), std::string::npos);
  EXPECT_EQ(log.str().find("Ignoring option"), std::string::npos);  // a debug line only
  EXPECT_EQ(value_at(wrapper->test_result(), "R:qv-dns.results.url"),
            "qv-dns-exp://WWW.Lab.Test:8053/x");

  from_document("", R"("DebugModeOn":true)");
  EXPECT_EQ(logger.get_minimum_level(), LEVEL_DEBUG);
}

TEST_F(DnsExperienceInputTest, TransportFollowsTheOrderOfTcpAndUrl) {
  const std::string url = R"("test.common.url":"qv-dns-trace://lab.test")";
  const std::pair<std::string, protocol_t> cases[] = {
      {R"("qv-dns.test.dns-via-tcp":true,)" + url, protocol_TCP},
      {url + R"(,"qv-dns.test.dns-via-tcp":true)", protocol_TCP},
      {url + R"(,"qv-dns.test.dns-via-tcp":false)", protocol_UDP},
  };
  for (const auto& [capabilities, protocol] : cases) {
    auto wrapper = from_document(capabilities);
    EXPECT_EQ(wrapper->get_parameters().get_protocol(), protocol) << capabilities;
    EXPECT_EQ(wrapper->get_parameters().test_type, test_type_t::DNS_traversal);
  }
}

TEST_F(DnsExperienceInputTest, VersionJoinsTheNativeToolsVersions) {
  Ping_tool_folder folder;
  // A probe TTL that the ping wrapper refuses must not keep the version from being printed.
  auto wrapper = from_arguments("-l 5", folder.path());
  Scripted_tools tools;
  tools.answer = [&](const std::string& command) -> Reply {
    if (command.rfind(folder.path() + "QV_dig -v", 0) == 0) return {"9.18.0\n"};
    if (command.rfind(folder.path() + "QV_delv -v", 0) == 0) return {"9.18.1\n"};
    if (command.rfind(folder.path() + "QV_traceroute --version", 0) == 0) return {"2.1.2\n"};
    return {"unexpected\n"};
  };
  tools.install(*wrapper);
  EXPECT_EQ(wrapper->version_message(),
            "DnsExperience wrapper 1.16.7.2 for Linux\nQV_dig version: 9.18.0\n"
            "QV_delv version: 9.18.1\nQV_traceroute version: 2.1.2\n");
}

TEST_F(DnsExperienceInputTest, RawOutputHelpers) {
  // PTR queries and levels from the third on show the raw text, never in a JSON run.
  auto address = from_arguments("www.lab.test");
  auto json = from_arguments("-j -t ptr 127.53.4.1");
  EXPECT_TRUE(from_arguments("-t PTR 127.53.4.1")->need_raw_output());
  EXPECT_FALSE(address->need_raw_output());
  address->at_level(3);
  json->at_level(3);
  EXPECT_TRUE(address->need_raw_output());
  EXPECT_FALSE(json->need_raw_output());

  Results& results = address->get_results();
  results.start_alias_traversal();
  EXPECT_EQ(address->raw_output_title(), "## Level 1");
  results.start_alias_traversal();
  results.start_alias_traversal();
  results.reported_level_count = 4;
  EXPECT_EQ(address->raw_output_title(), "## Level 5 (alias resolution 2)");

  EXPECT_EQ(parse_tld_host_ignore_list(" a.test,\tb.test ,, \n,c.test,"),
            (std::vector<std::string>{"a.test", "b.test", "c.test"}));
  EXPECT_TRUE(parse_tld_host_ignore_list(" , ").empty());
}

}  // namespace
}  // namespace Network_tools::DNS_experience
