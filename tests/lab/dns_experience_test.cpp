// dns_experience run as a user would, inside the lab: every scenario of the lab a DNS experience
// test can meet, and for every run the test duration against its levels, the server named by
// each level and the processes left behind; a run stopped while it stores its cache.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../unit/support/processes.h"
#include "dns_experience/cache/cache.h"
#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::Lab_run;

const std::string tool = testing_support::built_tool("dns_experience");

// The processes whose parent is this one. The test is a child subreaper: a native tool that
// outlived the run that started it comes back here.
std::vector<pid_t> own_children() {
  std::vector<pid_t> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
    char state = 0;
    pid_t parent = 0;
    std::istringstream(line.substr(line.rfind(')') + 2)) >> state >> parent;
    if (parent == getpid()) children.push_back(std::stoi(entry.path().filename()));
  }
  return children;
}

// A run: the arguments after the tool's name; the error its result carries ("" for none; "raw"
// for raw text, "!" for a run that ends with status 1: no document is checked); the reported
// levels; texts the output or the log must show, and one they must not; standard input.
struct Scenario {
  std::string arguments;
  std::string error = "";
  int levels = 0;
  std::vector<std::string> shows = {};
  std::string hides = "";
  std::string input = "";
};

class DnsExperienceLabTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing_support::ensure_lab_up();
    prctl(PR_SET_CHILD_SUBREAPER, 1);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  Lab_run run(const Scenario& scenario) { return run_together({scenario})[0]; }

  // Runs the scenarios at once (most of their time goes to waiting for servers that never
  // answer), then checks each.
  std::vector<Lab_run> run_together(const std::vector<Scenario>& scenarios) {
    std::vector<std::future<Lab_run>> started;
    for (const Scenario& scenario : scenarios) {
      started.push_back(std::async(std::launch::async, [&scenario] {
        return testing_support::run_tool_in_lab("dns_experience", scenario.arguments,
                                                scenario.input);
      }));
    }
    std::vector<Lab_run> done;
    for (std::future<Lab_run>& run : started) done.push_back(run.get());
    expect_no_process_left();
    for (std::size_t at = 0; at < scenarios.size(); ++at) check(scenarios[at], done[at]);
    return done;
  }

  static void expect_no_process_left() {
    for (const pid_t child : own_children()) {
      ADD_FAILURE() << "a process was left behind";
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
  }

  static void check(const Scenario& scenario, const Lab_run& done) {
    SCOPED_TRACE(scenario.arguments + scenario.input + "\n" + done.out + done.err);
    for (const std::string& text : scenario.shows) {
      EXPECT_NE((done.out + done.err).find(text), std::string::npos) << text;
    }
    if (!scenario.hides.empty()) {
      EXPECT_EQ((done.out + done.err).find(scenario.hides), std::string::npos);
    }
    EXPECT_EQ(done.status, scenario.error == "!" ? 1 : 0);
    if (scenario.error != "!" && scenario.error != "raw") check_result(done.out, scenario);
  }

  // Each reported level names the server that answered (or failed), and the test lasts as long
  // as its levels, unless the overall timeout ended it (it then lasts as long as it ran).
  static void check_result(const std::string& out, const Scenario& scenario) {
    rapidjson::Document document;
    document.Parse(out.c_str());
    ASSERT_TRUE(!document.HasParseError() && document.HasMember("MonitorResults"));
    const rapidjson::Value& result = document["MonitorResults"][0];
    int summed = 0, level = 0;
    for (const auto& step : result["StepResults"].GetArray()) {
      level = step["OtherData"]["qv-dns.results.level-id.number"].GetInt();
      int servers = 0;
      for (const auto& metric : step["Metrics"].GetArray()) {
        const rapidjson::Value& data = metric["MetricData"];
        if (!data.HasMember("qv-dns.results.server.name")) continue;
        servers += std::string(data["qv-dns.results.server.name"].GetString()).empty() ? 0 : 1;
        if (data.HasMember("qv-dns.results.duration.ms")) {
          summed += data["qv-dns.results.duration.ms"].GetInt();
        }
      }
      EXPECT_GT(servers, 0) << "level " << level << " names no server";
    }
    EXPECT_EQ(level, scenario.levels);
    const rapidjson::Value& other = result["OtherData"];
    const std::string error = other.HasMember("common.results.error-code")
                                  ? other["common.results.error-code"].GetString()
                                  : "qv-dns.results.error.";
    EXPECT_EQ(error, "qv-dns.results.error." + scenario.error);
    const int total = other["qv-dns.results.duration.ms"].GetInt();
    EXPECT_TRUE(error.ends_with("resolution-timeout") ? total >= summed : total == summed);
  }

  std::string folder = [] {
    char pattern[] = "/tmp/dns_experience_lab_XXXXXX";
    return std::string(mkdtemp(pattern));
  }();
};

