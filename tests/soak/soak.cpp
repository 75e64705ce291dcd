// The fault soak: rounds of eight dns_experience runs at once inside the DNS lab, sharing one
// cache file, over a random mix of the lab's scenarios, some of them stopped with SIGTERM at a
// random moment. After each round: every run that finished printed one result document valid
// against the tool's schema (or the fatal error line, with status 1), a stopped one printed
// "Terminated" and ended with status 1, none outlived its overall timeout by more than 5 s, no
// process that a run started is left, and the cache file loads with the product's own Cache and
// holds every entry that the finished runs stored.
//
//   soak [--rounds N] [--seed S] [--from-round K]
//
// Runs inside the lab (scripts/soak and tests/lab/soak.sh start it with lab/dnslab exec). The
// seed is printed: a failing round is replayed with the same seed and --from-round.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "cache_check.h"
#include "support/processes.h"
#include "support/result_schema.h"

namespace Network_tools::soak {
namespace {

using Clock = std::chrono::steady_clock;
using testing_support::command_name;
using testing_support::exec_as_a_shell_would;
using testing_support::process_alive;

// A lab scenario: what it exercises, and the options and host of its test. Each gives its
// overall timeout (-Q), which bounds the run.
struct Scenario {
  const char* kind;
  const char* test;
};

const std::vector<Scenario> scenarios = {
    {"normal", "-Q 10 www.lab.test"},
    {"normal", "-Q 10 -t mx lab.test"},
    {"normal", "-Q 10 www.lab.example"},
    {"normal", "-Q 10 nx.lab.test"},
    {"time-out", "-Q 4 -w 2000 www.timeout.test"},
    {"time-out", "-Q 6 -f -w 1000 www.stalled.test"},
    {"refused", "-Q 10 www.refused.test"},
    {"refused", "-Q 10 www.closed.test"},
    {"SERVFAIL", "-Q 10 www.servfail.test"},
    {"lame", "-Q 10 www.lame.test"},
    {"lame", "-Q 10 -f www.halflame.test"},
    {"glueless", "-Q 10 www.glueless.test"},
    {"aliases", "-Q 10 c1.alias.test"},
    {"aliases", "-Q 10 to-example.alias.test"},
    {"aliases", "-Q 10 -t https https.alias.test"},
    {"aliases", "-Q 10 -t svcb svc.alias.test"},
    {"loops", "-Q 10 loop1.alias.test"},
    {"loops", "-Q 10 xloop.alias.test"},
    {"loops", "-Q 10 hop1.chain.test"},
    {"deep chain", "-Q 10 www.d15.d14.d13.d12.d11.d10.d9.d8.d7.d6.d5.d4.d3.d2.deep.test"},
    {"deep chain", "-Q 10 www.d17.d16.d15.d14.d13.d12.d11.d10.d9.d8.d7.d6.d5.d4.d3.d2.deep.test"},
    {"reverse", "-Q 10 -t ptr 127.53.4.1"},
    {"reverse", "-Q 10 -t ptr 1.4.53.127.in-addr.arpa"},
    {"traversal with pings", "-g -Q 10 -p 2 -P 1 www.lab.test"},
    {"traversal with pings", "-g -Q 8 -p 3 -P 2 -w 1000 -r 1 www.mixed.test"},
    {"traversal with pings", "-g -Q 8 -p 2 -P 1 www.groups.test"},
    {"traversal with pings", "-g -Q 8 -O -w 1000 -r 1 www.lab.outage"},
    {"traversal with pings", "-g -Q 8 -p 2 -P 2 -w 1000 -r 1 www.lab.flaky"},
};

// How each option reaches a test given as a JSON document: its capability or setting, and
// whether it takes a value (an integer, or text for -t).
struct Document_key {
  bool setting;
  const char* key;
  bool value;
};

const std::map<std::string, Document_key> document_keys = {
    {"-Q", {true, "Timeout", true}},
    {"-w", {true, "RetryTimeout", true}},
    {"-r", {true, "Tries", true}},
    {"-p", {true, "PingProbesCount", true}},
    {"-P", {true, "PingProbeTimeout", true}},
    {"-t", {false, "qv-dns.test.query-type", true}},
    {"-f", {false, "qv-dns.test.exp-try-next-server-upon-failure", false}},
    {"-O", {false, "qv-dns.test.flag.enable-network-outage-detection", false}},
    {"-c", {false, "qv-dns.test.exp-cache-tld", false}},
    {"-b", {false, "qv-dns.test.exp-bias-towards-best", false}},
    {"-H", {false, "qv-dns.test.enable-hostname-bind-mode", false}},
    {"-S", {false, "qv-dns.test.nsid", false}},
};

std::vector<std::string> words_of(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream stream(text);
  for (std::string word; stream >> word;) words.push_back(word);
  return words;
}

// One run of a round: what it runs, and what became of it.
struct Run {
  const Scenario* scenario = nullptr;
  std::vector<std::string> arguments;
  // The JSON document on standard input; empty for a command-line test.
  std::string document;
  int timeout_s = 0;
  // When to send SIGTERM after the start; negative for never.
  std::chrono::milliseconds signal_after{-1};
  bool signal_sent = false;
  bool hung = false;
  pid_t pid = -1;
  Clock::time_point start, end;
  int status = 0;
  std::string folder;

