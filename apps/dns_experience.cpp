// dns_experience: how long resolving one host name takes, level by level, from options or a
// JSON test document.
#include <memory>

#include "dns_experience/wrapper.h"
#include "frame/process_entry.h"

int main(int argc, char** argv) {
  using Network_tools::DNS_experience::Wrapper;
  const Network_tools::Tool_factories factories{
      [](Network_tools::Logger& logger, std::streambuf* input) {
        return std::unique_ptr<Network_tools::Wrapper>(
            std::make_unique<Wrapper>(logger, "", input));
      },
      [](int count, char** arguments, Network_tools::Logger& logger) {
        return std::unique_ptr<Network_tools::Wrapper>(
            std::make_unique<Wrapper>(count, arguments, logger, ""));
      },
  };
  return Network_tools::run_tool_process(argc, argv, factories);
}
