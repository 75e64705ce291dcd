// The shared process entry: which wrapper is built, what is printed, and the exit status.
#include "frame/process_entry.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "frame/command.h"
#include "frame/exception.h"
#include "support/sample_wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

// How a run ends, by the name given as the first argument.
const std::map<std::string, std::function<std::string(Sample_wrapper&)>> endings = {
    {"done", [](Sample_wrapper&) { return std::string(R"({"ran":1})"); }},
    {"empty", [](Sample_wrapper&) { return std::string(); }},
    {"help", [](Sample_wrapper&) -> std::string { throw exception("Usage: x\n", 0, ""); }},
    {"error-json",
     [](Sample_wrapper& tool) -> std::string {
       tool.throw_exception(1014, "qv-dns.results.error.unreachable", "No answer", true, 0, -1);
     }},
    {"error-plain",
     [](Sample_wrapper& tool) -> std::string {
       tool.throw_exception(1014, "qv-dns.results.error.unreachable", "No answer", false, 0, -1);
     }},
    {"standard", [](Sample_wrapper&) -> std::string {
       // A tool started and not read before the failure must not outlive the run.
       launch_bash_command("sleep 600");
       throw std::out_of_range("vector::at");
     }}};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome run_entry(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const Tool_factories factories{[](Logger& logger, std::streambuf* input) {
                                   return std::make_unique<Sample_wrapper>(logger, input);
                                 },
                                 [](int, char** argv, Logger& logger) {
                                   auto tool = std::make_unique<Sample_wrapper>(logger);
                                   tool->on_run = endings.at(argv[1]);
                                   return tool;
                                 }};
  std::stringbuf input(
      R"({"Capabilities":{"test.common.url":"qv-dns-exp://a.test"},"Settings":{}})");
  std::ostringstream out;
  std::ostringstream err;
  const int status = run_tool_process(static_cast<int>(arguments.size()), argv.data(), factories,
                                      &input, out, err);
  return {status, out.str(), err.str()};
}

TEST(ProcessEntryTest, CompletedRunsPrintTheirTextAsItIs) {
  // Only an empty command line reads the input.
  const Outcome from_input = run_entry({"tool"});
  EXPECT_EQ(from_input.status, 0);
  EXPECT_NE(from_input.out.find(R"("sample.results.host":"a.test")"), std::string::npos);
  EXPECT_EQ(run_entry({"tool", "done"}).out, R"({"ran":1})");  // no line end added
  // Help travels as a code-0 exception; an empty result prints nothing; both succeed.
  const Outcome help = run_entry({"tool", "help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, "Usage: x\n");
  const Outcome empty = run_entry({"tool", "empty"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out + empty.err, "");
}

TEST(ProcessEntryTest, TestFailureIsLoggedAndItsDocumentPrintedWhenThereIsOne) {
  const Outcome with_json = run_entry({"tool", "error-json"});
  EXPECT_EQ(with_json.status, 1);
  EXPECT_NE(with_json.out.find(R"("common.results.error-code":"qv-dns.results.error.unreachable")"),
            std::string::npos);
  EXPECT_EQ(with_json.err.rfind("[ERROR] ", 0), 0u) << with_json.err;
  EXPECT_NE(with_json.err.find(" - No answer (qv-dns.results.error.unreachable)\n"),
            std::string::npos);
  const Outcome plain = run_entry({"tool", "error-plain"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out, "");
}

TEST(ProcessEntryTest, StandardExceptionIsReportedAndLeavesNoTool) {
  const Outcome failure = run_entry({"tool", "standard"});
  EXPECT_EQ(failure.status, 1);
  EXPECT_EQ(failure.out, "");
  EXPECT_EQ(failure.err, "Caught exception: vector::at\n");
  EXPECT_EQ(pipes.size(), 0u);
}

TEST(ProcessEntryTest, AnythingElseThrownEndsInTheAbortHandler) {
  const Tool_factories throwing{
      [](Logger&, std::streambuf*) -> std::unique_ptr<Wrapper> { throw 42; }, nullptr};
  char name[] = "tool";
  char* argv[] = {name, nullptr};
  // As from `main`: nothing catches it there, so the run-time aborts.
  const auto as_main = [&]() noexcept { run_tool_process(1, argv, throwing); };
  EXPECT_EXIT(as_main(), ::testing::ExitedWithCode(1), "\nAborted\n$");
}

}  // namespace
}  // namespace Network_tools
