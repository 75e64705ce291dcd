// dns_experience run as a user would, inside the lab: every scenario of the lab a DNS experience
// test can meet, checked field by field, and for every run the test duration against its
// levels, the server named by each level and the processes left behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::Lab_run;
using testing_support::run_in_lab;

const std::string tool = testing_support::built_tool("dns_experience");

// The processes whose parent is this one. The test is a child subreaper, so a native tool that
// outlived the run it was started by comes back here.
std::vector<pid_t> own_children() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    char state = 0;
    pid_t parent = 0;
    fields >> state >> parent;
    if (parent == getpid()) children.push_back(std::stoi(name));
  }
  return children;
}

// One run's result document, parsed.
struct Outcome {
  Lab_run run;
  rapidjson::Document document;

  const rapidjson::Value& result() const { return document["MonitorResults"][0]; }
  const rapidjson::Value& steps() const { return result()["StepResults"]; }
  // A test-level entry, or "" when absent.
  std::string test_value(const char* key) const {
    const rapidjson::Value& other = result()["OtherData"];
    if (!other.HasMember(key)) return "";
    return other[key].IsString() ? other[key].GetString() : std::to_string(other[key].GetInt());
  }
  // The server entries (and failure entries) of every step.
  std::vector<const rapidjson::Value*> server_entries(const rapidjson::Value& step) const {
    std::vector<const rapidjson::Value*> entries;
    for (const auto& metric : step["Metrics"].GetArray()) {
      if (metric["MetricData"].HasMember("qv-dns.results.server.name")) {
        entries.push_back(&metric["MetricData"]);
      }
    }
    return entries;
  }
  // Whether any metric of the last step holds `key`.
  bool last_step_has(const char* key) const {
    for (const auto& metric : steps()[steps().Size() - 1]["Metrics"].GetArray()) {
      if (metric["MetricData"].HasMember(key)) return true;
    }
    return false;
  }
};

// A scenario: the arguments after the tool's name, the error key the result carries ("" for
// none, "raw" for raw text, "!" for a run that ends with status 1), the reported levels and
// anything else to check, and the document on standard input.
struct Scenario {
  std::string arguments;
  std::string error;
  unsigned levels = 0;
  std::function<void(const Outcome&)> check = {};
  std::string input = "";
};

class DnsExperienceLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing_support::ensure_lab_up();
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  // Runs the tool and checks what every run must hold.
  Outcome run(const Scenario& scenario) {
    Outcome outcome{run_in_lab(tool + " " + scenario.arguments, scenario.input), {}};
    SCOPED_TRACE(scenario.arguments + "\n" + outcome.run.err);
    const std::vector<pid_t> left = own_children();
    EXPECT_TRUE(left.empty()) << left.size() << " processes left behind";
    for (const pid_t child : left) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    if (scenario.error == "!" || scenario.error == "raw") {
      EXPECT_EQ(outcome.run.status, scenario.error == "raw" ? 0 : 1);
      return outcome;
    }
    EXPECT_EQ(outcome.run.status, 0);
    outcome.document.Parse(outcome.run.out.c_str());
    if (outcome.document.HasParseError() || !outcome.document.HasMember("MonitorResults")) {
      ADD_FAILURE() << "no result document: " << outcome.run.out;
      return outcome;
    }
    EXPECT_EQ(outcome.test_value("common.results.error-code"),
              scenario.error.empty() ? "" : "qv-dns.results.error." + scenario.error);
    check_levels(outcome, scenario.levels);
    if (scenario.check) scenario.check(outcome);
    return outcome;
  }

  // Each reported level names the servers that answered it; the test lasts as long as its
  // levels (a test ended by the overall timeout lasts as long as it ran).
  static void check_levels(const Outcome& outcome, unsigned levels) {
    int summed = 0;
    unsigned last_level = 0;
    for (const auto& step : outcome.steps().GetArray()) {
      last_level = static_cast<unsigned>(step["OtherData"]["qv-dns.results.level-id.number"].GetInt());
      const auto entries = outcome.server_entries(step);
      EXPECT_FALSE(entries.empty()) << "level " << last_level << " names no server";
      for (const rapidjson::Value* entry : entries) {
        EXPECT_NE(std::string((*entry)["qv-dns.results.server.name"].GetString()), "");
        if (entry->HasMember("qv-dns.results.duration.ms")) {
          summed += (*entry)["qv-dns.results.duration.ms"].GetInt();
        }
      }
    }
    EXPECT_EQ(last_level, levels);
    const int total = std::stoi(outcome.test_value("qv-dns.results.duration.ms"));
    if (outcome.test_value("common.results.error-code").ends_with("nameserver-resolution-timeout")) {
      EXPECT_GE(total, summed);
    } else {
      EXPECT_EQ(total, summed);
    }
  }

  std::string folder = [] {
    char pattern[] = "/tmp/dns_experience_lab_XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
};

