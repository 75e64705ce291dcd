// The shared process entry and its mapping of every way of ending to an exit status.
#include "frame/process_entry.h"

#include <exception>
#include <string>

#include "frame/exception.h"
#include "frame/pipes.h"
#include "frame/signal_block.h"
#include "frame/signals.h"

namespace Network_tools {

int run_tool_process(int argc, char** argv, const Tool_factories& factories, std::streambuf* input,
                     std::ostream& out, std::ostream& err) {
  Logger logger(LEVEL_INFO, "", err);
  std::string output;
  int status = 0;
  try {
    register_handlers();
    // Scoped so that the wrapper is gone before anything is printed.
    std::unique_ptr<Wrapper> wrapper = argc == 1 ? factories.from_input(logger, input)
                                                 : factories.from_arguments(argc, argv, logger);
    wrapper->input_sanity_check();
    output = wrapper->run();
  } catch (const requested_text& text) {
    output = text.what();
  } catch (const exception& error) {
    // Code 0 included: a failure that no caller turned into its own error is still a failure.
    status = 1;
    logger.write(LEVEL_ERROR, "ERROR", error.what());
    if (error.need_JSON_output()) output = error.error_message();
  } catch (const std::exception& error) {
    status = 1;
    err << "Caught exception: " << error.what() << std::endl;
  }
  // A command whose reader never ran (the run failed in between) must not outlive the process.
  pipes.close_all();

  if (!output.empty()) {
    // Whole or not at all: a request to stop that comes while the result is printed waits for
    // its end, so that no agent reads half a document.
    const Signal_block hold;
    out << output;
    out.flush();
  }
  return status;
}

}  // namespace Network_tools