// The deep chain's name whose zone lies K levels below deep.test ("www.dK....d2.deep.test").
std::string deep_name(int k) {
  std::string name = "www";
  for (int zone = k; zone >= 2; --zone) name += ".d" + std::to_string(zone);
  return name + ".deep.test";
}

// The output asks `name` at some level.
std::string asks(const std::string& name) {
  return R"("qv-dns.results.question.name":")" + name + "\"";
}

TEST_F(DnsExperienceLabTest, EveryScenarioEndsWithItsLevelsAndItsError) {
  const std::string fast = "-j -w 1000 -r 1 ";
  const std::vector<Scenario> scenarios = {
      {"-j www.lab.test", "", 2, {R"("qv-dns.results.answer.info":"127.53.100.1")"}},
      {"-j www.lab.example", "", 2},
      {"-j -t mx lab.test", "", 2, {"10 mail.lab.test."}},
      {"-j -t TXT lab.test", "", 2, {"dnslab: signed domain"}},
      {"-j -t aaaa mail.lab.test", "no-valid-answers", 2},
      {"-j multi.lab.test", "", 2, {"127.53.100.3", "127.53.100.4", "127.53.100.5"}},
      {"-j nx.lab.test", "nx-domain", 2},
      {"-j nodata.lab.test", "no-valid-answers", 2},
      // The dig wrapper's failure passes on its key once.
      {fast + "www.timeout.test",
       "timeout",
       2,
       {"timed out (qv-dns.results.error.timeout)\""},
       "(qv-dns.results.error.timeout) ("},
      {fast + "-f www.timeout.test", "timeout", 2},
      {"-j www.closed.test", "nameserver-unreachable", 2},
      {"-j www.refused.test", "refused", 2},
      {"-j -f www.refused.test", "refused", 2},
      {"-j www.servfail.test", "serv-fail", 2},
      {"-j www.lame.test", "refused", 2},
      {"-j -f www.halflame.test", "", 2, {"127.53.100.61"}},
      {fast + "-f -r 2 www.stalled.test", "timeout", 2},
      // The first server times out; the overall 1 s is over before the second is asked.
      {fast + "-f -r 2 -Q 1 www.stalled.test", "nameserver-resolution-timeout", 2},
      {"-j www.glueless.test", "", 2, {"ns1.dom.example.", "127.53.100.51"}},
      {"-j cname.alias.test", "", 2, {"127.53.100.41"}, asks("www.alias.test.")},
      {"-j c1.alias.test", "", 2, {"127.53.100.41"}, asks("www.alias.test.")},
      {"-j to-lab.alias.test", "", 4, {asks("www.lab.test."), "127.53.100.1"}},
      {"-j to-example.alias.test", "", 4, {asks("www.lab.example."), "127.53.100.11"}},
      {"-j to-test.alias.example", "", 4, {asks("www.alias.test."), "127.53.100.41"}},
      {"-j loop1.alias.test", "serv-fail", 2},
      {"-j xloop.alias.test", "too-many-cname-traversal", 12},
      {"-j -t https https.alias.test", "", 4, {asks("www.lab.test."), R"(1 . alpn=\"h2\")"}},
      {"-j -t svcb svc.alias.test", "", 4, {asks("svc.lab.example."), "port=8443"}},
      {"-j -t https https-service.alias.test", "", 2, {R"(1 . alpn=\"h2\")"}},
      {"-j -t cname to-example.alias.test", "", 2, {}, asks("www.lab.example.")},
      // Nine aliases resolve, ten are one too many.
      {"-j hop4.chain.example", "", 13, {"127.53.100.1"}},
      {"-j hop3.chain.test", "too-many-cname-traversal", 12},
      // The top-level domain and fifteen zones make sixteen reported levels; one more is too many.
      {"-j " + deep_name(15), "", 16, {"127.53.101.15"}},
      {"-j " + deep_name(16), "too-many-levels", 16},
      {"-j -t ptr 127.53.4.1", "", 1, {asks("1.4.53.127.in-addr.arpa."), "ns1.dom.test."}},
      {"-j -t PTR 1.4.53.127.in-addr.arpa", "", 1, {"ns1.dom.test."}},
      // A reverse lookup is one query: its failure ends the test, even with -f.
      {"-j -f -t ptr 127.53.77.77", "!", 0, {"qv-dns.results.error.nx-domain"}},
      {"-j -T www.lab.test", "", 2, {R"("qv-dns.results.protocol":"TCP")"}},
      {"-j -S www.lab.test", "", 2, {R"("qv-dns.results.nsid":"dom-test-)"}},
      {"-j -s 127.53.200.9/24 www.lab.test",
       "",
       2,
       {R"("qv-dns.results.edns-client-subnet":"127.53.200.0/24")"}},
      {"-j -H www.lab.test", "", 2, {R"("qv-dns.results.hostname-bind":"\"dom-test-)"}},
      {"www.lab.test",
       "raw",
       0,
       {"## Level 1\n##  nameserver: 127.53.2.", ";; ANSWER SECTION:\nwww.lab.test."}},
      {"to-example.alias.test",
       "raw",
       0,
       {"## Level 3 (alias resolution 1)\n", "www.lab.example.\t300\tIN\tA\t127.53.100.11"}},
      // Traversal tests: a reverse lookup asks one server; a server that refuses the connection
      // says so; the raw text shows every server.
      {"-g -j -t ptr 127.53.4.1", "", 1, {"ns1.dom.test."}},
      {"-g -j -x 1 -p 1 -P 1 www.closed.test",
       "nameserver-unreachable",
       2,
       {R"("qv-dns.results.status":"qv-dns.results.error.nameserver-unreachable")"}},
      {"-g www.lab.test",
       "raw",
       0,
       {"##  nameserver: 127.53.4.1 [ns1.lab.test.]",
        "##  nameserver: 127.53.4.2 [ns2.lab.test.]"}},
  };
  for (const Scenario& scenario : scenarios) run(scenario);
  EXPECT_TRUE(std::regex_search(run({"www.lab.test", "raw"}).out,
                                std::regex("\n## Test time: [0-9]+ms\n$")));
}

// Per server entry of a result, sorted: "LEVEL ANSWERS NAME STATUS PING", ANSWERS being the
// answers of its group ("-" for none) and PING "rtt" when round-trip times were measured, the
// last word of the ping's error, or "-" when the server was not pinged. Every entry must carry
// its duration.
std::vector<std::string> servers_of(const std::string& out) {
  rapidjson::Document document;
  document.Parse(out.c_str());
  std::vector<std::string> servers;
  if (document.HasParseError()) return servers;
  const auto last_word = [](const std::string& key) { return key.substr(key.rfind('.') + 1); };
  for (const auto& step : document["MonitorResults"][0]["StepResults"].GetArray()) {
    std::string answers;
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      if (data.HasMember("qv-dns.results.answer.info")) {
        answers += (answers.empty() ? "" : ",") +
                   std::string(data["qv-dns.results.answer.info"].GetString());
      }
    }
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      if (!data.HasMember("qv-dns.results.server.name")) continue;
      const std::string name = data["qv-dns.results.server.name"].GetString();
      EXPECT_TRUE(data.HasMember("qv-dns.results.duration.ms")) << name;
      std::string ping = "-";
      if (data.HasMember("qv-dns.results.server.ping.error-code")) {
        ping = last_word(data["qv-dns.results.server.ping.error-code"].GetString());
      } else if (data.HasMember("qv-dns.results.server.ping.round-trip-times")) {
        ping = "rtt";
      }
      servers.push_back(
          std::to_string(step["OtherData"]["qv-dns.results.level-id.number"].GetInt()) + " " +
          (answers.empty() ? "-" : answers) + " " + name + " " +
          last_word(data["qv-dns.results.status"].GetString()) + " " + ping);
    }
  }
  std::sort(servers.begin(), servers.end());
  return servers;
}

