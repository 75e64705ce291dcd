// Starting commands through the shell, quoting their values, and keeping the registry right.
#include "frame/command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <tuple>
#include <vector>

#include "frame/shell_quote.h"
#include "support/processes.h"

namespace Network_tools {
namespace {

std::string run(const std::string& command, int& exit_status) {
  Pipe_registry registry;
  return parse_bash_command_output(launch_bash_command(command, registry), exit_status, registry);
}

TEST(CommandTest, OutputIsWholeAndTheStatusIsTheShells) {
  // A shell killed by a signal must not look like success; the input is /dev/null, not ours.
  const std::tuple<std::string, std::string, int> cases[] = {
      {"head -c 5000 /dev/zero | tr '\\0' x", std::string(5000, 'x'), 0},
      {"printf 'a\\n\\n'; exit 3", "a\n\n", 3},
      {"kill -9 $$", "", 128 + 9},
      {"wc -c", "0\n", 0},
      {"/nonexistent/tool 2>&1", "sh: 1: /nonexistent/tool: not found\n", 127},
  };
  for (const auto& [command, text, status] : cases) {
    int exit_status = -1;
    EXPECT_EQ(run(command, exit_status), text) << command;
    EXPECT_EQ(exit_status, status) << command;
  }
  int status = 42;
  EXPECT_EQ(parse_bash_command_output(nullptr, status), "");
  EXPECT_EQ(status, 42);
}

TEST(CommandTest, QuotedValuesReachTheCommandAsOneWordAndNeverRunAnything) {
  for (const char* word : {"www.example.com", "2001:db8::1", "fe80::1%eth0", "a,b+c=d_e-f@g/8"}) {
    EXPECT_EQ(shell_quote(word), word);  // command lines stay as typed by hand
  }
  const std::string target = ::testing::TempDir() + "quote-test-" + std::to_string(getpid());
  const std::string touch = "touch " + target;
  std::vector<std::string> values = {"",
                                     "it's",
                                     "a\"b\\c",
                                     "*",
                                     "-n",
                                     "$HOME",
                                     "a;echo",
                                     "a$(" + touch + ")",
                                     "a`" + touch + "`\tb #x"};
  for (const char* joint : {";", "|", " && ", "\n"}) values.push_back("a" + (joint + touch));
  for (const std::string& value : values) {
    int status = -1;
    EXPECT_EQ(run("printf '%s|' " + shell_quote(value), status), value + "|") << value;
    EXPECT_FALSE(std::filesystem::exists(target)) << "ran a command from: " << value;
  }
  std::filesystem::remove(target);
}

TEST(CommandTest, ThreadsStartAndFinishCommandsTogether) {
  Pipe_registry registry;
  std::vector<int> correct(6, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < 6; ++t) {
    workers.emplace_back([&registry, &correct, t] {
      for (int c = 0; c < 15; ++c) {
        const std::string word = std::to_string(t) + "-" + std::to_string(c);
        int status = -1;
        FILE* stream =
            launch_bash_command("echo " + word + "; exit " + std::to_string(c), registry);
        if (parse_bash_command_output(stream, status, registry) == word + "\n" && status == c) {
          ++correct[t];
        }
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(correct, std::vector<int>(6, 15));
  EXPECT_EQ(registry.size(), 0u);
}

TEST(CommandTest, CleanUpEndsTheWholeCommandWithoutWaitingForIt) {
  Pipe_registry registry;
  FILE* stream = launch_bash_command("sleep 600 & echo $!; wait", registry);
  char line[32] = {};
  ASSERT_NE(fgets(line, sizeof line, stream), nullptr);
  registry.close_all();
  EXPECT_EQ(registry.size(), 0u);
  EXPECT_TRUE(testing_support::process_gone_or_killed(static_cast<pid_t>(std::atol(line))));
}

// What the signal handler does while other threads start commands (the ping diagnostics): once
// the launches are stopped and the registered commands killed, no command starts any more, and
// every command that a thread had already started was reached by the kill.
TEST(CommandTest, NoCommandOutlivesTheKillOfAProcessWhoseThreadsStartCommands) {
  Pipe_registry registry;
  std::atomic<bool> killed{false};
  std::atomic<int> started{0}, escaped{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&] {
      // Bounded, so that a failing test ends too.
      for (int launch = 0; launch < 20; ++launch) {
        FILE* stream = launch_bash_command("sleep 0.3", registry);
        if (stream == nullptr) break;
        ++started;
        // Seen after the kill, a command must have been killed by it.
        const bool after_kill = killed.load();
        int status = -1;
        parse_bash_command_output(stream, status, registry);
        if (after_kill && status != 128 + SIGKILL) ++escaped;
      }
    });
  }
  while (started.load() < 8) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  registry.stop_launches();
  registry.kill_all();
  killed = true;
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(escaped.load(), 0);
  EXPECT_EQ(launch_bash_command("true", registry), nullptr);
}

}  // namespace
}  // namespace Network_tools
