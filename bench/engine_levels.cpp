// The resolution engine's own cost per level: a whole dns_experience test of www.lab.test (four
// levels, two of them reported) with the dig build replaced by instant answers recorded from the
// lab, from the command line to the printed result document.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dns_experience/wrapper.h"

namespace {

using Network_tools::Logger;
using Network_tools::DNS_experience::Wrapper;

std::string recorded(const std::string& name) {
  std::ifstream file(std::string(NT_TEST_DATA_DIR) + "/" + name);
  if (!file) throw std::runtime_error("missing test data " + name);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// A folder holding an empty QV_dig, which the dig wrapper checks for before each query.
class Tool_folder {
 public:
  Tool_folder() {
    char pattern[] = "/tmp/engine_levels_XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = std::string(pattern) + "/";
    std::ofstream(path_ + "QV_dig") << "";
  }
  ~Tool_folder() { std::filesystem::remove_all(path_); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The recorded answer of each question of the resolution, by a word of its command line.
const std::vector<std::pair<std::string, std::string>> answers = {
    {"-t ns . ", recorded("dig_root_servers.txt")},
    {"-t ns test. ", recorded("dig_referral_root.txt")},
    {"@127.53.2.", recorded("dig_referral_tld.txt")},
    {"@127.53.4.", recorded("dig_authoritative_answer.txt")},
};

// One test; returns the length of the result document.
std::size_t run_test(Logger& logger, const Tool_folder& tools) {
  std::vector<std::string> words = {"dns_experience", "-j", "www.lab.test"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  Wrapper wrapper(static_cast<int>(words.size()), argv.data(), logger, tools.path());
  std::string command;
  wrapper.set_command_launcher([&](const std::string& line, Network_tools::Pipe_registry&) {
    command = line;
    return stdin;  // a token: the reader below never reads it
  });
  wrapper.set_command_reader([&](FILE*, int& status) {
    status = 0;
    for (const auto& [word, text] : answers) {
      if (command.find(word) != std::string::npos) return text;
    }
    throw std::runtime_error("no answer for " + command);
  });
  wrapper.set_resolver_configuration([] { return std::vector<std::string>{"127.53.0.53"}; });
  wrapper.input_sanity_check();
  return wrapper.run().size();
}

void BM_EngineCostPerLevel(benchmark::State& state) {
  Logger logger(Network_tools::LEVEL_ERROR);
  const Tool_folder tools;
  constexpr int levels = 4;
  for (auto _ : state) benchmark::DoNotOptimize(run_test(logger, tools));
  // Seconds per level, printed with an SI prefix ("25u" is 25 microseconds).
  state.counters["per_level"] = benchmark::Counter(
      levels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EngineCostPerLevel)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