  std::string shown() const {
    std::string line = scenario->kind + std::string(": dns_experience");
    for (std::size_t index = 1; index < arguments.size(); ++index) line += " " + arguments[index];
    return document.empty() ? line : line + " <<< " + document;
  }
};

// The JSON document of the test that `options` (options and host) describe, as an agent sends
// it; its cache lies in `folder`, and the log is the debug log.
std::string document_for(const std::vector<std::string>& options, const std::string& folder) {
  std::string capabilities, settings = "\"DebugModeOn\":true,\"DataDirectory\":\"" + folder + "\"";
  std::string scheme = "qv-dns-exp://";
  for (std::size_t index = 0; index + 1 < options.size(); ++index) {
    if (options[index] == "-g") {
      scheme = "qv-dns-trace://";
      continue;
    }
    const Document_key& key = document_keys.at(options[index]);
    std::string value = "true";
    if (key.value) {
      value = options[++index];
      if (!key.setting) value = "\"" + value + "\"";
    }
    std::string& part = key.setting ? settings : capabilities;
    part += std::string(part.empty() ? "" : ",") + "\"" + key.key + "\":" + value;
  }
  const std::string url = "\"test.common.url\":\"" + scheme + options.back() + "\"";
  return "{\"Capabilities\":{" + url + (capabilities.empty() ? "" : "," + capabilities) +
         "},\"Settings\":{" + settings + "}}\n";
}

// The eight runs of a round, drawn from `random`.
std::vector<Run> plan_round(std::mt19937_64& random, const std::string& tool,
                            const std::string& folder, int runs) {
  const auto chance = [&random](int percent) {
    return std::uniform_int_distribution<int>(1, 100)(random) <= percent;
  };
  std::vector<Run> planned(static_cast<std::size_t>(runs));
  for (Run& run : planned) {
    run.scenario =
        &scenarios[std::uniform_int_distribution<std::size_t>(0, scenarios.size() - 1)(random)];
    std::vector<std::string> options = words_of(run.scenario->test);
    run.timeout_s =
        std::stoi(options[std::find(options.begin(), options.end(), "-Q") - options.begin() + 1]);
    // Extras that change what the engine does with the cache and the servers.
    for (const auto& [flag, percent] :
         std::vector<std::pair<std::string, int>>{{"-c", 50}, {"-b", 30}, {"-H", 20}, {"-S", 20}}) {
      if (chance(percent)) options.insert(options.begin(), flag);
    }
    run.folder = folder;
    if (chance(25)) {
      run.document = document_for(options, folder);
      run.arguments = {tool};
    } else {
      run.arguments = {tool, "-j", "-d", "-C", folder + "/dns_experience_cache.dat"};
      run.arguments.insert(run.arguments.end(), options.begin(), options.end());
    }
    if (chance(30)) {
      // Most runs of the lab end within a second: most signals come early.
      const int limit_ms = chance(60) ? 300 : run.timeout_s * 1000;
      run.signal_after =
          std::chrono::milliseconds(std::uniform_int_distribution<int>(0, limit_ms)(random));
    }
  }
  return planned;
}

// Starts `run` as a shell with job control would: every signal at its default action.
void start(Run& run, int index) {
  std::ofstream(run.folder + "/in" + std::to_string(index)) << run.document;
  run.start = Clock::now();
  run.pid = fork();
  if (run.pid != 0) return;
  const std::string prefix = run.folder + "/";
  const std::string name = std::to_string(index);
  if (!freopen((prefix + "in" + name).c_str(), "r", stdin) ||
      !freopen((prefix + "out" + name).c_str(), "w", stdout) ||
      !freopen((prefix + "err" + name).c_str(), "w", stderr)) {
    _exit(127);
  }
  exec_as_a_shell_would(run.arguments);
}

// True once `pid` is the tool with its signal handlers installed: a signal before that would
// end the process by its default action, which no tool can prevent.
bool handling_signals(pid_t pid) {
  if (command_name(pid) != "dns_experience") return false;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) == 0) {
      return (std::stoull(line.substr(7), nullptr, 16) & (1ULL << (SIGTERM - 1))) != 0;
    }
  }
  return false;
}

