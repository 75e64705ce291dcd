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

std::string run(const std::string& command, int& exit_status) {
  Pipe_registry registry;
  return parse_bash_command_output(launch_bash_command(command, registry), exit_status, registry);
}

TEST(CommandTest, OutputIsWholeAndTheStatusIsTheShells) {
  int status = -1;
  EXPECT_EQ(run("head -c 5000 /dev/zero | tr '\\0' x", status), std::string(5000, 'x'));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(run("printf 'a\\n\\n'; exit 3", status), "a\n\n");
  EXPECT_EQ(status, 3);
  // A shell killed by a signal must not look like success.
  run("kill -9 $$", status);
  EXPECT_EQ(status, 128 + 9);
  // The command reads /dev/null, not our standard input (which may be a terminal or the input
  // document).
  EXPECT_EQ(run("wc -c", status), "0\n");
}

TEST(CommandTest, CommandsThatCannotStart) {
  int status = -1;
  const std::string text = run("/nonexistent/native-tool -v 2>&1", status);
  EXPECT_EQ(status, 127);
  EXPECT_NE(text.find("/nonexistent/native-tool: not found"), std::string::npos) << text;

  status = 42;
  EXPECT_EQ(parse_bash_command_output(nullptr, status), "");
  EXPECT_EQ(status, 42);

  // Without a free file descriptor no pipe can be made: null, the reason, nothing registered.
  const auto without_descriptors = [] {
    Pipe_registry registry;
    const rlimit none{0, 0};
    setrlimit(RLIMIT_NOFILE, &none);
    errno = 0;
    const bool refused = launch_bash_command("echo never", registry) == nullptr;
    std::_Exit(refused && errno == EMFILE && registry.size() == 0 ? 0 : 1);
  };
  EXPECT_EXIT(without_descriptors(), ::testing::ExitedWithCode(0), "");
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
        const std::string text = parse_bash_command_output(stream, status, registry);
        if (text == word + "\n" && status == c) ++correct[t];
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(correct, std::vector<int>(6, 15));
  EXPECT_EQ(registry.size(), 0u);
}

TEST(CommandTest, CleanUpEndsTheWholeCommandWithoutWaitingForIt) {
  // Each shell prints the pid of a background sleep of its own, then waits for it.
  Pipe_registry registry;
  pid_t sleepers[2] = {};
  FILE* streams[2] = {};
  for (int i = 0; i < 2; ++i) {
    streams[i] = launch_bash_command("sleep 600 & echo $!; wait", registry);
    char line[32] = {};
    ASSERT_NE(fgets(line, sizeof line, streams[i]), nullptr);
    sleepers[i] = static_cast<pid_t>(std::atol(line));
  }

  // What the signal handler does: kill, touching no stream; the reader then sees the end.
  registry.kill_all();
  EXPECT_TRUE(process_gone_or_killed(sleepers[0]));
  int status = 0;
  parse_bash_command_output(streams[0], status, registry);
  EXPECT_NE(status, 0);

  // What the process entry does after a failed run.
  registry.close_all();
  EXPECT_EQ(registry.size(), 0u);
  EXPECT_TRUE(process_gone_or_killed(sleepers[1]));
}

}  // namespace
}  // namespace Network_tools
