// Dig parameters: the exact command lines, the refusals of the setters, and the DNSSEC
// validation parameters derived from a query.
#include <gtest/gtest.h>

#include "dig/errors.h"
#include "dig/parameters.h"

namespace Network_tools::Dig {
namespace {

const std::string dig = "/opt/Tarvex/Tools/bind/QV_dig";

// A query for `host` of type a at 192.0.2.53 over UDP, as the engine writes them.
Parameters udp_query(const std::string& host = "H") {
  Parameters parameters("");
  parameters.host = host;
  parameters.set_query_type("a");
  parameters.server = "192.0.2.53";
  parameters.set_protocol(protocol_UDP);
  return parameters;
}

TEST(DigCommandLineTest, DefaultQueryIsExactlyTheDocumentedLine) {
  EXPECT_EQ(udp_query().get_cmd_line(),
            dig +
                " -u +comment +question +notcp +ignore -4 +cd +tries=1 +timeout=1.500"
                " @192.0.2.53 -t a H 2>&1");
  Parameters machine_resolver("");
  machine_resolver.host = "example.com";
  machine_resolver.set_query_type("NS");
  EXPECT_EQ(machine_resolver.get_cmd_line(),
            dig + " -u +comment +question -4 +cd +tries=1 +timeout=1.500 -t ns example.com 2>&1");
}

TEST(DigCommandLineTest, RetryTimeoutIsWholeSecondsOrThreeDecimals) {
  Parameters parameters = udp_query();
  for (const auto& [milliseconds, text] : {std::pair{1000, "+timeout=1 "},
                                           {1500, "+timeout=1.500 "},
                                           {501, "+timeout=0.501 "},
                                           {5000, "+timeout=5 "},
                                           {750, "+timeout=0.750 "},
                                           {2010, "+timeout=2.010 "}}) {
    parameters.set_retry_timeout(milliseconds);
    EXPECT_NE(parameters.get_cmd_line().find(text), std::string::npos) << milliseconds;
  }
}

TEST(DigCommandLineTest, TransportPortSwitchesAndModesTakeTheirPlaces) {
  Parameters parameters = udp_query();
  parameters.set_protocol(protocol_TCP);
  parameters.use_IPv6 = true;
  parameters.set_server_port(5353);
  parameters.DNSSEC = true;
  parameters.recursion = false;
  parameters.EDNS = false;
  EXPECT_EQ(parameters.get_cmd_line(),
            dig +
                " -u +comment +question +tcp +cd +tries=1 +timeout=1.500 +dnssec +norecurse"
                " @192.0.2.53 -p 5353 +noedns -t a H 2>&1");

  parameters = udp_query();
  parameters.query_mode = query_mode_t::nsid;
  EXPECT_NE(parameters.get_cmd_line().find(" @192.0.2.53 +nsid -t a H 2>&1"), std::string::npos);
  parameters.EDNS = false;  // NSID travels in EDNS: without it the query is a standard one
  EXPECT_NE(parameters.get_cmd_line().find(" @192.0.2.53 +noedns -t a H 2>&1"), std::string::npos);

  parameters = udp_query();
  parameters.query_mode = query_mode_t::hostname_bind;
  EXPECT_NE(parameters.get_cmd_line().find(" @192.0.2.53 hostname.bind txt chaos 2>&1"),
            std::string::npos);
  parameters = udp_query("192.0.2.1");
  parameters.query_mode = query_mode_t::reverse;
  EXPECT_NE(parameters.get_cmd_line().find(" @192.0.2.53 -x 192.0.2.1 2>&1"), std::string::npos);
}

TEST(DigCommandLineTest, ClientSubnetOnlyWithEDNS) {
  Parameters parameters = udp_query();
  parameters.set_EDNS_client_subnet("198.51.100.77/24");
  EXPECT_NE(parameters.get_cmd_line().find(" -4 +subnet=198.51.100.0/24 +cd"), std::string::npos);
  parameters.EDNS = false;
  EXPECT_EQ(parameters.get_cmd_line().find("+subnet"), std::string::npos);
  // 0.0.0.0/0 asks the server not to use the client's address: it is a subnet to send.
  parameters.EDNS = true;
  parameters.set_EDNS_client_subnet("0.0.0.0/0");
  EXPECT_NE(parameters.get_cmd_line().find(" +subnet=0.0.0.0/0 "), std::string::npos);
}

TEST(DigCommandLineTest, InputWithShellSyntaxStaysOneWord) {
  Parameters parameters = udp_query("a.example;touch /tmp/x");
  parameters.server = "$(reboot)";
  parameters.set_query_type("a`id`");
  EXPECT_EQ(parameters.get_cmd_line(),
            dig +
                " -u +comment +question +notcp +ignore -4 +cd +tries=1 +timeout=1.500"
                " @'$(reboot)' -t 'a`id`' 'a.example;touch /tmp/x' 2>&1");
  // A name that dig would read as one of its options is given with -q.
  parameters = udp_query("-f/etc/passwd");
  EXPECT_NE(parameters.get_cmd_line().find(" -t a -q -f/etc/passwd 2>&1"), std::string::npos);
}

TEST(DigCommandLineTest, ToolFolderReplacesTheExecutableFolder) {
  Parameters parameters("/usr/local/tools/");
  EXPECT_EQ(parameters.get_cmd_line().rfind("/usr/local/tools/QV_dig -u ", 0), 0u);
  EXPECT_EQ(parameters.to_delv().get_native_tool_executable(), "/usr/local/tools/QV_delv");
}

TEST(DigParametersTest, SettersRefuseOutOfRangeValuesAndKeepTheOldOne) {
  Parameters parameters("");
  const auto refusal = [&](auto set) -> std::string {
    try {
      set();
    } catch (const Network_tools::Parameters::exception& error) {
      return error.what();
    }
    return "accepted";
  };
  EXPECT_EQ(refusal([&] { parameters.set_server_port(65536); }),
            "Port 65536 over the limit of 65535");
  EXPECT_EQ(refusal([&] { parameters.set_server_port(-1); }), "Port -1 under the limit of 0");
  EXPECT_EQ(refusal([&] { parameters.set_DNSSEC_server_port(70000); }),
            "DNSSEC Port 70000 over the limit of 65535");
  EXPECT_EQ(refusal([&] { parameters.set_tries(0); }), "Tries of 0 under the limit of 1");
  EXPECT_EQ(refusal([&] { parameters.set_tries(6); }), "Tries of 6 over the limit of 5");
  EXPECT_EQ(refusal([&] { parameters.set_retry_timeout(499); }),
            "Retry timeout of 499 under the limit of 500");
  EXPECT_EQ(refusal([&] { parameters.set_retry_timeout(5001); }),
            "Retry timeout of 5001 over the limit of 5000");
  EXPECT_EQ(refusal([&] { parameters.set_protocol(protocol_ICMP); }),
            "Protocol type 1 is not supported in this wrapper");
  EXPECT_EQ(refusal([&] { parameters.set_EDNS_client_subnet("10.0.0.0/33"); }),
            "Invalid subnet: 10.0.0.0/33");
  EXPECT_EQ(refusal([&] { parameters.set_query_mode(4); }),
            "Mode type 4 is not supported in this wrapper");
  EXPECT_EQ(parameters.get_server_port(), 0);
  EXPECT_EQ(parameters.get_tries(), 3);
  EXPECT_EQ(parameters.get_retry_timeout(), 1500);
  EXPECT_EQ(parameters.get_protocol(), protocol_unset);
  EXPECT_FALSE(parameters.has_EDNS_client_subnet());
  EXPECT_EQ(refusal([&] { parameters.set_retry_timeout(5000); }), "accepted");
  EXPECT_EQ(refusal([&] { parameters.set_tries(5); }), "accepted");
}

TEST(DigParametersTest, ValidationParametersFollowTheQuery) {
  Parameters parameters = udp_query("WWW.Lab.Test");
  parameters.set_query_type("AAAA");
  parameters.DNSSEC_server = "192.0.2.9";
  parameters.set_DNSSEC_server_port(5300);
  parameters.JSON_output = true;
  const Delv::Parameters delv = parameters.to_delv();
  EXPECT_EQ(delv.get_cmd_line(),
            "/opt/Tarvex/Tools/bind/QV_delv +notcp -4 @192.0.2.9 -p 5300"
            " -t aaaa www.lab.test +cd +mtrace +vtrace 2>&1");
  EXPECT_TRUE(delv.JSON_output);
  EXPECT_EQ(delv.get_timeout(), 10);
}

TEST(DigErrorsTest, KeysOfCodesAndUnknownValues) {
  EXPECT_EQ(err_to_string(err_t::none), "qv-dns.results.error.none");
  EXPECT_EQ(err_to_string(err_t::nx_domain), "qv-dns.results.error.nx-domain");
  EXPECT_EQ(err_to_string(err_t::timeout), "qv-dns.results.error.timeout");
  EXPECT_EQ(err_to_string(err_t::no_answers_or_authorities),
            "qv-dns.results.error.no-answers-or-authorities");
  for (const int value : {11, 13, 1006, 1008, 1019, -1}) {
    EXPECT_EQ(err_to_string(static_cast<err_t>(value)), "qv-dns.results.error.unknown") << value;
  }
}

}  // namespace
}  // namespace Network_tools::Dig