// The children of this process that are none of the runs: processes that a run left behind,
// which came to this process (a child subreaper) when their parent ended. One still alive half
// a second after it was first seen is an orphan: it is named, killed and counted.
class Orphan_watch {
 public:
  void look(const std::vector<Run>& runs) {
    std::set<pid_t> ours;
    for (const Run& run : runs) ours.insert(run.pid);
    std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
    for (pid_t child = 0; children >> child;) {
      if (ours.count(child) == 0) first_seen_.try_emplace(child, Clock::now());
    }
    for (auto seen = first_seen_.begin(); seen != first_seen_.end();) {
      const pid_t pid = seen->first;
      if (waitpid(pid, nullptr, WNOHANG) == pid || !process_alive(pid)) {
        waitpid(pid, nullptr, WNOHANG);
        seen = first_seen_.erase(seen);
      } else if (Clock::now() - seen->second > std::chrono::milliseconds(500)) {
        found_.push_back(command_name(pid) + " (pid " + std::to_string(pid) + ")");
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        seen = first_seen_.erase(seen);
      } else {
        ++seen;
      }
    }
  }
  bool watching() const { return !first_seen_.empty(); }
  // The orphans found so far, and forgets them.
  std::vector<std::string> take() { return std::exchange(found_, {}); }

 private:
  std::map<pid_t, Clock::time_point> first_seen_;
  std::vector<std::string> found_;
};

// Runs `runs` at once until each has ended, sending the planned signals; a run still going
// 10 s after its timeout and the 5 s allowed past it is killed as hung. Then watches for what
// the runs left behind.
void run_round(std::vector<Run>& runs, Orphan_watch& orphans, int& signals_sent) {
  for (std::size_t index = 0; index < runs.size(); ++index) start(runs[index], int(index));
  std::size_t running = runs.size();
  while (running > 0) {
    for (Run& run : runs) {
      if (run.end != Clock::time_point{}) continue;
      const auto elapsed = Clock::now() - run.start;
      if (waitpid(run.pid, &run.status, WNOHANG) == run.pid) {
        run.end = Clock::now();
        --running;
      } else if (!run.signal_sent && run.signal_after.count() >= 0 && elapsed >= run.signal_after &&
                 handling_signals(run.pid)) {
        kill(run.pid, SIGTERM);
        run.signal_sent = true;
        ++signals_sent;
      } else if (!run.hung && elapsed > std::chrono::seconds(run.timeout_s + 15)) {
        run.hung = true;
        kill(run.pid, SIGKILL);
      }
    }
    orphans.look(runs);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  do {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    orphans.look(runs);
  } while (orphans.watching());
}

std::string read_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// What one run's output says, counted into the round's figures.
struct Tally {
  int documents = 0;
  int terminated = 0;
  int fatal = 0;
  // The longest a run went on past its overall timeout.
  std::chrono::milliseconds most_past_timeout{0};
};

// What is wrong with how `run` ended ("" for nothing), given what it printed.
std::string verdict(const Run& run, const std::string& out, const std::string& err, Tally& tally) {
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(run.end - run.start);
  tally.most_past_timeout =
      std::max(tally.most_past_timeout, took - std::chrono::seconds(run.timeout_s));
  if (run.hung) return "still running 10 s after its timeout and the 5 s allowed past it";
  if (took > std::chrono::seconds(run.timeout_s + 5)) {
    return "took " + std::to_string(took.count()) + " ms, more than its timeout of " +
           std::to_string(run.timeout_s) + " s and 5 s";
  }
  if (!WIFEXITED(run.status)) return "ended by signal " + std::to_string(WTERMSIG(run.status));
  const int status = WEXITSTATUS(run.status);
  if (status == 1 && out.empty() && err.ends_with("Terminated\n")) {
    ++tally.terminated;
    return run.signal_sent ? "" : "printed Terminated without a signal";
  }
  if (status == 1 && out.empty()) {
    const std::size_t fatal = err.rfind("Fatal error: ");
    if (fatal == std::string::npos ||
        err.find(" (qv-dns.results.error.", fatal) == std::string::npos) {
      return "status 1 without a result document, a fatal error line or Terminated";
    }
    ++tally.fatal;
    return "";
  }
  if (status != 0 && status != 1) return "exit status " + std::to_string(status);
  if (out.empty()) return "status 0 and nothing printed";
  ++tally.documents;
  const std::string violation = testing_support::schema_violation("dns_experience", out);
  return violation.empty() ? "" : "a document against the schema: " + violation;
}

// The last `count` lines of `text`.
std::string last_lines(const std::string& text, int count) {
  std::size_t at = text.size();
  for (int line = 0; line <= count && at != std::string::npos && at > 0; ++line) {
    at = text.rfind('\n', at - 1);
  }
  return at == std::string::npos ? text : text.substr(at + 1);
}

struct Options {
  int rounds = 3;
  int from_round = 1;
  std::uint64_t seed = std::random_device{}();
};

Options read_options(int argc, char** argv) {
  Options options;
  for (int index = 1; index + 1 < argc; index += 2) {
    const std::string name = argv[index];
    const std::string value = argv[index + 1];
    if (name == "--rounds") {
      options.rounds = std::stoi(value);
    } else if (name == "--seed") {
      options.seed = std::stoull(value);
    } else if (name == "--from-round") {
      options.from_round = std::stoi(value);
    } else {
      throw std::invalid_argument("unknown option " + name);
    }
  }
  if (argc % 2 == 0) throw std::invalid_argument(std::string("no value for ") + argv[argc - 1]);
  return options;
}

}  // namespace

