// The three tools as processes, given hostile standard input: any nesting, a line that never
// ends, a line too long. Each must end with its fatal line and status 1, never crash or hang.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/processes.h"
#include "wrapper/wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Started_tool;

TEST(HostileInputTest, EveryToolEndsWithItsFatalLine) {
  const std::string over_long(Wrapper::max_input_length + 1, ' ');
  // What the agent writes (the pipe stays open after it), and the fatal line it must get.
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {std::string(200000, '[') + "\n", "The document is nested too deeply."},
      {R"({"Capabilities":{"x":)" + std::string(65, '[') + std::string(65, ']') + "}}\n",
       "The document is nested too deeply."},
      {R"({"Capabilities":)", "Timeout on receiving STDIN input"},
      {over_long, "Input document over the limit of 16777216 bytes"},
  };
  // The whole line is read without waiting for the writer to close: each tool then finds what
  // is missing from this empty document.
  const std::vector<std::pair<std::string, std::string>> tools = {
      {"dig_wrapper", "Missing query type (qv-dns.results.error.missing-query-type)"},
      {"ping_wrapper", "Missing destination (qv-ping.results.error.missing-host)"},
      {"dns_experience", "Missing Host (qv-dns.results.error.missing-host)"},
  };

  // All at once: the time-outs then take five seconds in all.
  struct Run {
    std::unique_ptr<Started_tool> tool;
    std::string fatal;
  };
  std::vector<Run> runs;
  const auto start = [&runs](const std::string& tool, const std::string& input,
                             const std::string& fatal) {
    runs.push_back({std::make_unique<Started_tool>(std::vector{NT_BINARY_DIR "/" + tool}),
                    tool + ": " + fatal});
    runs.back().tool->send(input);
  };
  for (const auto& [tool, missing] : tools) {
    start(tool, "{\"Capabilities\":{},\"Settings\":{}}\n", missing);
    for (const auto& [input, fatal] : inputs) start(tool, input, fatal);
  }
  for (Run& run : runs) {
    EXPECT_EQ(run.tool->wait(), 1) << run.fatal;
    EXPECT_EQ(run.tool->out(), "") << run.fatal;
    const std::string err = run.tool->err();
    const std::string fatal = run.fatal.substr(run.fatal.find(": ") + 2);
    EXPECT_TRUE(err.ends_with("Fatal error: " + fatal + "\n")) << run.fatal << "\n"
                                                               << err.substr(0, 500);
  }
}

}  // namespace
}  // namespace Network_tools
