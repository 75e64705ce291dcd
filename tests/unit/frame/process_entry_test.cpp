// The shared process entry: which wrapper is built, what is printed, and the exit status.
#include "frame/process_entry.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "frame/command.h"
#include "frame/exception.h"

namespace Network_tools {
namespace {

// A tool whose run ends in the way named by its first argument.
class Scripted_wrapper : public Wrapper {
 public:
  Scripted_wrapper(Logger& logger, std::string behaviour)
      : Wrapper(logger), behaviour_(std::move(behaviour)) {}

  void output_to_JSON(const std::string&) override {}
  std::string help_message() const override { return "Usage: scripted [ -h ] host\n"; }
  std::string version_message() const override { return "scripted 1.0\n"; }
  void handle_option(const JSON_member&) override {}
  void handle_setting(const JSON_member&) override {}
  void add_min_options() override {}
  std::string get_capability_related_to_setting(const std::string&) const override { return ""; }

  void input_sanity_check() override {
    if (behaviour_ == "help") throw exception(help_message(), 0, "");
    if (behaviour_ == "silent-help") throw exception("", 0, "");
  }

  std::string run() override {
    if (behaviour_ == "error-json") {
      throw_exception(1014, "qv-dns.results.error.nameserver-unreachable", "No answer", true, 0,
                      -1);
    }
    if (behaviour_ == "error-plain") {
      throw_exception(1014, "qv-dns.results.error.nameserver-unreachable", "No answer", false, 0,
                      -1);
    }
    if (behaviour_ == "standard") {
      // A tool started and not read before the failure must not outlive the run.
      launch_bash_command("sleep 600");
      throw std::out_of_range("vector::at");
    }
    if (behaviour_ == "empty") return "";
    return "{\"result\":\"" + behaviour_ + "\"}";
  }

 private:
  std::string behaviour_;
};

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

Outcome run_entry(std::vector<std::string> arguments, const std::string& input = "") {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  const Tool_factories factories{[](Logger& logger, std::streambuf* buffer) {
                                   std::istream stream(buffer);
                                   std::string behaviour;
                                   std::getline(stream, behaviour);
                                   return std::make_unique<Scripted_wrapper>(logger,
                                                                             "stdin:" + behaviour);
                                 },
                                 [](int, char** argv, Logger& logger) {
                                   return std::make_unique<Scripted_wrapper>(logger, argv[1]);
                                 }};
  std::stringbuf buffer(input);
  std::ostringstream out;
  std::ostringstream err;
  Outcome outcome;
  outcome.status = run_tool_process(static_cast<int>(arguments.size()), argv.data(), factories,
                                    &buffer, out, err);
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

TEST(ProcessEntryTest, OnlyAnEmptyCommandLineReadsTheInput) {
  const Outcome from_input = run_entry({"tool"}, "document\n");
  EXPECT_EQ(from_input.status, 0);
  EXPECT_EQ(from_input.out, R"({"result":"stdin:document"})");

  const Outcome from_arguments = run_entry({"tool", "done"}, "document\n");
  EXPECT_EQ(from_arguments.status, 0);
  // Printed as it is: no line end added.
  EXPECT_EQ(from_arguments.out, R"({"result":"done"})");
  EXPECT_EQ(from_arguments.err, "");
}

TEST(ProcessEntryTest, HelpTravelsAsCodeZeroAndEndsWithSuccess) {
  const Outcome help = run_entry({"tool", "help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, "Usage: scripted [ -h ] host\n");
  EXPECT_EQ(help.err, "");

  const Outcome silent = run_entry({"tool", "silent-help"});
  EXPECT_EQ(silent.status, 0);
  EXPECT_EQ(silent.out, "");
}

TEST(ProcessEntryTest, EmptyResultPrintsNothingAndSucceeds) {
  const Outcome empty = run_entry({"tool", "empty"});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "");
}

TEST(ProcessEntryTest, TestFailureIsLoggedAndItsDocumentPrinted) {
  const Outcome failure = run_entry({"tool", "error-json"});
  EXPECT_EQ(failure.status, 1);
  EXPECT_NE(failure.out.find(R"("common.results.error-code":"qv-dns.results.error.)"
                             R"(nameserver-unreachable")"),
            std::string::npos)
      << failure.out;
  EXPECT_EQ(failure.out.find('\n'), std::string::npos);
  EXPECT_EQ(failure.err.rfind("[ERROR] ", 0), 0u) << failure.err;
  EXPECT_NE(failure.err.find(" - No answer (qv-dns.results.error.nameserver-unreachable)\n"),
            std::string::npos)
      << failure.err;

  const Outcome plain = run_entry({"tool", "error-plain"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out, "");
  EXPECT_NE(plain.err.find("[ERROR] "), std::string::npos);
}

TEST(ProcessEntryTest, StandardExceptionIsReportedAndLeavesNoTool) {
  const Outcome failure = run_entry({"tool", "standard"});
  EXPECT_EQ(failure.status, 1);
  EXPECT_EQ(failure.out, "");
  EXPECT_EQ(failure.err, "Caught exception: vector::at\n");
  EXPECT_EQ(pipes.size(), 0u);
}

TEST(ProcessEntryTest, AnythingElseThrownEndsInTheAbortHandler) {
  const Tool_factories factories{
      [](Logger&, std::streambuf*) -> std::unique_ptr<Wrapper> { throw 42; },
      [](int, char**, Logger&) -> std::unique_ptr<Wrapper> { throw 42; }};
  char name[] = "tool";
  char* argv[] = {name, nullptr};
  // As from `main`: nothing catches it there, so the run-time aborts.
  const auto as_main = [&]() noexcept { run_tool_process(1, argv, factories); };
  EXPECT_EXIT(as_main(), ::testing::ExitedWithCode(1), "\nAborted\n$");
}

}  // namespace
}  // namespace Network_tools
