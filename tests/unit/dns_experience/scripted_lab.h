// The DNS lab as the engine's unit tests see it: a DNS experience wrapper whose dig queries are
// answered with texts recorded from the lab, chosen by the words of each command line, with
// the lab's two machine resolvers, a scripted host lookup and scripted random draws.
#ifndef NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_SCRIPTED_LAB_H_
#define NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_SCRIPTED_LAB_H_

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dns_experience/wrapper.h"
#include "support/fake_tools.h"

namespace Network_tools::DNS_experience::testing_support {

using namespace Network_tools::testing_support;

// Reaches the driver's state, as a test must.
struct Staged_engine : Wrapper {
  using Wrapper::Wrapper;
  // Moves the test start `seconds` into the past, as if that much time had gone by.
  void age(int seconds) { start_time_.tv_sec -= seconds; }
  void at_level(int level) { level_ = level; }
  // The dig wrapper and the cache, as the start of a run creates them.
  void start() { start_run(); }
  Cache& cache() { return *cache_; }
  std::string raw_text() const { return raw_output_.str(); }
};

// One scripted answer: the recorded file (or text) that answers a command line holding every
// one of `words`; `before` runs first (to age the test, say).
struct Rule {
  std::vector<std::string> words;
  std::string file;
  int exit_status = 0;
  std::function<void()> before = {};
};

// Answers for the resolution of www.lab.test, its HTTPS record, and the aliases of alias.test
// into lab.test and lab.example. Servers are chosen by the draws, which pick the last
// candidate unless a test scripts them: a.root-servers (127.53.1.1), ns1.nic.test (.2.1),
// ns1.lab.test (.4.1), ns1.nic.example (.3.1), ns2.lab.example (.4.4).
inline std::vector<Rule> lab_rules() {
  return {
      {{"@127.53.0.53 +noedns -t ns . "}, "dig_root_servers.txt"},
      {{"-t ns test. "}, "dig_referral_root.txt"},
      {{"-t ns example. "}, "dig_referral_root_example.txt"},
      {{"@127.53.2.", "alias.test. "}, "dig_referral_tld_alias.txt"},
      {{"@127.53.2.", "lab.test. "}, "dig_referral_tld.txt"},
      {{"@127.53.3.", "lab.example. "}, "dig_referral_tld_example.txt"},
      {{"hostname.bind"}, "dig_hostname_bind.txt"},
      {{"@127.53.4.1", "-t a www.lab.test. "}, "dig_authoritative_answer.txt"},
      {{"@127.53.4.1", "-t https www.lab.test. "}, "dig_https_service.txt"},
      {{"@127.53.4.", "www.lab.example. "}, "dig_authoritative_answer_example.txt"},
      {{"c1.alias.test. "}, "dig_cname_chain.txt"},
      {{"to-example.alias.test. "}, "dig_cname_other_tld.txt"},
      {{"https.alias.test. "}, "dig_https_alias.txt"},
  };
}

// A test's lab: builds wrappers from command lines and answers their queries by `rules` (the
// first that matches wins; a command no rule matches fails the test).
class Scripted_lab : public ::testing::Test {
 protected:
  // A wrapper for `arguments` ("-j www.lab.test"), with every hook in place.
  std::unique_ptr<Staged_engine> engine(const std::string& arguments) {
    std::vector<std::string> words = split("dns_experience " + arguments, ' ');
    std::erase(words, "");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    auto wrapper = std::make_unique<Staged_engine>(static_cast<int>(words.size()), argv.data(),
                                                   logger, tools.path());
    logger.set_minimum_level(LEVEL_DEBUG);
    install(*wrapper);
    return wrapper;
  }

  // A wrapper for the JSON document with these capabilities (besides the URL of www.lab.test)
  // and settings.
  std::unique_ptr<Staged_engine> engine_from_document(const std::string& capabilities,
                                                      const std::string& settings = "") {
    std::stringbuf input(R"({"Capabilities":{"test.common.url":"qv-dns-exp://www.lab.test",)" +
                         capabilities + R"(},"Settings":{)" + settings + "}}\n");
    auto wrapper = std::make_unique<Staged_engine>(logger, tools.path(), &input);
    logger.set_minimum_level(LEVEL_DEBUG);
    install(*wrapper);
    return wrapper;
  }