// "1 - nsK.nic.DOMAIN. STATUS PING" for K in [first, last].
std::vector<std::string> tld_servers(const std::string& domain, int first, int last,
                                     const std::string& status, const std::string& ping) {
  std::vector<std::string> servers;
  for (int k = first; k <= last; ++k) {
    servers.push_back("1 - ns" + std::to_string(k) + ".nic." + domain + ". " + status + " " + ping);
  }
  return servers;
}

TEST_F(DnsExperienceLabTest, TraversalsReportEveryServerAndPingTheLastLevels) {
  const std::string fast = "-g -j -w 1000 -r 1 -p 2 -P 1 ";
  const std::string outage = R"("qv-dns.results.is-network-outage-detected":true)";
  const std::string no_outage = R"("qv-dns.results.is-network-outage-detected":false)";
  const std::vector<Scenario> scenarios = {
      {fast + "www.lab.test", "", 2, {no_outage}},
      {fast + "www.halflame.test", "refused", 2},
      // Every top-level-domain server timed out: an outage, and nothing is pinged.
      {fast + "-O www.lab.outage", "timeout", 1, {outage}},
      // Without detection, or with two of the eight ignored (six do not make the minimum of
      // seven), the servers are pinged and their pings fail.
      {fast + "www.lab.outage", "timeout", 1, {no_outage}},
      {fast + "-O -I ns1.nic.outage.,ns2.nic.outage. www.lab.outage", "timeout", 1, {no_outage}},
      // One of eight answered: the test goes on, no outage.
      {fast + "-O www.lab.flaky", "", 2, {no_outage}},
      {fast + "-x 1 www.groups.test", "", 2},
      {fast + "-x 5 www.groups.test", "", 2},
  };
  const std::vector<Lab_run> done = run_together(scenarios);
  using servers = std::vector<std::string>;
  EXPECT_EQ(
      servers_of(done[0].out),
      (servers{"1 - ns1.nic.test. none -", "1 - ns2.nic.test. none -",
               "2 127.53.100.1 ns1.lab.test. none rtt", "2 127.53.100.1 ns2.lab.test. none rtt"}));
  EXPECT_EQ(servers_of(done[1].out),
            (servers{"1 - ns1.nic.test. none -", "1 - ns2.nic.test. none -",
                     "2 - ns1.halflame.test. refused rtt",
                     "2 127.53.100.61 ns2.halflame.test. none rtt"}));
  EXPECT_EQ(servers_of(done[2].out), tld_servers("outage", 1, 8, "timeout", "-"));
  EXPECT_EQ(servers_of(done[3].out), tld_servers("outage", 1, 8, "timeout", "timeout"));
  EXPECT_EQ(servers_of(done[4].out), servers_of(done[3].out));
  servers flaky = tld_servers("flaky", 1, 7, "timeout", "-");
  flaky.insert(flaky.end(), {"1 - ns8.nic.flaky. none -", "2 127.53.100.71 ns1.lab.flaky. none rtt",
                             "2 127.53.100.71 ns2.lab.flaky. none rtt"});
  EXPECT_EQ(servers_of(done[5].out), flaky);
  // Two groups, whatever the number of threads.
  EXPECT_EQ(servers_of(done[6].out),
            (servers{"1 - ns1.nic.test. none -", "1 - ns2.nic.test. none -",
                     "2 127.53.100.81 ns1.groups.test. none rtt",
                     "2 127.53.100.81 ns2.groups.test. none rtt",
                     "2 127.53.100.82 ns3.groups.test. none rtt"}));
  EXPECT_EQ(servers_of(done[7].out), servers_of(done[6].out));
}

