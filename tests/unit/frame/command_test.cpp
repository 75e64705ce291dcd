// Starting commands through the shell, reading them, and keeping the registry right.
#include "frame/command.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdlib>
#include <thread>
#include <vector>

#include "support/processes.h"

namespace Network_tools {
namespace {

using testing_support::process_gone_or_killed;

// Runs `command` through the launcher and reader with a registry of its own.
std::string run(const std::string& command, int& exit_status) {
  Pipe_registry registry;
  FILE* stream = launch_bash_command(command, registry);
  EXPECT_NE(stream, nullptr) << command;
  return parse_bash_command_output(stream, exit_status, registry);
}

// The first line the command prints, read straight from its stream, as a pid.
pid_t read_pid(FILE* stream) {
  char line[64] = {};
  if (fgets(line, sizeof line, stream) == nullptr) return 0;
  return static_cast<pid_t>(std::atol(line));
}

TEST(CommandTest, OutputIsReturnedWholeWhateverItsLineLength) {
  int status = -1;
  const std::string one_line = run("head -c 5000 /dev/zero | tr '\\0' x", status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(one_line, std::string(5000, 'x'));

  const std::string lines =
      run("printf 'a\\n\\nb\\n'; head -c 3000 /dev/zero | tr '\\0' y", status);
  EXPECT_EQ(lines, "a\n\nb\n" + std::string(3000, 'y'));
}

TEST(CommandTest, ExitStatusIsTheShells) {
  int status = -1;
  EXPECT_EQ(run("echo partial; exit 3", status), "partial\n");
  EXPECT_EQ(status, 3);
  run("true", status);
  EXPECT_EQ(status, 0);
  // A shell killed by a signal must not look like success.
  run("kill -9 $$", status);
  EXPECT_EQ(status, 128 + 9);
}

TEST(CommandTest, ErrorTextArrivesWithRedirection) {
  int status = -1;
  const std::string text = run("/nonexistent/native-tool -v 2>&1", status);
  EXPECT_EQ(status, 127);
  EXPECT_NE(text.find("/nonexistent/native-tool"), std::string::npos) << text;
  EXPECT_NE(text.find("not found"), std::string::npos) << text;
}

TEST(CommandTest, CommandsDoNotReadOurStandardInput) {
  int status = -1;
  EXPECT_EQ(run("wc -c", status), "0\n");
}

TEST(CommandTest, NullStreamGivesNothingAndLeavesTheStatus) {
  int status = 42;
  EXPECT_EQ(parse_bash_command_output(nullptr, status), "");
  EXPECT_EQ(status, 42);
}

// Tries to start a command without a free file descriptor (so no pipe can be made); exits 0
// when that gave a null stream with the reason in errno and registered nothing.
void start_without_descriptors() {
  Pipe_registry registry;
  const rlimit none{0, 0};
  setrlimit(RLIMIT_NOFILE, &none);
  errno = 0;
  FILE* stream = launch_bash_command("echo never", registry);
  const bool as_expected = stream == nullptr && errno == EMFILE && registry.size() == 0;
  std::_Exit(as_expected ? 0 : 1);
}

TEST(CommandTest, CommandThatCannotStartGivesNullAndRegistersNothing) {
  EXPECT_EXIT(start_without_descriptors(), ::testing::ExitedWithCode(0), "");
}

TEST(CommandTest, RegistryHoldsExactlyTheOpenStreams) {
  Pipe_registry registry;
  FILE* first = launch_bash_command("echo 1", registry);
  FILE* second = launch_bash_command("echo 2", registry);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(registry.streams(), (std::vector<FILE*>{first, second}));

  int status = -1;
  EXPECT_EQ(parse_bash_command_output(first, status, registry), "1\n");
  EXPECT_FALSE(registry.contains(first));
  EXPECT_EQ(registry.streams(), std::vector<FILE*>{second});
  EXPECT_EQ(parse_bash_command_output(second, status, registry), "2\n");
  EXPECT_EQ(registry.size(), 0u);
}

TEST(CommandTest, ThreadsStartAndFinishCommandsTogether) {
  Pipe_registry registry;
  constexpr int threads = 6;
  constexpr int commands = 15;
  std::vector<int> correct(threads, 0);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&registry, &correct, t] {
      for (int c = 0; c < commands; ++c) {
        const std::string expected = std::to_string(t) + "-" + std::to_string(c);
        int status = -1;
        FILE* stream =
            launch_bash_command("echo " + expected + "; exit " + std::to_string(c), registry);
        if (parse_bash_command_output(stream, status, registry) == expected + "\n" && status == c) {
          ++correct[t];
        }
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int t = 0; t < threads; ++t) EXPECT_EQ(correct[t], commands) << "thread " << t;
  EXPECT_EQ(registry.size(), 0u);
}

TEST(CommandTest, CloseAllEndsRunningCommandsWithoutWaitingForThem) {
  Pipe_registry registry;
  // The shell prints the pid of a background sleep of its own, then waits for it.
  FILE* stream = launch_bash_command("sleep 600 & echo $!; wait", registry);
  ASSERT_NE(stream, nullptr);
  const pid_t sleeper = read_pid(stream);
  ASSERT_GT(sleeper, 0);

  registry.close_all();
  EXPECT_EQ(registry.size(), 0u);
  EXPECT_TRUE(process_gone_or_killed(sleeper)) << "the sleep of the closed command still ran";
}

TEST(CommandTest, KillAllEndsTheWholeProcessGroup) {
  Pipe_registry registry;
  FILE* stream = launch_bash_command("sleep 600 & echo $!; wait", registry);
  ASSERT_NE(stream, nullptr);
  const pid_t sleeper = read_pid(stream);
  ASSERT_GT(sleeper, 0);

  registry.kill_all();
  EXPECT_TRUE(process_gone_or_killed(sleeper));
  // The reader still gets the end of the stream and a status that is not success.
  int status = 0;
  parse_bash_command_output(stream, status, registry);
  EXPECT_NE(status, 0);
}

}  // namespace
}  // namespace Network_tools