  void install(Staged_engine& wrapper) {
    scripted.answer = [this](const std::string& command) { return answer(command); };
    scripted.install(wrapper);
    wrapper.set_resolver_configuration([this] { return resolvers; });
    wrapper.set_host_lookup([this](const std::string& name, resolution_strategy_t) {
      if (on_lookup) on_lookup();
      const auto found = host_addresses.find(name);
      return found == host_addresses.end() ? IP::Address() : IP::Address(found->second);
    });
    wrapper.set_random_source([this]() -> Wrapper::random_draw_t {
      return [this](int low, int high) {
        ranges.push_back({low, high});
        if (draws.empty()) return high;
        const int value = draws.front();
        draws.pop_front();
        return value;
      };
    });
  }

  Reply answer(const std::string& command) {
    for (const Rule& rule : rules) {
      bool all = true;
      for (const std::string& word : rule.words) all = all && command.find(word) != std::string::npos;
      if (!all) continue;
      if (rule.before) rule.before();
      return Reply{rule.file.ends_with(".txt") ? recorded(rule.file) : rule.file, rule.exit_status};
    }
    ADD_FAILURE() << "no scripted answer for " << command;
    return Reply{"dig: unexpected command", 1};
  }

  // The question of each dig command run: "@127.53.1.1 -t ns test.".
  std::vector<std::string> questions() const {
    std::vector<std::string> found;
    for (const std::string& command : scripted.commands) {
      const std::size_t at = command.find(" @");
      const std::size_t end = command.rfind(" 2>&1");
      std::string question = command.substr(at + 1, end - at - 1);
      for (const std::string option : {" +noedns", " +nsid"}) {
        if (const std::size_t cut = question.find(option); cut != std::string::npos) {
          question.erase(cut, option.size());
        }
      }
      found.push_back(question);
    }
    return found;
  }

  bool logged(const std::string& text) const { return log.str().find(text) != std::string::npos; }

  Tool_folder tools;
  std::ostringstream log;
  Logger logger{LEVEL_DEBUG, "", log};
  Scripted_tools scripted;
  std::vector<Rule> rules = lab_rules();
  std::vector<std::string> resolvers = {"127.53.0.53", "127.53.0.54"};
  std::map<std::string, std::string> host_addresses;
  // Runs at each host lookup.
  std::function<void()> on_lookup;
  // Values the next draws return; once empty, each draw returns the top of its range.
  std::deque<int> draws;
  std::vector<std::pair<int, int>> ranges;
};

// The steps of a result document, each as the values of `keys` in its "OtherData" and in its
// server entry (the metric that names the server), joined by " ".
inline std::vector<std::string> step_summaries(const std::string& document,
                                               const std::vector<std::string>& keys) {
  rapidjson::Document parsed;
  parsed.Parse(document.c_str());
  std::vector<std::string> summaries;
  if (!parsed.IsObject() || !parsed.HasMember("MonitorResults")) return summaries;
  for (const auto& step : parsed["MonitorResults"][0]["StepResults"].GetArray()) {
    std::string summary;
    for (const std::string& key : keys) {
      std::string value = "-";
      const auto take = [&](const rapidjson::Value& object) {
        if (!object.IsObject() || !object.HasMember(key.c_str())) return;
        const rapidjson::Value& member = object[key.c_str()];
        value = member.IsString() ? member.GetString() : std::to_string(member.GetInt());
      };
      take(step["OtherData"]);
      for (const auto& metric : step["Metrics"].GetArray()) take(metric["MetricData"]);
      summary += (summary.empty() ? "" : " ") + value;
    }
    summaries.push_back(summary);
  }
  return summaries;
}

}  // namespace Network_tools::DNS_experience::testing_support

#endif  // NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_SCRIPTED_LAB_H_
