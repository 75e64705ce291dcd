// Choosing the server to ask, moving to another one after a failure, and the addresses of the
// next level's servers.
#include <gtest/gtest.h>

#include "dns_experience/scripted_lab.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

ServerInfo server(const std::string& name, const std::string& address = "") {
  return ServerInfo{name, address.empty() ? IP::Address() : IP::Address(address), -1};
}

std::string names(const std::vector<ServerInfo>& servers) {
  std::string text;
  for (const ServerInfo& one : servers) text += (text.empty() ? "" : " ") + one.hostname;
  return text;
}

class Selection : public Scripted_lab {};

TEST_F(Selection, TheBiasPicksTheFirstFastestServerBelowItsPercentage) {
  struct Bias_case {
    std::string options;
    std::deque<int> draws;  // empty: the top of each range
    std::string order;
  };
  const std::vector<Bias_case> cases = {
      {"-b", {79}, "a d c b"},  // b and c tie at 20 ms: the first of them is asked
      {"-b", {80}, "a b c d"},  // not below 80: the list stays as it was
      // With fail-over the fastest stays last and the others are shuffled before it.
      {"-b -f", {0, 0, 0}, "d c a b"},
      // Without the bias, one server at random is asked.
      {"", {1}, "a d c b"},
  };
  for (const Bias_case& c : cases) {
    auto wrapper = engine(c.options + " www.lab.test");
    wrapper->start();
    wrapper->cache().set_last_query_time("b", 20);
    wrapper->cache().set_last_query_time("c", 20);
    wrapper->cache().set_last_query_time("d", 40);
    draws = c.draws;
    std::vector<ServerInfo> servers = {server("a", "127.53.4.1"), server("b", "127.53.4.2"),
                                       server("c", "127.53.4.3"), server("d", "127.53.4.4")};
    wrapper->sort_name_server_to_query(servers);
    EXPECT_EQ(names(servers), c.order) << c.options;
  }
}

TEST_F(Selection, BiasOfAHundredAlwaysPicksTheFastest) {
  auto wrapper = engine_from_document(R"("qv-dns.test.exp-bias-towards-best":true)",
                                      R"("BiasPercentage":100)");
  wrapper->start();
  wrapper->cache().set_last_query_time("a", 5);
  // Each draw is the highest the selection can make.
  std::vector<ServerInfo> servers = {server("a", "127.53.4.1"), server("b", "127.53.4.2")};
  wrapper->sort_name_server_to_query(servers);
  EXPECT_EQ(names(servers), "b a");
}

TEST_F(Selection, ServersWithoutAddressAreDroppedAndNoneLeftIsAResolutionFailure) {
  auto wrapper = engine("www.lab.test");
  wrapper->start();
  std::vector<ServerInfo> servers = {server("a", "127.53.4.1"), server("b")};
  wrapper->sort_name_server_to_query(servers);
  EXPECT_EQ(names(servers), "a");
  EXPECT_TRUE(ranges.empty());  // a single server needs no draw
  std::vector<ServerInfo> none = {server("b")};
  EXPECT_EQ(thrown_by([&] { wrapper->sort_name_server_to_query(none); }).error_code(),
            static_cast<int>(err_t::nameserver_resolution_failure));
}

TEST_F(Selection, AFailedServerIsReplacedOnlyWithTheOptionAndAtMostTriesTimes) {
  struct Failover_case {
    std::string options;
    std::size_t queries;
  };
  rules = {{{"@127.53.5."}, "dig_servfail.txt"}};
  for (const Failover_case& c : {Failover_case{"", 1}, Failover_case{"-f -r 3", 3},
                                 Failover_case{"-f -r 5", 4}}) {
    auto wrapper = engine(c.options + " www.lab.test");
    wrapper->start();
    wrapper->at_level(4);
    scripted.commands.clear();
    Dig::Parameters dig = wrapper->get_parameters().to_dig_wrapper();
    dig.server = "127.53.5.4";
    std::vector<ServerInfo> servers = {server("s1", "127.53.5.1"), server("s2", "127.53.5.2"),
                                       server("unresolved"), server("s3", "127.53.5.3"),
                                       server("s4", "127.53.5.4")};
    const exception error = thrown_by([&] {
      wrapper->query_nameservers(std::move(servers), dig, "www.servfail.test.", false);
    });
    EXPECT_EQ(scripted.commands.size(), c.queries) << c.options;
    EXPECT_EQ(error.error_code(), static_cast<int>(err_t::serv_fail));
    EXPECT_EQ(wrapper->get_results().resolutions.back().levels.back().failures.size(), c.queries);
  }
  EXPECT_TRUE(logged("Maximum number of server on failure 3 reached"));
  EXPECT_TRUE(logged("No more reserver to retry on failure"));
}

TEST_F(Selection, NameServersGetAddressesFromAdditionalRecordsOrTheMachine) {
  auto wrapper = engine("-6 www.lab.test");
  wrapper->start();
  host_addresses = {{"ns1.dom.example.", "127.53.4.3"}};
  rapidjson::Document metrics;
  metrics.Parse(R"([
    {"MetricData":{"qv-dns.results.additional.name":"v4.test.","qv-dns.results.additional.type":"A",
                   "qv-dns.results.additional.info":"127.53.4.1","qv-dns.results.additional.ttl":90}},
    {"MetricData":{"qv-dns.results.additional.name":"v4.test.","qv-dns.results.additional.type":"AAAA",
                   "qv-dns.results.additional.info":"::1","qv-dns.results.additional.ttl":80}},
    {"MetricData":{"qv-dns.results.additional.name":"v6.test.","qv-dns.results.additional.type":"AAAA",
                   "qv-dns.results.additional.info":"::2","qv-dns.results.additional.ttl":70}},
    {"MetricData":{"qv-dns.results.additional.name":"v6.test.","qv-dns.results.additional.type":"A",
                   "qv-dns.results.additional.info":"127.53.4.2","qv-dns.results.additional.ttl":60}}])");
  ParsedResponse response;
  response.name_servers = {server("v4.test."), server("v6.test."), server("ns1.dom.example."),
                           server("nowhere.test.")};
  wrapper->fill_ip_addresses_for_parsed_nameservers(metrics, response);
  std::string found;
  for (const ServerInfo& one : response.name_servers) {
    found += one.address.to_string() + "/" + std::to_string(one.resolution_time_ms) + " ";
  }
  // An AAAA record replaces an IPv4 address, never the reverse; the skipped record's TTL does
  // not count.
  EXPECT_EQ(found, "::1/-1 ::2/-1 127.53.4.3/0 /-1 ");
  EXPECT_EQ(response.ttl, 70);

  // Without IPv6 an AAAA record is skipped.
  auto IPv4_only = engine("www.lab.test");
  IPv4_only->start();
  response.name_servers = {server("v6.test.")};
  IPv4_only->fill_ip_addresses_for_parsed_nameservers(metrics, response);
  EXPECT_EQ(response.name_servers[0].address.to_string(), "127.53.4.2");
}

}  // namespace
}  // namespace Network_tools::DNS_experience
