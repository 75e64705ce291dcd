// Wall time of the ping diagnostics of a traversal test: 20 lab servers pinged with 5 probes each
// on 1, 5 and 20 threads, against one ping of the same kind of server; where a ping's time goes
// (the start of the native tool, each probe, the processor time of its processes); and the same
// pool on servers that never answer, whose pings wait rather than compute. Figures are medians
// of runs interleaved so that the load of a shared machine weighs on all alike. Runs inside the
// lab (scripts/bench starts it there).
#include <rapidjson/document.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "dns_experience/wrapper.h"

namespace {

using namespace Network_tools;

constexpr int servers = 20;

// The deep chain's twenty servers: distinct lab addresses that answer ICMP.
std::string answering_address(int k) {
  return "127.53.6." + std::to_string(k % 20 + 1);
}

// The addresses that drop every packet (127.53.5.1, the outage. and flaky. servers).
std::string silent_address(int k) {
  static const std::vector<std::string> addresses = [] {
    std::vector<std::string> all = {"127.53.5.1"};
    for (int last : {1, 2, 3, 4, 5, 6, 7, 8, 11, 12, 13, 14, 15, 16, 17}) {
      all.push_back("127.53.7." + std::to_string(last));
    }
    return all;
  }();
  return addresses[static_cast<std::size_t>(k) % addresses.size()];
}

// What one series pings, and its wall times.
struct Measure {
  const char* label;
  int count, threads, probes;
  bool silent;  // the servers drop the probes: each waits out its 1 s probe timeout
  std::vector<double> times = {};
};

// Milliseconds the diagnostics of a traversal test took to ping the servers of `measure`;
// throws when a server's figures are not what its kind gives.
double diagnose(const Measure& measure, Logger& logger) {
  std::vector<std::string> words = {"dns_experience",
                                    "-g",
                                    "-j",
                                    "-x",
                                    std::to_string(measure.threads),
                                    "-p",
                                    std::to_string(measure.probes),
                                    "-P",
                                    "1",
                                    "www.lab.test"};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  DNS_experience::Wrapper wrapper(static_cast<int>(words.size()), argv.data(), logger, "");

  std::string metrics;
  for (int k = 0; k < measure.count; ++k) {
    metrics += std::string(k == 0 ? "" : ",") +
               R"({"MetricData":{"qv-dns.results.server.name":"ns)" + std::to_string(k) +
               R"(.","qv-dns.results.server.address":")" +
               (measure.silent ? silent_address(k) : answering_address(k)) + R"("}})";
  }
  rapidjson::Document level;
  level.Parse((R"({"Metrics":[)" + metrics + R"(],"OtherData":{}})").c_str());
  DNS_experience::Results& results = wrapper.get_results();
  results.start_alias_traversal();
  results.add_level("", std::move(level), {}, 3, false);

  const auto start = std::chrono::steady_clock::now();
  wrapper.apply_ping_diagnostics_if_needed();
  const double elapsed =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();

  for (const auto& entry :
       results.resolutions.back().levels.back().groups[0].response["Metrics"].GetArray()) {
    const rapidjson::Value& data = entry["MetricData"];
    const bool timed_out = data.HasMember("qv-dns.results.server.ping.error-code") &&
                           std::string(data["qv-dns.results.server.ping.error-code"].GetString()) ==
                               "qv-ping.results.error.timeout";
    if (!data.HasMember("qv-dns.results.server.ping.round-trip-times") ||
        timed_out != measure.silent) {
      throw std::runtime_error("unexpected ping figures for " +
                               std::string(data["qv-dns.results.server.address"].GetString()));
    }
  }
  return elapsed;
}

// Processor time (user and system) of the finished child processes so far, in ms.
double children_cpu_ms() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  const auto ms = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) * 1000.0 + static_cast<double>(time.tv_usec) / 1000.0;
  };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Runs every series `runs` times, interleaved; returns the processor time per ping.
double measure_all(std::vector<Measure>& measures, int runs, Logger& logger) {
  const double cpu_before = children_cpu_ms();
  int pings = 0;
  for (int run = 0; run < runs; ++run) {
    for (Measure& measure : measures) {
      measure.times.push_back(diagnose(measure, logger));
      pings += measure.count;
    }
  }
  return (children_cpu_ms() - cpu_before) / pings;
}

// "-x 5 : 1.02 x (ceil(20 / 5) x one ping)" for each series of 20 servers.
void print_ratios(const std::vector<Measure>& measures, double one_ping) {
  for (const Measure& measure : measures) {
    if (measure.count != servers) continue;
    const double rounds = std::ceil(static_cast<double>(servers) / measure.threads);
    std::printf("  %s -x %-2d: %.2f x (ceil(20 / %d) x one ping)%s\n",
                measure.silent ? "silent   " : "answering", measure.threads,
                median(measure.times) / (rounds * one_ping), measure.threads,
                measure.threads == 5 ? "   target: at most 1.10" : "");
  }
}

}  // namespace

int main() {
  try {
    Logger logger(LEVEL_ERROR);
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    constexpr int runs = 9;
    std::vector<Measure> answering = {
        {"one server, 1 probe", 1, 1, 1, false},
        {"one server, 5 probes", 1, 1, 5, false},
        {"one server, 25 probes", 1, 1, 25, false},
        {"20 servers, 5 probes, -x 1", servers, 1, 5, false},
        {"20 servers, 5 probes, -x 5", servers, 5, 5, false},
        {"20 servers, 5 probes, -x 20", servers, 20, 5, false},
    };
    // Pings that wait rather than compute: the pool's own worth, whatever the processor.
    constexpr int silent_runs = 3;
    std::vector<Measure> silent = {
        {"one silent server, 1 probe", 1, 1, 1, true},
        {"20 silent servers, -x 5", servers, 5, 1, true},
        {"20 silent servers, -x 20", servers, 20, 1, true},
    };
    diagnose(answering[0], logger);  // the first start of the native tool reads it from disk
    const double cpu_per_ping = measure_all(answering, runs, logger);
    measure_all(silent, silent_runs, logger);

    std::printf("ping diagnostics (wall time, %ld cores), medians of %d runs (%d when silent)\n",
                cores, runs, silent_runs);
    for (const std::vector<Measure>* series : {&answering, &silent}) {
      for (const Measure& measure : *series) {
        std::printf("  %-30s %8.1f ms\n", measure.label, median(measure.times));
      }
    }
    const double one_probe = median(answering[0].times);
    const double per_probe = (median(answering[2].times) - one_probe) / 24;
    std::printf("  a ping: %.1f ms to start the native tool and wait for it, %.2f ms per probe\n",
                one_probe - per_probe, per_probe);
    std::printf(
        "  processor time of the native tool's processes: %.1f ms per ping, so 20 pings need at "
        "least %.0f ms on %ld cores, however many threads\n",
        cpu_per_ping, servers * cpu_per_ping / static_cast<double>(cores), cores);
    print_ratios(answering, median(answering[1].times));
    print_ratios(silent, median(silent[0].times));
    return 0;
  } catch (const std::exception& error) {
    std::cerr << "lab_ping_diagnostics: " << error.what() << "\n";
    return 1;
  }
}
