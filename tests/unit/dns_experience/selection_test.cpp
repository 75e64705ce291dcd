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
  for (const ServerInfo& one : servers) text += one.hostname;
  return text;
}

class Selection : public Scripted_lab {
 protected:
  // Sorts a, b (20 ms), c (20 ms) and d (40 ms) as `wrapper` would; a has no known time.
  std::string sorted(Staged_engine& wrapper, std::vector<ServerInfo> servers = {}) {
    wrapper.start();
    wrapper.cache().set_last_query_time("b", 20);
    wrapper.cache().set_last_query_time("c", 20);
    wrapper.cache().set_last_query_time("d", 40);
    if (servers.empty()) {
      servers = {server("a", "127.53.4.1"), server("b", "127.53.4.2"), server("c", "127.53.4.3"),
                 server("d", "127.53.4.4")};
    }
    wrapper.sort_name_server_to_query(servers);
    return names(servers);
  }
};

TEST_F(Selection, TheBiasPicksTheFirstFastestServerBelowItsPercentage) {
  const std::vector<std::tuple<std::string, std::deque<int>, std::string>> cases = {
      {"-b", {79}, "adcb"},          // b and c tie: the first of them is asked (moved last)
      {"-b", {80}, "abcd"},          // not below 80: the list stays as it was
      {"-b -f", {0, 0, 0}, "dcab"},  // fail-over: the fastest last, the others shuffled
      {"", {1}, "adcb"},             // no bias: one server at random
  };
  for (const auto& [options, scripted_draws, order] : cases) {
    draws = scripted_draws;
    EXPECT_EQ(sorted(*engine(options + " www.lab.test")), order) << options;
  }
  // A bias of 100 applies whatever the draw, the highest included.
  auto always = engine("-b www.lab.test");
  always->parameters().set_bias_percentage(100);
  EXPECT_EQ(sorted(*always), "adcb");
  // Servers without address are dropped; without any left the level cannot go on.
  EXPECT_EQ(sorted(*engine("www.lab.test"), {server("a", "127.53.4.1"), server("b")}), "a");
  EXPECT_EQ(thrown_by([&] { sorted(*engine("www.lab.test"), {server("b")}); }).error_code(),
            static_cast<int>(err_t::nameserver_resolution_failure));
}

TEST_F(Selection, AFailedServerIsReplacedOnlyWithTheOptionAndAtMostTriesTimes) {
  rules = {{{"@127.53.5."}, "dig_servfail.txt"}};
  for (const auto& [options, queries] :
       std::vector<std::pair<std::string, std::size_t>>{{"", 1}, {"-f -r 3", 3}, {"-f -r 5", 4}}) {
    auto wrapper = engine(options + " www.lab.test");
    wrapper->start();
    wrapper->at_level(4);
    scripted.commands.clear();
    Dig::Parameters dig = wrapper->get_parameters().to_dig_wrapper();
    dig.server = "127.53.5.4";
    std::vector<ServerInfo> servers = {server("s1", "127.53.5.1"), server("s2", "127.53.5.2"),
                                       server("unresolved"), server("s3", "127.53.5.3"),
                                       server("s4", "127.53.5.4")};
    const exception error = thrown_by(
        [&] { wrapper->query_nameservers(std::move(servers), dig, "www.servfail.test.", false); });
    EXPECT_EQ(error.error_code(), static_cast<int>(err_t::serv_fail)) << options;
    EXPECT_EQ(scripted.commands.size(), queries) << options;
    EXPECT_EQ(wrapper->get_results().resolutions.back().levels.back().failures.size(), queries);
  }
  EXPECT_TRUE(logged("Maximum number of server on failure 3 reached"));
  EXPECT_TRUE(logged("No more reserver to retry on failure"));
}

TEST_F(Selection, NameServersGetAddressesFromAdditionalRecordsOrTheMachine) {
  host_addresses = {{"ns1.dom.example.", "127.53.4.3"}};
  rapidjson::Document metrics;
  std::string entries;
  for (const auto& [name, type, info, ttl] :
       std::vector<std::tuple<const char*, const char*, const char*, int>>{
           {"v4.", "A", "127.53.4.1", 90},
           {"v4.", "AAAA", "::1", 65},
           {"v6.", "AAAA", "::2", 70},
           {"v6.", "A", "127.53.4.2", 60}}) {
    entries += std::string(entries.empty() ? "" : ",") +
               R"({"MetricData":{"qv-dns.results.additional.name":")" + name +
               R"(","qv-dns.results.additional.type":")" + type +
               R"(","qv-dns.results.additional.info":")" + info +
               R"(","qv-dns.results.additional.ttl":)" + std::to_string(ttl) + "}}";
  }
  metrics.Parse(("[" + entries + "]").c_str());
  const auto addresses = [&](const std::string& options, std::vector<ServerInfo> servers) {
    auto wrapper = engine(options + " www.lab.test");
    wrapper->start();
    ParsedResponse response;
    response.name_servers = std::move(servers);
    wrapper->fill_ip_addresses_for_parsed_nameservers(metrics, response);
    std::string found = std::to_string(response.ttl);
    for (const ServerInfo& one : response.name_servers) {
      found += " " + one.address.to_string() + "/" + std::to_string(one.resolution_time_ms);
    }
    return found;
  };
  // The shortest TTL of the records taken counts. An AAAA record replaces an IPv4 address, never
  // the reverse (whose TTL then does not count); names without a record are looked up on the
  // machine.
  EXPECT_EQ(addresses("-6", {server("v4."), server("v6."), server("ns1.dom.example."),
                             server("nowhere.")}),
            "65 ::1/-1 ::2/-1 127.53.4.3/0 /-1");
  EXPECT_EQ(addresses("", {server("v6.")}), "60 127.53.4.2/-1");  // AAAA only with -6
}

}  // namespace
}  // namespace Network_tools::DNS_experience