// The deep chain's name whose zone is K levels below deep.test ("www.dK....d2.deep.test").
std::string deep_name(int k) {
  std::string name = "www";
  for (int zone = k; zone >= 2; --zone) name += ".d" + std::to_string(zone);
  return name + ".deep.test";
}

// The question names of the steps, one per level, in order.
std::function<void(const Outcome&)> asks(std::vector<std::string> names) {
  return [names](const Outcome& outcome) {
    std::vector<std::string> asked;
    for (const auto& step : outcome.steps().GetArray()) {
      const std::string name = step["OtherData"]["qv-dns.results.question.name"].GetString();
      if (asked.empty() || asked.back() != name) asked.push_back(name);
    }
    EXPECT_EQ(asked, names);
  };
}

// A metric of the last level holds `key`.
std::function<void(const Outcome&)> answer_has(const char* key) {
  return [key](const Outcome& outcome) { EXPECT_TRUE(outcome.last_step_has(key)) << key; };
}

TEST_F(DnsExperienceLabTest, EveryScenarioEndsWithItsLevelsAndItsError) {
  const std::string fast = "-j -w 1000 -r 1 ";
  const std::vector<Scenario> scenarios = {
      {"-j www.lab.test", "", 2, asks({"www.lab.test."})},
      {"-j www.lab.example", "", 2},
      {"-j -t mx lab.test", "", 2},
      {"-j -t TXT lab.test", "", 2},
      {"-j -t aaaa mail.lab.test", "no-valid-answers", 2},
      {"-j multi.lab.test", "", 2,
       [](const Outcome& outcome) {
         int answers = 0;
         for (const auto& metric : outcome.steps()[1]["Metrics"].GetArray()) {
           answers += metric["MetricData"].HasMember("qv-dns.results.answer.info") ? 1 : 0;
         }
         EXPECT_EQ(answers, 3);
       }},
      {"-j nx.lab.test", "nx-domain", 2},
      {"-j nodata.lab.test", "no-valid-answers", 2},
      {fast + "www.timeout.test", "timeout", 2},
      {fast + "-f www.timeout.test", "timeout", 2},
      {"-j www.closed.test", "nameserver-unreachable", 2},
      {"-j www.refused.test", "refused", 2},
      {"-j -f www.refused.test", "refused", 2},
      {"-j www.servfail.test", "serv-fail", 2},
      {"-j www.lame.test", "refused", 2},
      {"-j -f www.halflame.test", "", 2, answer_has("qv-dns.results.answer.info")},
      {fast + "-f -r 2 www.stalled.test", "timeout", 2},
      // Both servers fail in turn; the second failure ends the test past its 1 s.
      {fast + "-f -r 2 -Q 1 www.stalled.test", "nameserver-resolution-timeout", 2},
      {"-j www.glueless.test", "", 2},
      {"-j cname.alias.test", "", 2, asks({"cname.alias.test."})},
      {"-j c1.alias.test", "", 2, asks({"c1.alias.test."})},
      {"-j to-lab.alias.test", "", 4, asks({"to-lab.alias.test.", "www.lab.test."})},
      {"-j to-example.alias.test", "", 4, asks({"to-example.alias.test.", "www.lab.example."})},
      {"-j to-test.alias.example", "", 4, asks({"to-test.alias.example.", "www.alias.test."})},
      {"-j loop1.alias.test", "serv-fail", 2},
      {"-j xloop.alias.test", "too-many-cname-traversal", 12},
      {"-j -t https https.alias.test", "", 4, asks({"https.alias.test.", "www.lab.test."})},
      {"-j -t svcb svc.alias.test", "", 4, asks({"svc.alias.test.", "svc.lab.example."})},
      {"-j -t https https-service.alias.test", "", 2},
      {"-j -t cname to-example.alias.test", "", 2},
      // Nine aliases resolve, ten are one too many.
      {"-j hop4.chain.example", "", 13},
      {"-j hop3.chain.test", "too-many-cname-traversal", 12},
      // The top-level domain and fifteen zones make sixteen reported levels; one more is too many.
      {"-j " + deep_name(15), "", 16},
      {"-j " + deep_name(16), "too-many-levels", 16},
      {"-j -t ptr 127.53.4.1", "", 1, asks({"1.4.53.127.in-addr.arpa."})},
      {"-j -t PTR 1.4.53.127.in-addr.arpa", "", 1, answer_has("qv-dns.results.answer.info")},
      {"-j -T www.lab.test", "", 2,
       [](const Outcome& outcome) {
         EXPECT_EQ(std::string(outcome.steps()[1]["OtherData"]["qv-dns.results.protocol"].GetString()),
                   "TCP");
       }},
      {"-j -S www.lab.test", "", 2, answer_has("qv-dns.results.nsid")},
      {"-j -s 127.53.200.9/24 www.lab.test", "", 2,
       [](const Outcome& outcome) {
         EXPECT_EQ(outcome.test_value("qv-dns.results.edns-client-subnet"), "127.53.200.0/24");
       }},
      {"-j -H www.lab.test", "", 2, answer_has("qv-dns.results.hostname-bind")},
      // Shell syntax in the input is data: the name is asked as it is, nothing runs.
      {"", "nx-domain", 2,
       [](const Outcome& outcome) {
         EXPECT_EQ(outcome.run.err.find("uid="), std::string::npos);
         EXPECT_NE(outcome.run.err.find("-t 'a;id' 'x$(id>&2).lab.test.'"), std::string::npos);
       },
       R"({"Capabilities":{"test.common.url":"qv-dns-exp://x$(id>&2).lab.test",)"
       R"("qv-dns.test.query-type":"a;id"},"Settings":{}})"
       "\n"},
  };
  for (const Scenario& scenario : scenarios) run(scenario);
}

