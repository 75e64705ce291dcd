// The shared body of the targets that feed a tool its JSON input document.
#ifndef NETWORK_TOOLS_FUZZ_SUPPORT_INPUT_DOCUMENT_H_
#define NETWORK_TOOLS_FUZZ_SUPPORT_INPUT_DOCUMENT_H_

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "support/harness.h"

namespace Network_tools::fuzz {

// Builds `Tool` from the input as its JSON document (the "Capabilities" and "Settings" of a
// monitoring agent), then checks the input as a run would before starting. Reading the input
// must start no command; the result document must stay valid JSON.
template <typename Tool>
void read_input_document(const std::uint8_t* data, std::size_t size) {
  std::stringbuf input(as_text(data, size));
  Silent_logger logger;
  Scripted_tools tools;
  tools.answer = [](const std::string&, int&) {
    check(false, "reading the input started a command");
    return std::string();
  };
  run_input([&] {
    Tool tool(logger.get(), tool_folder(), &input);
    tools.install(tool);
    check(is_JSON(tool.get_test_result().to_string()), "the result is not JSON");
    tool.input_sanity_check();
    check(is_JSON(tool.get_test_result().to_string()), "the result is not JSON");
  });
}

}  // namespace Network_tools::fuzz

#endif  // NETWORK_TOOLS_FUZZ_SUPPORT_INPUT_DOCUMENT_H_