// A traversal result as a sorted list, one line per server entry, with everything but the
// times: "LEVEL GROUP-RECORDS NAME ADDRESS PORT STATUS FLAGS BYTES PING", then the test's error
// and outage verdict. The order of servers within a level (the order of the referral, which the
// servers shuffle) and the TTLs of the first answer of a group do not count.
std::vector<std::string> traversal_without_times(const std::string& out) {
  rapidjson::Document document;
  document.Parse(out.c_str());
  std::vector<std::string> lines;
  if (document.HasParseError()) return lines;
  const auto text = [](const rapidjson::Value& data, const char* key) -> std::string {
    if (!data.HasMember(key)) return "-";
    return data[key].IsString() ? data[key].GetString() : std::to_string(data[key].GetInt());
  };
  const rapidjson::Value& result = document["MonitorResults"][0];
  for (const auto& step : result["StepResults"].GetArray()) {
    std::vector<std::string> records;
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      for (const char* section : {"answer", "authority"}) {
        const std::string prefix = std::string("qv-dns.results.") + section;
        if (!data.HasMember((prefix + ".name").c_str())) continue;
        records.push_back(text(data, (prefix + ".name").c_str()) + "=" +
                          text(data, (prefix + ".info").c_str()));
      }
    }
    std::sort(records.begin(), records.end());
    std::string group;
    for (const std::string& record : records) group += record + ",";
    for (const auto& metric : step["Metrics"].GetArray()) {
      const rapidjson::Value& data = metric["MetricData"];
      if (!data.HasMember("qv-dns.results.server.name")) continue;
      std::string line = text(step["OtherData"], "qv-dns.results.level-id.number") + " " + group;
      for (const char* key :
           {"qv-dns.results.server.name", "qv-dns.results.server.address",
            "qv-dns.results.server.port", "qv-dns.results.status", "qv-dns.results.flags",
            "qv-dns.results.received-bytes", "qv-dns.results.server.ping.error-code"}) {
        line += " " + text(data, key);
      }
      lines.push_back(line + (data.HasMember("qv-dns.results.duration.us") ? "" : " untimed"));
    }
  }
  std::sort(lines.begin(), lines.end());
  lines.push_back(
      text(result["OtherData"], "common.results.error-code") + " " +
      (out.find(R"("qv-dns.results.is-network-outage-detected":true)") != std::string::npos
           ? "outage"
           : "no outage"));
  return lines;
}

