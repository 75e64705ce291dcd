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
  // What the agent writes (the pipe stays open after it), and the fatal line it must get.
  const std::vector<std::pair<std::string, std::string>> inputs = {
      {std::string(200000, '[') + "\n", "The document is nested too deeply."},
      {R"({"Capabilities":{"x":)" + std::string(65, '[') + std::string(65, ']') + "}}\n",
       "The document is nested too deeply."},
      {R"({"Capabilities":)", "Timeout on receiving STDIN input"},
      {std::string(Wrapper::max_input_length + 1, ' '),
       "Input document over the limit of 16777216 bytes"},
  };
  // The whole line is read without waiting for the writer to close: each tool then finds what
  // is missing from this document, whose unknown key must not forge a line of its own.
  const std::vector<std::pair<std::string, std::string>> tools = {
      {"dig_wrapper", "Missing query type (qv-dns.results.error.missing-query-type)"},
      {"ping_wrapper", "Missing destination (qv-ping.results.error.missing-host)"},
      {"dns_experience", "Missing Host (qv-dns.results.error.missing-host)"},
  };

  // All at once: the time-outs then take five seconds in all.
  std::vector<std::pair<std::unique_ptr<Started_tool>, std::string>> runs;
  for (const auto& [tool, missing] : tools) {
    const std::vector<std::string> command = {NT_BINARY_DIR "/" + tool};
    runs.emplace_back(std::make_unique<Started_tool>(
                          command, R"({"Capabilities":{"x\nFatal error: forged":1},"Settings":{}})"
                                   "\n"),
                      missing);
    for (const auto& [input, fatal] : inputs) {
      runs.emplace_back(std::make_unique<Started_tool>(command, input), fatal);
    }
  }
  for (auto& [run, fatal] : runs) {
    EXPECT_EQ(run->wait(), 1) << fatal;
    EXPECT_EQ(run->out(), "") << fatal;
    EXPECT_TRUE(run->err().ends_with("Fatal error: " + fatal + "\n")) << run->err().substr(0, 500);
    EXPECT_EQ(run->err().find("\nFatal error: forged"), std::string::npos) << run->err();
  }
}

}  // namespace
}  // namespace Network_tools
