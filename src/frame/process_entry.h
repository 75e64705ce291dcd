// The life of a tool process, shared by the `main` of every executable.
#ifndef NETWORK_TOOLS_FRAME_PROCESS_ENTRY_H_
#define NETWORK_TOOLS_FRAME_PROCESS_ENTRY_H_

#include <functional>
#include <iostream>
#include <memory>
#include <streambuf>

#include "frame/logger.h"
#include "wrapper/wrapper.h"

namespace Network_tools {

// How a tool's wrapper is built: from the JSON document on the given stream buffer (no
// command-line arguments), or from the command line.
struct Tool_factories {
  std::function<std::unique_ptr<Wrapper>(Logger&, std::streambuf*)> from_input;
  std::function<std::unique_ptr<Wrapper>(int, char**, Logger&)> from_arguments;
};

// Runs one test and returns the exit status: installs the signal handlers, builds the wrapper
// (from `input` when `argc` is 1, else from the arguments), checks its input, runs it, and
// prints the returned text on `out` as it is (no line end added). The exit status is 0 for a
// completed test and for help and version texts (a `requested_text`, whose text is printed),
// 1 for every error: any other `Network_tools::exception`, whatever its code, is logged and its
// error JSON printed when it has one; any other std::exception is written as
// "Caught exception: " + what() on `err`, and the commands still running are ended.
int run_tool_process(int argc, char** argv, const Tool_factories& factories,
                     std::streambuf* input = std::cin.rdbuf(), std::ostream& out = std::cout,
                     std::ostream& err = std::cerr);

// The factories of a tool whose wrapper `Tool` has the two usual constructors, `Tool(logger,
// tool_folder, input)` and `Tool(argc, argv, logger, tool_folder)`, with the default tool folder.
template <class Tool>
Tool_factories factories_of() {
  return {
      [](Logger& logger, std::streambuf* input) -> std::unique_ptr<Wrapper> {
        return std::make_unique<Tool>(logger, "", input);
      },
      [](int count, char** arguments, Logger& logger) -> std::unique_ptr<Wrapper> {
        return std::make_unique<Tool>(count, arguments, logger, "");
      },
  };
}

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_PROCESS_ENTRY_H_
