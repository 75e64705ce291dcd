// The traversal test on answers recorded from the lab: every server of every level is asked,
// a level stands as long as one server answered, and the servers that failed stay in the result.
#include <gtest/gtest.h>

#include <fstream>
#include <system_error>
#include <thread>

#include "dns_experience/scripted_lab.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

class Traversal : public Scripted_lab {
 protected:
  Traversal() {
    // The ping diagnostics at the end of a run find their tool; it answers as ping_icmp.txt.
    std::ofstream(tools.path() + "QV_traceroute") << "";
    rules.insert(rules.begin(), {{{"+noedns -t ns . "}, "dig_root_servers.txt"},
                                 {{"@127.53.4.2", "-t a www.lab.test. "}, "dig_tcp.txt"},
                                 {{"QV_traceroute"}, "ping_icmp.txt"}});
  }

  // The statuses of the server entries of every step, in order: "ns1.lab.test.=refused".
  static std::vector<std::string> statuses(const std::string& document) {
    rapidjson::Document parsed;
    parsed.Parse(document.c_str());
    std::vector<std::string> found;
    for (const auto& step : parsed["MonitorResults"][0]["StepResults"].GetArray()) {
      for (const auto& metric : step["Metrics"].GetArray()) {
        const rapidjson::Value& data = metric["MetricData"];
        if (!data.HasMember("qv-dns.results.server.name")) continue;
        const std::string status = data["qv-dns.results.status"].GetString();
        found.push_back(std::string(data["qv-dns.results.server.name"].GetString()) + "=" +
                        status.substr(status.rfind('.') + 1));
      }
    }
    return found;
  }
};