TEST_F(DnsExperienceLabTest, CachedLevelsAreMarkedAndTakeNoTime) {
  const std::string cache = folder + "/cache.dat";
  const std::string arguments = "-j -d -c -C " + cache + " www.lab.test";
  run({arguments, "", 2});
  const Outcome warm = run({arguments, "", 2, [](const Outcome& outcome) {
                              const auto cached = outcome.server_entries(outcome.steps()[0]);
                              ASSERT_EQ(cached.size(), 1u);
                              EXPECT_TRUE((*cached[0])["qv-dns.results.cached"].GetBool());
                              EXPECT_EQ((*cached[0])["qv-dns.results.duration.ms"].GetInt(), 0);
                            }});
  // Levels 1 to 3 come from the cache: one query is left.
  std::size_t queries = 0;
  for (std::size_t at = 0; (at = warm.run.err.find("[NATIVE INPUT]", at)) != std::string::npos; ++at) {
    ++queries;
  }
  EXPECT_EQ(queries, 1u);

  // With the bias the servers' times from the earlier runs are read.
  const Outcome biased = run({"-j -d -b -C " + cache + " www.lab.test", "", 2});
  EXPECT_NE(biased.run.err.find("for nameserver: ns"), std::string::npos);
}

TEST_F(DnsExperienceLabTest, RawTextAndTheTestTypeNotBuiltYet) {
  const Outcome plain = run({"www.lab.test", "raw"});
  EXPECT_NE(plain.run.out.find("## Level 1\n##  nameserver: 127.53.2."), std::string::npos);
  EXPECT_NE(plain.run.out.find(";; ANSWER SECTION:\nwww.lab.test."), std::string::npos);
  EXPECT_TRUE(std::regex_search(plain.run.out, std::regex("\n## Test time: [0-9]+ms\n$")));

  const Outcome alias = run({"to-example.alias.test", "raw"});
  EXPECT_NE(alias.run.out.find("## Level 3 (alias resolution 1)\n"), std::string::npos);
  EXPECT_NE(alias.run.out.find("www.lab.example.\t300\tIN\tA\t127.53.100.11"), std::string::npos);

  const Outcome traversal = run({"-j -g www.lab.test", "!", 0});
  EXPECT_EQ(traversal.run.out, "");
  EXPECT_NE(traversal.run.err.find("Internal error: DNS traversal is not available in this build"),
            std::string::npos);
}

