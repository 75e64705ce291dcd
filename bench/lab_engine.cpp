// Wall time of whole dns_experience tests in the lab against what a user could run instead:
//   (a) dig +trace of www.lab.test through the lab resolver's root hints (one process for the
//       whole walk),
//   (b) one QV_dig query process (what the tool starts for every query),
//   (c) a cold test of www.lab.test (four queries),
//   (d) the same test with levels 1 to 3 taken from a cache file (one query),
//   (e) a traversal test of www.lab.test (eight servers over four levels, then two pings), with
//       the servers of each level asked in turn and at once (-G),
//   (f) the traversal of www.lab.outage, whose eight top-level-domain servers all time out
//       (1 s each), in turn and at once.
// Each figure is the median of 21 runs, run interleaved so that the load of a shared machine
// weighs on all alike, with its ratio to (b) and to (a). For the levels asked at once, the
// tool's own log gives each level's time against its slowest server's query process. Runs
// inside the lab (scripts/bench starts it there).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int runs = 21;

// Milliseconds that `arguments` took to run, output discarded (standard error kept in `log`
// when one is given); throws when it fails, unless it is `expected_to_fail`.
double run_once(const std::vector<std::string>& arguments, const std::string& log = "",
                bool expected_to_fail = false) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(log.empty() ? null : open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
      argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0) != expected_to_fail) {
    throw std::runtime_error(arguments[0] + " failed with status " + std::to_string(status));
  }
  return elapsed;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One measured command line and its times.
struct Measure {
  std::string label;
  std::vector<std::string> arguments;
  // A QV_dig that times out ends with a failure: its time is what is measured.
  bool fails = false;
  std::vector<double> times = {};
};

// The ratios of each level asked at once in the debug log `log`: the level's time over its
// slowest server's query process ("Asked 2 DNS servers at once in 41 us, the slowest in 40 us").
std::vector<double> level_ratios(const std::string& log, std::vector<double>& slowest_ms) {
  std::ifstream file(log);
  const std::regex line(
      "Asked ([0-9]+) DNS servers at once in ([0-9]+) us, the slowest in ([0-9]+) us");
  std::vector<double> ratios;
  for (std::string text; std::getline(file, text);) {
    std::smatch found;
    if (!std::regex_search(text, found, line) || std::stod(found[3]) <= 0) continue;
    ratios.push_back(std::stod(found[2]) / std::stod(found[3]));
    slowest_ms.push_back(std::stod(found[3]) / 1000);
  }
  return ratios;
}

}  // namespace

int main() {
  try {
    const std::string tool = std::string(NT_BINARY_DIR) + "/dns_experience";
    char pattern[] = "/tmp/lab_engine_XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string cache = folder + "/cache.dat";
    const std::string log = folder + "/debug.log";

    const std::vector<std::string> traversal = {tool, "-j", "-g", "-p", "1", "-P", "1", "-x", "8"};
    const auto with = [](std::vector<std::string> arguments, const std::vector<std::string>& more) {
      arguments.insert(arguments.end(), more.begin(), more.end());
      return arguments;
    };
    const std::vector<std::string> outage = {"-O", "-w", "1000", "-r", "1", "www.lab.outage"};
    std::vector<Measure> measures = {
        {"(a) dig +trace www.lab.test", {"/usr/bin/dig", "+trace", "www.lab.test"}},
        {"(b) one QV_dig query process",
         {"/opt/Tarvex/Tools/bind/QV_dig", "-u", "+comment", "+question", "-4", "+cd", "+tries=1",
          "+timeout=1.500", "@127.53.4.1", "-t", "a", "www.lab.test."}},
        {"(c) cold test, 4 queries", {tool, "-j", "www.lab.test"}},
        {"(d) levels 1-3 from the cache, 1 query", {tool, "-j", "-c", "-C", cache, "www.lab.test"}},
        {"(e) traversal, levels in turn", with(traversal, {"www.lab.test"})},
        {"    traversal, levels at once (-G)", with(traversal, {"-G", "www.lab.test"})},
        {"(f) outage TLD traversal, in turn", with(traversal, outage)},
        {"    outage TLD traversal, at once (-G)", with(with(traversal, {"-G"}), outage)},
        {"    one QV_dig time-out of 1 s",
         {"/opt/Tarvex/Tools/bind/QV_dig", "-u", "+comment", "+question", "-4", "+cd", "+tries=1",
          "+timeout=1.000", "@127.53.7.1", "-t", "a", "www.lab.outage."},
         true},
    };
    run_once(measures[3].arguments);  // fills the cache file
    std::vector<double> ratios, slowest_ms;
    for (int run = 0; run < runs; ++run) {
      for (Measure& measure : measures) {
        measure.times.push_back(run_once(measure.arguments, "", measure.fails));
      }
      // The levels asked at once, from the tool's own log.
      for (const auto& arguments : {with(with(traversal, {"-G", "-d"}), {"www.lab.test"}),
                                    with(with(traversal, {"-G", "-d"}), outage)}) {
        run_once(arguments, log);
        const std::vector<double> found = level_ratios(log, slowest_ms);
        ratios.insert(ratios.end(), found.begin(), found.end());
      }
    }
    std::filesystem::remove_all(folder);

    const double trace = median(measures[0].times);
    const double one_dig = median(measures[1].times);
    std::printf("medians of %d runs (wall time)                  ms   x (b)   x (a)\n", runs);
    for (const Measure& measure : measures) {
      const double value = median(measure.times);
      std::printf("  %-40s %8.1f %7.2f %7.2f\n", measure.label.c_str(), value, value / one_dig,
                  value / trace);
    }
    const double cold = median(measures[2].times), cached = median(measures[3].times);
    const double time_out = median(measures[8].times);
    std::printf("  cold test against 4 x QV_dig: %.2f; cached test against 1 x QV_dig: %.2f\n",
                cold / (4 * one_dig), cached / one_dig);
    std::printf("  outage traversal in turn: %.2f time-outs of 1 s; at once: %.2f\n",
                median(measures[6].times) / time_out, median(measures[7].times) / time_out);
    if (!ratios.empty()) {
      std::sort(ratios.begin(), ratios.end());
      std::printf(
          "  a level asked at once against its slowest server's query process: median %.3f, "
          "largest %.3f (%zu levels)\n",
          median(ratios), ratios.back(), ratios.size());
    }
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "lab_engine: " << error.what() << "\n";
    return 1;
  }
}
