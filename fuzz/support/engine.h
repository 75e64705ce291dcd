// What the targets of the DNS experience engine share: a wrapper built from a command line
// whose driver state a target sets, as the level loop would have left it, and the result
// document it writes at the end of a run.
#ifndef NETWORK_TOOLS_FUZZ_SUPPORT_ENGINE_H_
#define NETWORK_TOOLS_FUZZ_SUPPORT_ENGINE_H_

#include <string>
#include <vector>

#include "dns_experience/wrapper.h"
#include "support/harness.h"

namespace Network_tools::fuzz {

// A DNS experience wrapper for `words` (the options and the host, as typed after the tool's
// name) whose hooks are `tools`. Bad options end the input (`run_input`).
class Engine : public DNS_experience::Wrapper {
 public:
  Engine(const std::vector<std::string>& words, Logger& logger, Scripted_tools& tools);

  // Makes the dig wrapper and the cache (in memory only: no cache path is given) as the start
  // of a run makes them.
  void start() { start_run(); }

  // Forgets what an earlier input left in the results model and starts the test's clock
  // again, as if the level loop had just asked `level` (counting `level` queries so far).
  void restart_at_level(int level);

  DNS_experience::Cache& cache() { return *cache_; }

 private:
  // The tool's name and `words` as an argument vector.
  struct Command_line {
    explicit Command_line(const std::vector<std::string>& given);
    std::vector<std::string> words;
    std::vector<char*> argv;
  };
  Engine(Command_line&& line, Logger& logger, Scripted_tools& tools);
};

// The servers of the lab's lab.test. zone: ns1.lab.test. (127.53.4.1) and ns2.lab.test.
// (127.53.4.2).
std::vector<DNS_experience::ServerInfo> lab_test_servers();

}  // namespace Network_tools::fuzz

#endif  // NETWORK_TOOLS_FUZZ_SUPPORT_ENGINE_H_
