// The stand-alone ping tool: one ping per process, from options or a JSON document on standard
// input, printing its result on standard output.
#include <memory>

#include "frame/process_entry.h"
#include "ping/wrapper.h"

int main(int argc, char** argv) {
  using Network_tools::Logger;
  const Network_tools::Tool_factories factories{
      [](Logger& logger, std::streambuf* input) -> std::unique_ptr<Network_tools::Wrapper> {
        return std::make_unique<Network_tools::Ping::Wrapper>(logger, "", input);
      },
      [](int count, char** arguments, Logger& logger) -> std::unique_ptr<Network_tools::Wrapper> {
        return std::make_unique<Network_tools::Ping::Wrapper>(count, arguments, logger, "");
      },
  };
  return Network_tools::run_tool_process(argc, argv, factories);
}