// A test stopped (SIGTERM) while it stores its cache file leaves a file the next run reads
// whole: the store completes before the signal ends the process.
TEST_F(DnsExperienceLabTest, ARunStoppedWhileItStoresLeavesTheCacheWhole) {
  const std::string cache = folder + "/cache.dat";
  const std::string seed_json(5000, 'j');
  Logger quiet(LEVEL_ERROR);
  {
    // Big enough for the store to take a while; below the 10000 entries a run keeps.
    DNS_experience::Cache seed(quiet, cache, 10000000);
    const std::vector<DNS_experience::ServerInfo> servers = {
        {"ns1.lab.test.", IP::Address("127.53.4.1"), -1}};
    for (int entry = 0; entry < 9000; ++entry) {
      seed.set_cache_answer("seed" + std::to_string(entry) + ".test.", servers, 86400, "",
                            seed_json);
    }
  }
  struct stat loaded {};
  ASSERT_EQ(stat(cache.c_str(), &loaded), 0);

  const std::string err = folder + "/err";
  const pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    // The lab script and ip both exec: the process signalled below is the tool itself.
    freopen("/dev/null", "w", stdout);
    freopen(err.c_str(), "w", stderr);
    const std::string dnslab = std::string(NT_SOURCE_DIR) + "/lab/dnslab";
    execl(dnslab.c_str(), dnslab.c_str(), "exec", tool.c_str(), "-j", "-C", cache.c_str(),
          "www.lab.test", static_cast<char*>(nullptr));
    _exit(127);
  }
  // The store has begun once the file changes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  struct stat now {};
  while (std::chrono::steady_clock::now() < deadline && stat(cache.c_str(), &now) == 0 &&
         now.st_ctim.tv_sec == loaded.st_ctim.tv_sec && now.st_ctim.tv_nsec == loaded.st_ctim.tv_nsec) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(run, SIGTERM);
  int status = 0;
  waitpid(run, &status, 0);
  std::ifstream err_file(err);
  const std::string err_text((std::istreambuf_iterator<char>(err_file)), {});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << err_text;
  EXPECT_NE(err_text.find("Terminated"), std::string::npos) << err_text;

  std::ostringstream log;
  Logger logger(LEVEL_DEBUG, "", log);
  DNS_experience::Cache next(logger, cache, 10000000);
  EXPECT_NE(log.str().find("Cache loaded correctly"), std::string::npos) << log.str();
  EXPECT_GE(next.answer_count(), 9000u);
  std::vector<DNS_experience::ServerInfo> servers;
  std::string raw, json;
  EXPECT_TRUE(next.get_cached_answer("seed8999.test.", DNS_experience::Cache::servers_and_json,
                                     servers, raw, json));
  EXPECT_EQ(json, seed_json);
}

}  // namespace
}  // namespace Network_tools