int soak(int argc, char** argv) {
  const Options options = read_options(argc, argv);
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) {
    std::perror("soak: prctl");
    return 2;
  }
  char pattern[] = "/tmp/dns_soak_XXXXXX";
  const std::string folder = mkdtemp(pattern);
  const std::string tool = std::string(NT_BINARY_DIR) + "/dns_experience";
  const std::string cache_path = folder + "/dns_experience_cache.dat";
  std::cout << "soak: seed " << options.seed << ", rounds " << options.from_round << " to "
            << options.from_round + options.rounds - 1 << ", folder " << folder << std::endl;

  Orphan_watch orphans;
  Tally tally;
  Cache_entries stored, possible;
  std::set<std::string> kinds;
  int runs = 0, signals = 0, problems = 0, orphan_count = 0;
  std::size_t cache_checked = 0;
  for (int round = options.from_round; round < options.from_round + options.rounds; ++round) {
    // Each round draws from its own seed, so that one round can be replayed alone.
    std::seed_seq round_seed{options.seed, std::uint64_t(round)};
    std::mt19937_64 random(round_seed);
    std::vector<Run> planned = plan_round(random, tool, folder, 8);
    const auto round_start = Clock::now();
    run_round(planned, orphans, signals);
    for (std::size_t index = 0; index < planned.size(); ++index) {
      const Run& run = planned[index];
      const std::string name = std::to_string(index);
      const std::string out = read_file(folder + "/out" + name);
      const std::string err = read_file(folder + "/err" + name);
      const std::string problem = verdict(run, out, err, tally);
      bool run_stored = false;
      const Cache_entries set = entries_set(err, run_stored);
      possible.add(set);
      if (run_stored && !run.signal_sent && problem.empty()) stored.add(set);
      kinds.insert(run.scenario->kind);
      ++runs;
      if (problem.empty()) continue;
      ++problems;
      std::cout << "FAIL round " << round << " run " << index << ": " << problem << "\n  "
                << run.shown() << "\n"
                << last_lines(err, 6) << std::endl;
    }
    for (const std::string& orphan : orphans.take()) {
      ++orphan_count;
      std::cout << "FAIL round " << round << ": left behind " << orphan << std::endl;
    }
    if (const std::string broken = check_cache_file(cache_path, stored, possible, cache_checked);
        !broken.empty()) {
      ++problems;
      std::cout << "FAIL round " << round << ": cache file " << cache_path << ": " << broken
                << std::endl;
    }
    std::cout
        << "round " << round << ": " << planned.size() << " runs in "
        << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - round_start).count()
        << " ms" << std::endl;
  }
  std::cout << "soak: runs " << runs << ", scenario kinds " << kinds.size() << ", signals sent "
            << signals << " (" << tally.terminated << " runs terminated), documents checked "
            << tally.documents << ", fatal error lines " << tally.fatal
            << ", cache entries checked " << cache_checked << ", orphans found " << orphan_count
            << "; the longest run ended " << tally.most_past_timeout.count()
            << " ms after its timeout" << std::endl;
  if (problems + orphan_count == 0) {
    std::filesystem::remove_all(folder);
    return 0;
  }
  std::cout << "soak: FAILED (seed " << options.seed << "); the runs' files are in " << folder
            << std::endl;
  return 1;
}

}  // namespace Network_tools::soak

int main(int argc, char** argv) {
  try {
    return Network_tools::soak::soak(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "soak: " << error.what()
              << "\nusage: soak [--rounds N] [--seed S] [--from-round K]" << std::endl;
    return 2;
  }
}
