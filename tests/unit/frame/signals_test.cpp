// The signal handler: no native tool outlives the process, and the process ends at once.
#include "frame/signals.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "frame/command.h"
#include "support/processes.h"

namespace Network_tools {
namespace {

std::string read_all(int descriptor) {
  std::string text;
  char buffer[256];
  ssize_t count = 0;
  while ((count = read(descriptor, buffer, sizeof buffer)) > 0) text.append(buffer, count);
  return text;
}

TEST(SignalsTest, TerminationKillsTheRunningToolAndEndsWithStatusOne) {
  // Orphans of the child come to this process, so we can see how the tool ended.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  int error_pipe[2];
  int pid_pipe[2];
  ASSERT_EQ(pipe(error_pipe), 0);
  ASSERT_EQ(pipe(pid_pipe), 0);

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    dup2(error_pipe[1], STDERR_FILENO);
    close(error_pipe[0]);
    close(pid_pipe[0]);
    register_handlers();
    // A tool that runs for long under a shell that waits for it.
    FILE* stream = launch_bash_command("sleep 987 & echo $!; wait");
    char line[32] = {};
    if (stream == nullptr || fgets(line, sizeof line, stream) == nullptr) std::_Exit(2);
    const ssize_t written = write(pid_pipe[1], line, sizeof line);
    close(pid_pipe[1]);
    int status = 0;
    parse_bash_command_output(stream, status);  // blocks until the signal comes
    std::_Exit(written > 0 ? 3 : 4);
  }
  close(error_pipe[1]);
  close(pid_pipe[1]);
  char line[32] = {};
  ASSERT_EQ(read(pid_pipe[0], line, sizeof line), static_cast<ssize_t>(sizeof line));
  const pid_t sleeper = static_cast<pid_t>(std::atol(line));
  ASSERT_GT(sleeper, 0);

  ASSERT_EQ(kill(child, SIGTERM), 0);
  int status = 0;
  EXPECT_TRUE(testing_support::wait_for_child(child, status)) << "the handler waited for the tool";
  // The sleep was killed, not left to finish or to run on. Checked first: while it runs it
  // holds the standard error pipe open.
  EXPECT_TRUE(testing_support::process_gone_or_killed(sleeper));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(read_all(error_pipe[0]), "Terminated\n");

  int sleeper_status = 0;
  ASSERT_EQ(waitpid(sleeper, &sleeper_status, 0), sleeper);
  EXPECT_TRUE(WIFSIGNALED(sleeper_status) && WTERMSIG(sleeper_status) == SIGKILL);
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  prctl(PR_SET_CHILD_SUBREAPER, 0);
  close(error_pipe[0]);
  close(pid_pipe[0]);
}

TEST(SignalsTest, HandlerNamesTheSignal) {
  EXPECT_EXIT(
      {
        register_handlers();
        std::abort();
      },
      ::testing::ExitedWithCode(1), "^Aborted\n$");
  EXPECT_EXIT(
      {
        register_handlers();
        raise(SIGSEGV);
      },
      ::testing::ExitedWithCode(1), "^Segmentation fault\n$");
  EXPECT_EXIT(
      {
        register_handlers();
        raise(SIGTERM);
      },
      ::testing::ExitedWithCode(1), "^Terminated\n$");
  EXPECT_EXIT(sig_handler(SIGUSR1), ::testing::ExitedWithCode(1), "^Unknown\n$");
}

TEST(SignalsTest, FatalExitEndsRegisteredCommandsToo) {
  int pid_pipe[2];
  ASSERT_EQ(pipe(pid_pipe), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(pid_pipe[0]);
    FILE* stream = launch_bash_command("sleep 987 & echo $!; wait");
    char line[32] = {};
    if (stream == nullptr || fgets(line, sizeof line, stream) == nullptr) std::_Exit(2);
    const ssize_t written = write(pid_pipe[1], line, sizeof line);
    exit_process(written > 0 ? 1 : 3);
  }
  close(pid_pipe[1]);
  char line[32] = {};
  ASSERT_EQ(read(pid_pipe[0], line, sizeof line), static_cast<ssize_t>(sizeof line));
  close(pid_pipe[0]);
  int status = 0;
  EXPECT_TRUE(testing_support::wait_for_child(child, status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_TRUE(testing_support::process_gone_or_killed(static_cast<pid_t>(std::atol(line))));
}

}  // namespace
}  // namespace Network_tools
