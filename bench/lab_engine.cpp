// Wall time of whole dns_experience tests in the lab against the dig build they start: a cold
// test of www.lab.test (four queries), the same test with levels 1 to 3 taken from a cache file
// (one query), and one QV_dig query process. Each figure is the median of 25 runs; the ratios
// compare a test with as many QV_dig processes as it makes queries. Runs inside the lab
// (scripts/bench starts it there).
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int runs = 25;

// Milliseconds that `arguments` took to run, output discarded; throws when it fails.
double run_once(const std::vector<std::string>& arguments) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  const double elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments[0] + " failed with status " + std::to_string(status));
  }
  return elapsed;
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  try {
    const std::string tool = std::string(NT_BINARY_DIR) + "/dns_experience";
    char pattern[] = "/tmp/lab_engine_XXXXXX";
    const std::string folder = mkdtemp(pattern);
    const std::string cache = folder + "/cache.dat";

    const std::vector<std::string> dig = {
        "/opt/Tarvex/Tools/bind/QV_dig", "-u", "+comment", "+question", "+notcp", "+ignore", "-4",
        "+cd", "+tries=1", "+timeout=1.500", "@127.53.4.1", "-t", "a", "www.lab.test"};
    const std::vector<std::string> cold = {tool, "-j", "www.lab.test"};
    const std::vector<std::string> cached = {tool, "-j", "-c", "-C", cache, "www.lab.test"};
    run_once(cached);  // fills the cache file
    // Interleaved, so that the load of a shared machine weighs on the three alike.
    std::vector<double> dig_times, cold_times, cached_times;
    for (int run = 0; run < runs; ++run) {
      dig_times.push_back(run_once(dig));
      cold_times.push_back(run_once(cold));
      cached_times.push_back(run_once(cached));
    }
    std::filesystem::remove_all(folder);

    const double one_dig = median(dig_times);
    const double cold_run = median(cold_times);
    const double cached_run = median(cached_times);
    std::printf("medians of %d runs (wall time)\n", runs);
    std::printf("  one QV_dig query process         %7.1f ms\n", one_dig);
    std::printf("  cold test of www.lab.test        %7.1f ms   4 queries: %.2f x (4 x QV_dig)\n",
                cold_run, cold_run / (4 * one_dig));
    std::printf("  test with levels 1-3 from cache  %7.1f ms   1 query:   %.2f x (1 x QV_dig)\n",
                cached_run, cached_run / one_dig);
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "lab_engine: " << error.what() << "\n";
    return 1;
  }
}
