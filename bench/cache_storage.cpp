// Load and store times, file sizes and peak memory of the DNS experience cache storage file.
//
// Each figure comes from a fresh process (this program run again with another mode), so that
// one size's peak memory cannot hide another's. Files live in a temporary folder removed at
// the end.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dns_experience/cache/cache.h"
#include "frame/ip.h"

namespace {

using Network_tools::Logger;
using Network_tools::DNS_experience::Cache;
using Network_tools::DNS_experience::ServerInfo;

// The largest limit the test parameters allow: nothing is evicted.
constexpr std::uint32_t no_eviction = 10000000;
constexpr std::int32_t one_week = 604800;

// Wall-clock and processor time of one step; the machine is shared, so the processor time
// says what the step costs when other work competes for the cores.
class Stopwatch {
 public:
  Stopwatch() : wall_(std::chrono::steady_clock::now()), cpu_(cpu_now()) {}
  double wall() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
  }
  double cpu() const { return cpu_now() - cpu_; }

 private:
  static double cpu_now() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
  }
  std::chrono::steady_clock::time_point wall_;
  double cpu_;
};

// Peak resident memory of this process in MiB.
double peak_memory_mib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return -1;
}

// Writes a file of `count` answers (two servers each, empty outputs) or `count` query stats.
void build(const std::string& kind, std::size_t count, const std::string& path) {
  std::ostream discard(nullptr);
  Logger logger(Network_tools::LEVEL_ERROR, "", discard);
  Cache cache(logger, path, no_eviction);
  for (std::size_t index = 0; index < count; ++index) {
    const std::string zone = "d" + std::to_string(index) + ".bench.test.";
    if (kind == "answers") {
      const std::uint8_t v4[4] = {127, 53, static_cast<std::uint8_t>(index >> 8),
                                  static_cast<std::uint8_t>(index)};
      std::uint8_t v6[16] = {0x20, 0x01, 0x0d, 0xb8};
      v6[15] = static_cast<std::uint8_t>(index);
      std::vector<ServerInfo> servers(2);
      servers[0] = {"ns1." + zone, Network_tools::IP::Address(AF_INET, v4), -1};
      servers[1] = {"ns2." + zone, Network_tools::IP::Address(AF_INET6, v6), 12};
      cache.set_cache_answer(zone, servers, one_week, "", "");
    } else {
      cache.set_last_query_time("ns1." + zone, static_cast<std::int32_t>(index % 5000));
    }
  }
}

// Loads the file, adds one answer and stores it again. With `merge`, the file is touched after
// the load, as another process writing it would, so the store has to merge.
void measure(const std::string& path, bool merge) {
  std::ostream discard(nullptr);
  Logger logger(Network_tools::LEVEL_ERROR, "", discard);
  const Stopwatch load;
  auto cache = std::make_unique<Cache>(logger, path, no_eviction);
  const double load_wall = load.wall(), load_cpu = load.cpu();
  const std::size_t entries = cache->answer_count() + cache->query_stats_count();
  cache->set_cache_answer("new.bench.test.", {}, one_week, "", "");
  if (merge) utimensat(AT_FDCWD, path.c_str(), nullptr, 0);
  const Stopwatch store;
  cache.reset();
  std::cout << entries << ' ' << load_wall << ' ' << load_cpu << ' ' << store.wall() << ' '
            << store.cpu() << ' ' << peak_memory_mib() << '\n';
}

std::string run_self(const std::string& arguments) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe");
  std::unique_ptr<FILE, int (*)(FILE*)> child(popen((self + " " + arguments).c_str(), "r"), pclose);
  std::string output;
  char buffer[256];
  while (child && fgets(buffer, sizeof buffer, child.get()) != nullptr) output += buffer;
  return output;
}

void report(const std::string& kind, std::size_t count, const std::string& folder) {
  const std::string path = folder + "/" + kind + "_" + std::to_string(count) + ".dat";
  run_self("build " + kind + " " + std::to_string(count) + " " + path);
  const double file_mib = static_cast<double>(std::filesystem::file_size(path)) / (1 << 20);
  // A file that has not changed for a while, as between two test runs: the store needs no merge.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  for (const bool merge : {false, true}) {
    std::size_t entries = 0;
    double load = 0, load_cpu = 0, store = 0, store_cpu = 0, peak = 0;
    std::istringstream figures(run_self(std::string(merge ? "merge " : "measure ") + path));
    if (!(figures >> entries >> load >> load_cpu >> store >> store_cpu >> peak)) {
      std::cout << kind << " " << count << ": measurement failed\n";
      continue;
    }
    printf(
        "%-7s %8zu  %-8s  load %5.3f s (cpu %5.3f)  store %5.3f s (cpu %5.3f)"
        "  file %6.1f MiB  peak %6.1f MiB = %.2f x file\n",
        kind.c_str(), entries, merge ? "merging" : "plain", load, load_cpu, store, store_cpu,
        file_mib, peak, peak / file_mib);
    fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 4 && arguments[0] == "build") {
    build(arguments[1], std::stoul(arguments[2]), arguments[3]);
    return 0;
  }
  if (arguments.size() == 2 && (arguments[0] == "measure" || arguments[0] == "merge")) {
    measure(arguments[1], arguments[0] == "merge");
    return 0;
  }
  char folder_template[] = "/tmp/cache_storage_bench.XXXXXX";
  const char* folder = mkdtemp(folder_template);
  if (folder == nullptr) {
    perror("mkdtemp");
    return 1;
  }
  std::cout << "Cache storage file: load (constructor), store (destructor after one more answer),"
               " peak resident memory of a fresh process doing both\n";
  for (const std::size_t count : {10000, 100000, 1000000}) report("answers", count, folder);
  report("stats", 1000000, folder);
  std::filesystem::remove_all(folder);
  return 0;
}
