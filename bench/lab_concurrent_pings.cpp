// How long 20 pings of 5 ICMP probes each take when one process runs them all at once, one
// thread per ping, against lab addresses. Runs inside the lab (scripts/bench starts it there).
#include <benchmark/benchmark.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ping/factory.h"
#include "ping/parameters.h"
#include "ping/wrapper.h"

namespace {

// Reachable lab servers; the pings cycle through them.
const char* const lab_addresses[] = {"127.53.1.1", "127.53.1.2", "127.53.2.1", "127.53.2.2",
                                     "127.53.3.1", "127.53.3.2", "127.53.4.1", "127.53.4.2",
                                     "127.53.4.3", "127.53.4.4"};

// Runs `pings` pings at once and checks that each measured every probe.
void run_pings(int pings, Network_tools::Logger& logger,
               const Network_tools::Ping::WrapperFactory& factory) {
  std::vector<std::string> errors(static_cast<std::size_t>(pings));
  std::vector<std::thread> threads;
  for (int i = 0; i < pings; ++i) {
    threads.emplace_back([&, i] {
      try {
        Network_tools::Ping::Parameters parameters;
        parameters.JSON_output = true;
        parameters.host = lab_addresses[i % std::size(lab_addresses)];
        std::unique_ptr<Network_tools::Ping::Wrapper> wrapper;
        factory.create(logger, parameters, wrapper);
        const std::string result = wrapper->run();
        if (result.find("null") != std::string::npos ||
            result.find("common.results.error-code") != std::string::npos) {
          errors[static_cast<std::size_t>(i)] = result;
        }
      } catch (const std::exception& error) {
        errors[static_cast<std::size_t>(i)] = error.what();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& error : errors) {
    if (!error.empty()) throw std::runtime_error("ping failed: " + error);
  }
}

void BM_ConcurrentLabPings(benchmark::State& state) {
  Network_tools::Logger logger(Network_tools::LEVEL_ERROR);
  const Network_tools::Ping::WrapperFactory factory;
  for (auto _ : state) {
    try {
      run_pings(static_cast<int>(state.range(0)), logger, factory);
    } catch (const std::exception& error) {
      state.SkipWithError(error.what());
      break;
    }
  }
}
BENCHMARK(BM_ConcurrentLabPings)
    ->Arg(1)
    ->Arg(20)
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