TEST_F(DnsExperienceLabTest, TraversalLevelsAskedAtOnceGiveTheResultOfServersAskedInTurn) {
  const std::string fast = "-g -j -w 1000 -r 1 -p 1 -P 1 -x 8 ";
  const std::vector<Scenario> in_turn = {
      {fast + "www.lab.test", "", 2},
      {fast + "www.groups.test", "", 2},
      {fast + "-T www.halflame.test", "refused", 2},
      // A traversal test stops at the alias.
      {fast + "to-example.alias.test", "", 2},
      {fast + "-O www.lab.flaky", "", 2},
      {fast + "-O www.lab.outage", "timeout", 1},
  };
  std::vector<Scenario> both = in_turn;
  for (Scenario scenario : in_turn) {
    scenario.arguments = "-G " + scenario.arguments;
    both.push_back(scenario);
  }
  const std::vector<Lab_run> done = run_together(both);
  for (std::size_t at = 0; at < in_turn.size(); ++at) {
    const std::vector<std::string> expected = traversal_without_times(done[at].out);
    EXPECT_GT(expected.size(), 1u) << in_turn[at].arguments;
    EXPECT_EQ(traversal_without_times(done[at + in_turn.size()].out), expected)
        << in_turn[at].arguments;
  }
}

TEST_F(DnsExperienceLabTest, CachedLevelsAreMarkedAndTheBiasReadsServerTimes) {
  const std::string cache = "-C " + folder + "/dns_experience_cache.dat ";
  run({"-j -c " + cache + "www.lab.test", "", 2});
  // Levels 1 to 3 come from the cache: one query is left, and the cached level says so.
  const Lab_run warm = run({"-j -d -c " + cache + "www.lab.test",
                            "",
                            2,
                            {R"("qv-dns.results.cached":true)", "[NATIVE INPUT]"}});
  EXPECT_EQ(warm.err.find("[NATIVE INPUT]"), warm.err.rfind("[NATIVE INPUT]"));
  // A traversal test shows the cached level with its server too.
  run({"-g -j -x 1 -p 1 -P 1 -c " + cache + "www.lab.test",
       "",
       2,
       {R"("qv-dns.results.cached":true)"}});
  // Always biased: the servers' times of the earlier runs decide.
  const std::string biased = R"({"Capabilities":{"test.common.url":"qv-dns-exp://www.lab.test",)"
                             R"("qv-dns.test.exp-bias-towards-best":true},"Settings":{)"
                             R"("BiasPercentage":100,"DebugModeOn":true,"DataDirectory":")" +
                             folder + "\"}}\n";
  run({"", "", 2, {"ms for nameserver: ns", "Selecting the fastest: "}, "", biased});
}

