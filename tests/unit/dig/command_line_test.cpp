// Dig parameters: the exact command lines, the setters' refusals and the DNSSEC validation's
// command line.
#include <gtest/gtest.h>

#include <functional>

#include "dig/parameters.h"

namespace Network_tools::Dig {
namespace {

// A query for `host` of type a at 192.0.2.53 over UDP.
Parameters udp_query(const std::string& host = "H") {
  Parameters parameters("");
  parameters.host = host;
  parameters.set_query_type("A");
  parameters.server = "192.0.2.53";
  parameters.set_protocol(protocol_UDP);
  return parameters;
}

TEST(DigCommandLineTest, PiecesFollowTheParameters) {
  const std::string dig = "/opt/Tarvex/Tools/bind/QV_dig -u +comment +question";
  EXPECT_EQ(udp_query().get_cmd_line(),
            dig + " +notcp +ignore -4 +cd +tries=1 +timeout=1.500 @192.0.2.53 -t a H 2>&1");
  // What changes, and a piece of the command line it must give.
  const std::pair<std::function<void(Parameters&)>, std::string> cases[] = {
      {[](Parameters& p) {
         p.set_protocol(protocol_TCP);
         p.use_IPv6 = p.DNSSEC = true;
         p.recursion = p.EDNS = false;
         p.set_server_port(5353);
         p.set_EDNS_client_subnet("198.51.100.7/24");  // not sent without EDNS
       },
       dig + " +tcp +cd +tries=1 +timeout=1.500 +dnssec +norecurse @192.0.2.53 -p 5353 +noedns "
             "-t a H 2>&1"},
      {[](Parameters& p) {
         p.set_protocol(protocol_unset);
         p.server.clear();
         p.set_EDNS_client_subnet("198.51.100.7/24");
       },
       dig + " -4 +subnet=198.51.100.0/24 +cd +tries=1 +timeout=1.500 -t a H 2>&1"},
      {[](Parameters& p) { p.set_retry_timeout(1000); }, " +timeout=1 "},
      {[](Parameters& p) { p.set_retry_timeout(501); }, " +timeout=0.501 "},
      {[](Parameters& p) { p.set_retry_timeout(2010); }, " +timeout=2.010 "},
      {[](Parameters& p) { p.query_mode = query_mode_t::nsid; }, " @192.0.2.53 +nsid -t a H 2>&1"},
      // NSID travels in EDNS: without it the query is a standard one.
      {[](Parameters& p) {
         p.query_mode = query_mode_t::nsid;
         p.EDNS = false;
       },
       " @192.0.2.53 +noedns -t a H 2>&1"},
      {[](Parameters& p) { p.query_mode = query_mode_t::hostname_bind; },
       " @192.0.2.53 hostname.bind txt chaos 2>&1"},
      {[](Parameters& p) { p.query_mode = query_mode_t::reverse; }, " @192.0.2.53 -x H 2>&1"},
      {[](Parameters& p) {
         p.host = "a.example;touch /tmp/x";
         p.server = "$(reboot)";
         p.set_query_type("a`id`");
       },
       " @'$(reboot)' -t 'a`id`' 'a.example;touch /tmp/x' 2>&1"},
      // A name that dig would read as its option -f is named with -q.
      {[](Parameters& p) { p.host = "-f/etc/passwd"; }, " -t a -q -f/etc/passwd 2>&1"},
  };
  for (const auto& [change, piece] : cases) {
    Parameters p = udp_query();
    change(p);
    EXPECT_NE(p.get_cmd_line().find(piece), std::string::npos) << p.get_cmd_line();
  }
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
