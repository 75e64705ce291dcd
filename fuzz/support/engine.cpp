// The DNS experience wrapper of the engine's fuzz targets.
#include "support/engine.h"

#include <time.h>

namespace Network_tools::fuzz {

Engine::Command_line::Command_line(const std::vector<std::string>& given)
    : words{"dns_experience"} {
  words.insert(words.end(), given.begin(), given.end());
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
}

Engine::Engine(const std::vector<std::string>& words, Logger& logger, Scripted_tools& tools)
    : Engine(Command_line(words), logger, tools) {}

Engine::Engine(Command_line&& line, Logger& logger, Scripted_tools& tools)
    : DNS_experience::Wrapper(static_cast<int>(line.words.size()), line.argv.data(), logger,
                              tool_folder()) {
  tools.install(*this);
}

void Engine::restart_at_level(int level) {
  results_.resolutions.clear();
  results_.reported_level_count = 0;
  results_.total_duration_ms = 0;
  results_.direct_lookup = false;
  results_.network_outage_detected = false;
  results_.start_alias_traversal();
  level_ = level;
  query_count_ = level;
  clock_gettime(CLOCK_REALTIME, &start_time_);
}

std::vector<DNS_experience::ServerInfo> lab_test_servers() {
  return {{"ns2.lab.test.", IP::Address("127.53.4.2"), -1},
          {"ns1.lab.test.", IP::Address("127.53.4.1"), -1}};
}

}  // namespace Network_tools::fuzz
