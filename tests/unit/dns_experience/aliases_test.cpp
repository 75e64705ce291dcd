// Following aliases from the closest level already resolved, and the hostname.bind step.
#include <gtest/gtest.h>

#include "dns_experience/scripted_lab.h"

namespace Network_tools::DNS_experience {
namespace {

using namespace testing_support;

TEST(SvcbAlias, OnlyPriorityZeroWithATargetIsAnAlias) {
  for (const auto& [rdata, alias] :
       std::vector<std::pair<std::string, bool>>{{"0 www.lab.test.", true},
                                                 {"1 . alpn=\"h2\"", false},
                                                 {"0 .", false},
                                                 {"0", false},
                                                 {"0 ", false},
                                                 {"10 a.test.", false}}) {
    EXPECT_EQ(is_svcb_compatible_alias(rdata), alias) << rdata;
  }
}

class Aliases : public Scripted_lab {};

TEST_F(Aliases, AnAliasIsResolvedFromTheLongestDomainAlreadyDelegated) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      // Asked for the alias itself: nothing to follow.
      {"-t cname to-example.alias.test", {}},
      // Into another top-level domain: from the root again, whose servers are known by now.
      {"to-example.alias.test",
       {"@127.53.1.1 -t ns example.", "@127.53.3.1 -t a www.lab.example.",
        "@127.53.4.4 -t a www.lab.example."}},
      // HTTPS alias mode into test.: from test.'s servers; a service-mode record is the answer.
      {"-t https https.alias.test",
       {"@127.53.2.1 -t https www.lab.test.", "@127.53.4.1 -t https www.lab.test."}},
  };
  for (const auto& [arguments, then] : cases) {
    scripted.commands.clear();
    auto wrapper = engine("-j " + arguments);
    wrapper->run();
    const std::vector<std::string> asked = questions();
    ASSERT_GE(asked.size(), 4u) << arguments;
    EXPECT_EQ(std::vector<std::string>(asked.begin() + 4, asked.end()), then) << arguments;
    EXPECT_EQ(wrapper->get_results().resolutions.size(), then.empty() ? 1u : 2u);
    EXPECT_EQ(value_at(wrapper->test_result(), "R:common.results.error-code"), "<absent>");
  }
}

TEST_F(Aliases, AnAliasToTheRootOrATopLevelDomainFailsTheTestKeepingItsLevels) {
  for (const std::string target : {".", "example."}) {
    std::string answer = recorded("dig_cname_other_tld.txt");
    answer.replace(answer.find("www.lab.example.\n"), 16, target);
    rules.insert(rules.begin(), Rule{{"@127.53.4.", "to-example.alias.test. "}, answer});
    auto wrapper = engine("-j to-example.alias.test");
    wrapper->run();
    EXPECT_EQ(value_at(wrapper->test_result(), "R:common.results.error-code"),
              "qv-dns.results.error.invalid-host")
        << target;
    EXPECT_EQ(wrapper->get_results().reported_level_count, 2) << target;
    rules.erase(rules.begin());
  }
}

TEST_F(Aliases, ALoopWithinOneAnswerIsCutAtTheLastAliasResolved) {
  std::string answer = recorded("dig_cname_other_tld.txt");
  const std::string record = "to-example.alias.test.\t300\tIN\tCNAME\twww.lab.example.\n";
  answer.insert(answer.find(record) + record.size(),
                "www.lab.example.\t300\tIN\tCNAME\tto-example.alias.test.\n");
  rules.insert(rules.begin(), Rule{{"@127.53.4.", "to-example.alias.test. "}, answer});
  engine("-j to-example.alias.test")->run();
  EXPECT_TRUE(logged("Alias loop detected, terminating with the last alias resolved"));
}

TEST_F(Aliases, HostnameBindNeverFailsTheTest) {
  struct Identity_case {
    std::string options;
    Rule identity;
    bool identified;
    std::size_t queries;
  };
  const std::vector<Identity_case> cases = {
      {"-H", {{"hostname.bind"}, "dig_hostname_bind.txt"}, true, 5},
      {"-H", {{"hostname.bind"}, "dig_refused.txt"}, false, 5},
      // Three tries that time out; the NSID bit changes nothing.
      {"-H -S", {{"hostname.bind"}, "dig_timeout.txt", 9}, false, 7},
      {"", {{"hostname.bind"}, "dig_hostname_bind.txt"}, false, 4},
  };
  for (const Identity_case& c : cases) {
    rules = lab_rules();
    rules.insert(rules.begin(), c.identity);
    scripted.commands.clear();
    auto wrapper = engine("-j " + c.options + " www.lab.test");
    const std::string result = wrapper->run();
    EXPECT_EQ(result.find(R"("qv-dns.results.hostname-bind":"\"dom-test-1.dnslab\""})") !=
                  std::string::npos,
              c.identified)
        << c.identity.file;
    EXPECT_EQ(scripted.commands.size(), c.queries);
    // The identity's own record only: nothing of the query before it.
    const auto& identity = wrapper->get_results().resolutions.back().hostname_bind_response;
    if (c.identified) {
      EXPECT_EQ(identity["Metrics"].Size(), 1u);
    }
  }
  EXPECT_TRUE(
      logged("Error hostname BIND on www.lab.test., with name server: 127.53.4.1 error: "
             "qv-dns.results.error.refused"));

  // The overall timeout reached before the step is a warning too; the query mode is given back.
  rules = lab_rules();
  auto late = engine("-j -H -Q 1 www.lab.test");
  late->start();
  late->at_level(4);
  late->age(2);
  Dig::Parameters dig = late->get_parameters().to_dig_wrapper();
  dig.query_mode = Dig::query_mode_t::nsid;
  dig.server = "127.53.4.1";
  late->query_hostname_BIND(dig);
  EXPECT_EQ(dig.query_mode, Dig::query_mode_t::nsid);
  EXPECT_TRUE(logged("with name server: 127.53.4.1 error: Global timeout"));
}

}  // namespace
}  // namespace Network_tools::DNS_experience
