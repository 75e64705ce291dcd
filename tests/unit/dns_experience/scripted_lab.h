// The DNS lab as the engine's unit tests see it: dig queries answered with texts recorded from the
// lab, chosen by the words of each command line; the lab's two resolvers; scripted host lookups
// and random draws.
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
  // As if `seconds` more had gone by since the test started.
  void age(int seconds) { start_time_.tv_sec -= seconds; }
  void at_level(int level) { level_ = level; }
  // Creates the dig wrapper and the cache, as the start of a run does.
  void start() { start_run(); }
  Cache& cache() { return *cache_; }
  Parameters& parameters() { return parameters_; }
};

// The file (or text) that answers a command line holding all `words`; `before` runs first.
struct Rule {
  std::vector<std::string> words;
  std::string file;
  int exit_status = 0;
  std::function<void()> before = {};
};

// Unless draws are scripted, each level asks the last server listed: a.root-servers (127.53.1.1),
// ns1.nic.test (.2.1), ns1.lab.test (.4.1), ns1.nic.example (.3.1), ns2.lab.example (.4.4).
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
      {{"to-example.alias.test. "}, "dig_cname_other_tld.txt"},
      {{"https.alias.test. "}, "dig_https_alias.txt"},
  };
}

class Scripted_lab : public ::testing::Test {
 protected:
  // A wrapper for the command line `arguments` ("-j www.lab.test") with every hook in place.
  std::unique_ptr<Staged_engine> engine(const std::string& arguments) {
    std::vector<std::string> words = split("dns_experience " + arguments, ' ');
    std::erase(words, "");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    return install(std::make_unique<Staged_engine>(static_cast<int>(words.size()), argv.data(),
                                                   logger, tools.path()));
  }
  std::unique_ptr<Staged_engine> install(std::unique_ptr<Staged_engine> wrapper) {
    logger.set_minimum_level(LEVEL_DEBUG);
    scripted.answer = [this](const std::string& command) {
      for (const Rule& rule : rules) {
        bool all = true;
        for (const std::string& word : rule.words)
          all = all && command.find(word) != std::string::npos;
        if (!all) continue;
        if (rule.before) rule.before();
        return Reply{rule.file.ends_with(".txt") ? recorded(rule.file) : rule.file,
                     rule.exit_status};
      }
      ADD_FAILURE() << "no scripted answer for " << command;
      return Reply{"dig: unexpected command", 1};
    };
    scripted.install(*wrapper);
    wrapper->set_resolver_configuration([this] { return resolvers; });
    wrapper->set_host_lookup([this](const std::string& name, resolution_strategy_t) {
      if (on_lookup) on_lookup();
      const auto found = host_addresses.find(name);
      return found == host_addresses.end() ? IP::Address() : IP::Address(found->second);
    });
    wrapper->set_random_source([this]() -> Wrapper::random_draw_t {
      return [this](int, int high) {
        if (draws.empty()) return high;
        const int value = draws.front();
        draws.pop_front();
        return value;
      };
    });
    return wrapper;
  }

  // The server and question of each dig command run: "@127.53.1.1 -t ns test.".
  std::vector<std::string> questions() const {
    std::vector<std::string> found;
    for (std::string command : scripted.commands) {
      if (const std::size_t cut = command.find(" +noedns"); cut != std::string::npos) {
        command.erase(cut, 8);
      }
      const std::size_t at = command.find(" @") + 1;
      found.push_back(command.substr(at, command.rfind(" 2>&1") - at));
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
  std::function<void()> on_lookup;
  // What the next draws return; once empty, each draw returns the top of its range.
  std::deque<int> draws;
};

// The "##" lines of a raw text.
inline std::vector<std::string> headings(const std::string& text) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("##")) found.push_back(line);
  }
  return found;
}

// Per reported level "LEVEL QUESTION SERVER MILLISECONDS", then "test MILLISECONDS ERROR".
inline std::vector<std::string> levels_of(const std::string& document) {
  rapidjson::Document parsed;
  parsed.Parse(document.c_str());
  std::vector<std::string> lines;
  const auto text = [](const rapidjson::Value& object, const char* key) -> std::string {
    if (!object.HasMember(key)) return "";
    return object[key].IsString() ? object[key].GetString() : std::to_string(object[key].GetInt());
  };
  for (const auto& step : parsed["MonitorResults"][0]["StepResults"].GetArray()) {
    std::string server;
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      if (data.HasMember("qv-dns.results.server.name")) {
        server = text(data, "qv-dns.results.server.name") + " " +
                 text(data, "qv-dns.results.duration.ms");
      }
    }
    lines.push_back(text(step["OtherData"], "qv-dns.results.level-id.number") + " " +
                    text(step["OtherData"], "qv-dns.results.question.name") + " " + server);
  }
  const rapidjson::Value& other = parsed["MonitorResults"][0]["OtherData"];
  const std::string error = text(other, "common.results.error-code");
  lines.push_back("test " + text(other, "qv-dns.results.duration.ms") + " " +
                  (error.empty() ? "-" : error.substr(error.rfind('.') + 1)));
  return lines;
}

}  // namespace Network_tools::DNS_experience::testing_support

#endif  // NETWORK_TOOLS_TESTS_DNS_EXPERIENCE_SCRIPTED_LAB_H_
