// The shared process entry: which wrapper is built, what is printed, and the exit status.
#include "frame/process_entry.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "frame/command.h"
#include "frame/exception.h"
#include "support/sample_wrapper.h"

namespace Network_tools {
namespace {

using testing_support::Sample_wrapper;

// How a run ends, by the name given as the only argument.
const std::map<std::string, std::function<std::string(Sample_wrapper&)>> endings = {
    {"done", [](Sample_wrapper&) { return std::string(R"({"ran":1})"); }},
    {"help", [](Sample_wrapper&) -> std::string { throw requested_text("Usage: x\n"); }},
    // A code-0 failure that no caller reported in its own words is still a failure.
    {"stray",
     [](Sample_wrapper&) -> std::string { throw exception("Time duration overflow.", 0, ""); }},
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

// The result document whose first result holds `other_data`.
std::string document(const std::string& other_data) {
  return R"({"MonitorResults":[{"StepResults":[{"Metrics":[],"OtherData":{},"PageResults":{}}],)"
         R"("OtherData":{)" +
         other_data + R"(}}],"OtherData":{}})";
}

TEST(ProcessEntryTest, EveryEndingHasItsStatusAndOutput) {
  const Tool_factories factories{[](Logger& logger, std::streambuf* input) {
                                   return std::make_unique<Sample_wrapper>(logger, input);
                                 },
                                 [](int, char** argv, Logger& logger) {
                                   auto tool = std::make_unique<Sample_wrapper>(logger);
                                   tool->on_run = endings.at(argv[1]);
                                   return tool;
                                 }};
  const std::string logged = "\\[ERROR\\] .* - No answer \\(qv-dns.results.error.unreachable\\)\n";
  const struct {
    std::string ending;  // "" runs without arguments, from the input document
    int status;
    std::string out;  // exactly what is printed: no line end is added
    std::string err;  // regular expression for all of standard error
  } cases[] = {
      {"", 0, document(R"("sample.results.flag":true)"), ""},
      {"done", 0, R"({"ran":1})", ""},
      {"help", 0, "Usage: x\n", ""},
      {"stray", 1, "", "\\[ERROR\\] .* - Time duration overflow.\n"},
      {"error-json", 1,
       document(R"("common.results.error-code":"qv-dns.results.error.unreachable")"), logged},
      {"error-plain", 1, "", logged},
      {"standard", 1, "", "Caught exception: vector::at\n"},
  };
  for (const auto& expected : cases) {
    std::string name = "tool";
    std::string ending = expected.ending;
    char* argv[] = {name.data(), ending.data(), nullptr};
    std::stringbuf input(R"({"Capabilities":{"sample.flag":true},"Settings":{}})");
    std::ostringstream out;
    std::ostringstream err;
    const int argc = ending.empty() ? 1 : 2;
    EXPECT_EQ(run_tool_process(argc, argv, factories, &input, out, err), expected.status) << ending;
    EXPECT_EQ(out.str(), expected.out) << ending;
    EXPECT_THAT(err.str(), ::testing::MatchesRegex(expected.err)) << ending;
  }
  EXPECT_EQ(pipes.size(), 0u);
}

// Standard output that is asked to stop (SIGTERM) halfway through writing the result.
class Interrupted_output : public std::streambuf {
 public:
  explicit Interrupted_output(int descriptor) : descriptor_(descriptor) {}

 protected:
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    const std::streamsize half = count / 2;
    if (write(descriptor_, text, half) != half) return 0;
    raise(SIGTERM);
    return write(descriptor_, text + half, count - half) == count - half ? count : half;
  }

 private:
  int descriptor_;
};

TEST(ProcessEntryTest, AStopRequestedWhileTheResultIsPrintedLetsItEndWhole) {
  const std::string result = document(R"("sample.results.flag":true)");
  const std::string path = ::testing::TempDir() + "printed-" + std::to_string(getpid());
  const auto as_main = [&] {
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Interrupted_output buffer(file);
    std::ostream out(&buffer);
    std::stringbuf input(R"({"Capabilities":{"sample.flag":true},"Settings":{}})");
    char name[] = "tool";
    char* argv[] = {name, nullptr};
    const Tool_factories factories{[](Logger& logger, std::streambuf* in) {
                                     return std::make_unique<Sample_wrapper>(logger, in);
                                   },
                                   nullptr};
    std::exit(run_tool_process(1, argv, factories, &input, out));
  };
  EXPECT_EXIT(as_main(), ::testing::ExitedWithCode(1), "Terminated\n$");
  std::ifstream printed(path);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(printed), {}), result);
  std::remove(path.c_str());
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