// A test stopped (SIGTERM) while it stores its cache file leaves a file the next run reads
// whole: the store completes before the signal ends the process.
TEST_F(DnsExperienceLabTest, ARunStoppedWhileItStoresLeavesTheCacheWhole) {
  const std::string cache = folder + "/cache.dat";
  const std::string seed_json(5000, 'j');
  Logger quiet(LEVEL_ERROR);
  {
    // Long to store; below the 10000 entries a run keeps.
    DNS_experience::Cache seed(quiet, cache, 10000000);
    for (int entry = 0; entry < 9000; ++entry) {
      seed.set_cache_answer("seed" + std::to_string(entry) + ".test.",
                            {{"ns1.lab.test.", IP::Address("127.53.4.1"), -1}}, 86400, "",
                            seed_json);
    }
  }
  struct stat loaded {};
  ASSERT_EQ(stat(cache.c_str(), &loaded), 0);
  // The lab script and ip both exec: the process signalled below is the tool itself.
  testing_support::Started_tool test({std::string(NT_SOURCE_DIR) + "/lab/dnslab", "exec", tool,
                                      "-j", "-C", cache, "www.lab.test"});
  // The store has begun once the file changes.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  struct stat now = loaded;
  while (std::chrono::steady_clock::now() < deadline && stat(cache.c_str(), &now) == 0 &&
         now.st_ctim.tv_sec == loaded.st_ctim.tv_sec &&
         now.st_ctim.tv_nsec == loaded.st_ctim.tv_nsec) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  kill(test.pid(), SIGTERM);
  EXPECT_EQ(test.wait(), 1);
  EXPECT_NE(test.err().find("Terminated"), std::string::npos) << test.err();

  std::ostringstream log;
  Logger logger(LEVEL_DEBUG, "", log);
  DNS_experience::Cache next(logger, cache, 10000000);
  EXPECT_NE(log.str().find("Cache loaded correctly"), std::string::npos) << log.str();
  EXPECT_GE(next.answer_count(), 9000u);
  std::vector<DNS_experience::ServerInfo> servers;
  std::string raw, json;
  EXPECT_TRUE(next.get_cached_answer("seed8999.test.", DNS_experience::Cache::servers_and_json,
                                     servers, raw, json) &&
              json == seed_json);
}

}  // namespace
}  // namespace Network_tools
