// Dig parameters: the exact command lines, the setters' refusals and the DNSSEC validation's
// parameters and command line.
#include <gtest/gtest.h>

#include <functional>

#include "dig/parameters.h"

namespace Network_tools::Dig {
namespace {

const std::string dig = "/opt/Tarvex/Tools/bind/QV_dig -u +comment +question";

// A query for `host` of type a at 192.0.2.53 over UDP.
Parameters udp_query(const std::string& host = "H") {
  Parameters parameters("");
  parameters.host = host;
  parameters.set_query_type("A");
  parameters.server = "192.0.2.53";
  parameters.set_protocol(protocol_UDP);
  return parameters;
}

bool has(const Parameters& parameters, const std::string& piece) {
  return parameters.get_cmd_line().find(piece) != std::string::npos;
}

TEST(DigCommandLineTest, PiecesInTheirOrder) {
  EXPECT_EQ(udp_query().get_cmd_line(),
            dig + " +notcp +ignore -4 +cd +tries=1 +timeout=1.500 @192.0.2.53 -t a H 2>&1");
  Parameters p = udp_query();
  p.set_protocol(protocol_TCP);
  p.use_IPv6 = p.DNSSEC = true;
  p.recursion = p.EDNS = false;
  p.set_server_port(5353);
  p.set_EDNS_client_subnet("198.51.100.7/24");  // not sent without EDNS
  EXPECT_EQ(p.get_cmd_line(), dig +
                                  " +tcp +cd +tries=1 +timeout=1.500 +dnssec +norecurse"
                                  " @192.0.2.53 -p 5353 +noedns -t a H 2>&1");
  p.EDNS = true;
  EXPECT_TRUE(has(p, " +tcp +subnet=198.51.100.0/24 +cd "));
  p.set_protocol(protocol_unset);
  p.server.clear();
  EXPECT_TRUE(has(p, "+question +subnet="));
  EXPECT_FALSE(has(p, "@"));
}

TEST(DigCommandLineTest, RetryTimeoutIsWholeSecondsOrThreeDecimals) {
  Parameters p = udp_query();
  for (const auto& [milliseconds, text] : {std::pair{1000, "=1 "},
                                           {1500, "=1.500 "},
                                           {501, "=0.501 "},
                                           {2010, "=2.010 "},
                                           {5000, "=5 "}}) {
    p.set_retry_timeout(milliseconds);
    EXPECT_TRUE(has(p, std::string("+timeout") + text)) << milliseconds;
  }
}

TEST(DigCommandLineTest, QueryModes) {
  Parameters p = udp_query("192.0.2.1");
  p.query_mode = query_mode_t::nsid;
  EXPECT_TRUE(has(p, "@192.0.2.53 +nsid -t a 192.0.2.1 2>&1"));
  p.EDNS = false;  // NSID travels in EDNS: without it the query is a standard one
  EXPECT_TRUE(has(p, "@192.0.2.53 +noedns -t a 192.0.2.1 2>&1"));
  p.query_mode = query_mode_t::hostname_bind;
  EXPECT_TRUE(has(p, "+noedns hostname.bind txt chaos 2>&1"));
  p.query_mode = query_mode_t::reverse;
  EXPECT_TRUE(has(p, "+noedns -x 192.0.2.1 2>&1"));
}

TEST(DigCommandLineTest, InputWithShellSyntaxStaysOneWord) {
  Parameters p = udp_query("a.example;touch /tmp/x");
  p.server = "$(reboot)";
  p.set_query_type("a`id`");
  EXPECT_TRUE(has(p, " @'$(reboot)' -t 'a`id`' 'a.example;touch /tmp/x' 2>&1"));
  // A name that dig would read as its option -f is named with -q.
  EXPECT_TRUE(has(udp_query("-f/etc/passwd"), " -t a -q -f/etc/passwd 2>&1"));
}

TEST(DigParametersTest, RefusalsKeepTheOldValue) {
  // The ranges share one check: a refusal under a limit here, one over it in the front-end test.
  Parameters p("");
  const std::vector<std::pair<std::function<void()>, std::string>> cases = {
      {[&] { p.set_DNSSEC_server_port(-1); }, "DNSSEC Port -1 under the limit of 0"},
      {[&] { p.set_protocol(protocol_ICMP); }, "Protocol type 1 is not supported in this wrapper"},
      {[&] { p.set_EDNS_client_subnet("10.0.0.0/33"); }, "Invalid subnet: 10.0.0.0/33"},
      {[&] { p.set_query_mode(4); }, "Mode type 4 is not supported in this wrapper"},
  };
  for (const auto& [set, message] : cases) {
    std::string refusal = "accepted";
    try {
      set();
    } catch (const Network_tools::Parameters::exception& error) {
      refusal = error.what();
    }
    EXPECT_EQ(refusal, message);
  }
  EXPECT_EQ(p.get_DNSSEC_server_port(), 0);
  EXPECT_EQ(p.get_protocol(), protocol_unset);
  EXPECT_FALSE(p.has_EDNS_client_subnet());
}

TEST(DigParametersTest, ValidationParametersFollowTheQuery) {
  Parameters p = udp_query("WWW.Lab.Test");
  p.set_query_type("AAAA");
  p.DNSSEC_server = "192.0.2.9";
  p.set_DNSSEC_server_port(5300);
  EXPECT_EQ(p.to_delv().get_cmd_line(),
            "/opt/Tarvex/Tools/bind/QV_delv +notcp -4 @192.0.2.9 -p 5300 -t aaaa www.lab.test "
            "+cd +mtrace +vtrace 2>&1");
  // Over TCP and IPv6 with delv's own resolver; a host beginning with "-" is named with -q.
  p = udp_query("-It's");
  p.set_protocol(protocol_TCP);
  p.use_IPv6 = true;
  EXPECT_EQ(p.to_delv().get_cmd_line(),
            "/opt/Tarvex/Tools/bind/QV_delv +tcp -t a -q '-it'\\''s' +cd +mtrace +vtrace 2>&1");
}

}  // namespace
}  // namespace Network_tools::Dig
