// The signal handler and the fatal exit: no native tool outlives the process, and the process
// ends at once.
#include "frame/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "frame/command.h"
#include "support/processes.h"

namespace Network_tools {
namespace {

using testing_support::process_gone_or_killed;
using testing_support::wait_for_child;

// Forks a child that installs the handlers, starts a long sleep under a waiting shell, sends
// the sleep's pid to the parent and ends through `end`. Returns the child's pid and the sleep's.
template <typename End>
std::pair<pid_t, pid_t> start_child_with_tool(End end) {
  int ends[2];
  if (pipe(ends) != 0) return {-1, -1};
  const pid_t child = fork();
  if (child == 0) {
    register_handlers();
    FILE* stream = launch_bash_command("sleep 987 & echo $!; wait");
    char line[32] = {};
    if (stream == nullptr || fgets(line, sizeof line, stream) == nullptr) std::_Exit(2);
    if (write(ends[1], line, sizeof line) != sizeof line) std::_Exit(2);
    end(stream);
  }
  close(ends[1]);
  char line[32] = {};
  const bool got = read(ends[0], line, sizeof line) == sizeof line;
  close(ends[0]);
  return {child, got ? static_cast<pid_t>(std::atol(line)) : -1};
}

TEST(SignalsTest, FatalExitEndsTheRunningToolToo) {
  const auto [child, sleeper] = start_child_with_tool([](FILE*) { exit_process(1); });
  ASSERT_GT(sleeper, 0);
  int status = 0;
  EXPECT_TRUE(wait_for_child(child, status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(process_gone_or_killed(sleeper));
}

TEST(SignalsTest, CrashIsNamedAndEndsWithStatusOne) {
  register_handlers();
  EXPECT_EXIT(raise(SIGSEGV), ::testing::ExitedWithCode(1), "^Segmentation fault\n$");
  signal(SIGSEGV, SIG_DFL);
  signal(SIGABRT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
}

}  // namespace
}  // namespace Network_tools