TEST_F(Traversal, EveryServerOfEveryLevelIsAskedAndALevelStandsOnOneAnswer) {
  struct Case {
    Rule ns1;  // how ns1.lab.test (127.53.4.1) answers
    std::string status;
    std::string address;  // the address its entry shows
  };
  const std::vector<Case> cases = {
      // A refusal is an answer with an error status (recorded from another server); a time-out
      // is a failed query, shown with the address asked.
      {{{"@127.53.4.1"}, "dig_refused.txt"}, "refused", "127.53.5.3"},
      {{{"@127.53.4.1"}, "dig_timeout.txt", 9}, "timeout", "127.53.4.1"},
  };
  for (const Case& c : cases) {
    rules.insert(rules.begin(), c.ns1);
    scripted.commands.clear();
    const std::string result = engine("-g -j -f -b -x 1 -w 1000 -r 1 www.lab.test")->run();
    std::vector<std::string> digs = questions();
    std::erase_if(digs, [](const std::string& asked) { return !asked.starts_with("@"); });
    // The last server listed is asked first: the first resolver configured, the first root...
    EXPECT_EQ(digs, (std::vector<std::string>{
                        "@127.53.0.53 -t ns .", "@127.53.0.54 -t ns .", "@127.53.1.1 -t ns test.",
                        "@127.53.1.2 -t ns test.", "@127.53.2.1 -t a www.lab.test.",
                        "@127.53.2.2 -t a www.lab.test.", "@127.53.4.1 -t a www.lab.test.",
                        "@127.53.4.2 -t a www.lab.test."}));
    // The failed server is a group of its own; the first error of the final level is the test's.
    EXPECT_EQ(statuses(result),
              (std::vector<std::string>{"ns1.nic.test.=none", "ns2.nic.test.=none",
                                        "ns1.lab.test.=" + c.status, "ns2.lab.test.=none"}));
    EXPECT_TRUE(levels_of(result).back().ends_with(" " + c.status));
    EXPECT_NE(result.find(R"("qv-dns.results.server.address":")" + c.address), std::string::npos);
    rules.erase(rules.begin());
  }
  EXPECT_TRUE(logged("[DNS-T RUN]"));
  EXPECT_TRUE(logged("Option next-server-on-failure is not compatible with DNS Traversal"));
  EXPECT_TRUE(logged("Option bias-toward-the-best is not compatible with DNS Traversal"));
  EXPECT_TRUE(logged("it is set to the default value (in sec):30"));
  EXPECT_TRUE(logged(" failed with error: qv-dns.results.error.refused\ncontinuing to query"));
}

TEST_F(Traversal, ALevelTheCacheMayServeButDoesNotIsMeasured) {
  std::string slow_referral = recorded("dig_referral_tld.txt");
  slow_referral.replace(slow_referral.find("969 usec"), 8, "7969 usec");
  rules.insert(rules.begin(), Rule{{"@127.53.2."}, slow_referral});
  const std::string result =
      engine("-g -j -x 1 -c -C " + tools.path() + "cache.dat www.lab.test")->run();
  EXPECT_EQ(levels_of(result).front(), "1 www.lab.test. ns2.nic.test. 7");
}

TEST_F(Traversal, ALevelWhoseServersAllFailEndsWithTheFirstFailureOrTheProcess) {
  // ns1 is asked first and refuses; ns2 times out.
  rules.insert(rules.begin(),
               {{{"@127.53.4.1"}, "dig_refused.txt"}, {{"@127.53.4.2"}, "dig_timeout.txt", 9}});
  const std::vector<std::string> levels =
      levels_of(engine("-g -j -x 1 -w 1000 -r 1 www.lab.test")->run());
  EXPECT_EQ(levels.size(), 3u);
  EXPECT_TRUE(levels.back().ends_with(" refused")) << levels.back();

  // The raw text shows every server; the failed query is numbered by its place in the list.
  const std::string refused_line =
      "## Experience Error: qv-dns.results.error.refused (qv-dns.results.error.refused)";
  EXPECT_EQ(headings(engine("-g -x 1 -w 1000 -r 1 www.lab.test")->run()),
            (std::vector<std::string>{"## Level 1", "##  nameserver: 127.53.2.1 [ns1.nic.test.]",
                                      "##  nameserver: 127.53.2.2 [ns2.nic.test.]", "## Level 2",
                                      "##  nameserver: 127.53.4.1 [ns1.lab.test.]",
                                      "##  nameserver: 127.53.4.2 [ns2.lab.test.]",
                                      "##  FAILURE #1", refused_line, "## Test time: 1000ms"}));

  // The root servers are not reported: when none answers the test means nothing.
  rules.insert(rules.begin(), Rule{{"-t ns test. "}, "dig_timeout.txt", 9});
  EXPECT_EXIT(engine("-g -j www.lab.test")->run(), ::testing::ExitedWithCode(1),
              "^Fatal error: None of the servers that were queried are shown to the user for "
              "level: 2\\. Aborting the test\\. "
              "\\(qv-dns.results.error.root-server-or-tld-query-error\\)\n$");
}

TEST_F(Traversal, ServersAskedAtOnceGiveTheResultOfServersAskedInTurn) {
  rules.insert(rules.begin(), Rule{{"@127.53.4.1"}, "dig_refused.txt"});
  const std::string options = "-g -j -x 1 -w 1000 -r 1 www.lab.test";
  const std::string in_turn = engine(options)->run();
  std::unique_ptr<Staged_engine> at_once = engine("-G " + options);
  // The second thread of the second level cannot start: its server is asked all the same.
  int starts = 0;
  at_once->set_thread_starter([&starts](std::function<void()> work) {
    if (++starts == 2)
      throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(work));
  });
  EXPECT_EQ(at_once->run(), in_turn);
  EXPECT_EQ(starts, 4);  // one more thread for each level of two servers
  EXPECT_TRUE(logged("Querying 2 DNS servers at once"));
  EXPECT_TRUE(logged("Cannot start query thread 2 of 2: "));
  // Outside a traversal test the option changes nothing.
  EXPECT_EQ(levels_of(engine("-G -j www.lab.test")->run()).size(), 3u);
  EXPECT_TRUE(logged("Option parallel-traversal applies to DNS Traversal tests only"));
}

TEST_F(Traversal, ADigThatCannotGoOnEndsTheProcessWhetherAskedAtOnceOrInTurn) {
  // The second server of the last level, read after the first: the process ends as it would
  // have without threads, not from the worker that met it.
  rules.insert(rules.begin(), Rule{{"@127.53.4.2"}, "dig: couldn't get address for 'x'\n", 1});
  for (const std::string mode : {"", "-G "}) {
    EXPECT_EXIT(engine(mode + "-g -j -x 1 www.lab.test")->run(), ::testing::ExitedWithCode(1),
                "^Internal error: Original tool returned 1: couldn't get address for 'x'\n$")
        << mode;
  }
}

}  // namespace
}  // namespace Network_tools::DNS_experience
