// Our own popen: fork and exec of /bin/sh -c, with the child recorded in the registry.
#include "frame/command.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "frame/signal_block.h"
#include "frame/signals.h"

namespace Network_tools {
namespace {

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void become_shell(const char* const* arguments, int output, int input, pid_t parent,
                               const sigset_t& mask) {
  setpgid(0, 0);
  // If this process dies without its handler running (SIGKILL), the shell goes too.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);

  if (output == STDOUT_FILENO) {
    fcntl(output, F_SETFD, 0);
  } else {
    dup2(output, STDOUT_FILENO);
  }
  if (input >= 0 && input != STDIN_FILENO) dup2(input, STDIN_FILENO);

  // Our handlers must not run in the child (it would kill its parent's other commands); a
  // signal the tool process was told to ignore stays ignored for the command too.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  sigemptyset(&default_action.sa_mask);
  for (const int signal_number : handled_signals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      sigaction(signal_number, &default_action, nullptr);
    }
  }
  pthread_sigmask(SIG_SETMASK, &mask, nullptr);

  execve("/bin/sh", const_cast<char* const*>(arguments), environ);
  _exit(127);
}

}  // namespace

FILE* launch_bash_command(const std::string& command, Pipe_registry& registry) {
  // Blocked from before the fork until the child is registered, so that a signal in between
  // still finds it.
  Signal_block block;
  if (!registry.begin_launch()) {
    // The process is ending: nothing may start any more.
    errno = ECANCELED;
    return nullptr;
  }
  // Before the signals are unblocked again.
  struct Launch_end {
    Pipe_registry& registry;
    ~Launch_end() { registry.end_launch(); }
  } launch_end{registry};

  std::array<int, 2> ends{};
  if (pipe2(ends.data(), O_CLOEXEC) != 0) return nullptr;
  const int null_input = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const std::array<const char*, 4> arguments{"sh", "-c", command.c_str(), nullptr};
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid == 0) become_shell(arguments.data(), ends[1], null_input, parent, block.previous_mask());

  const int fork_error = errno;
  close(ends[1]);
  if (null_input >= 0) close(null_input);
  if (pid < 0) {
    close(ends[0]);
    errno = fork_error;
    return nullptr;
  }
  // Also done here: whichever of parent and child comes first makes the group exist.
  setpgid(pid, pid);

  FILE* stream = fdopen(ends[0], "r");
  const int open_error = errno;
  if (stream == nullptr || !registry.add(stream, pid)) {
    kill(-pid, SIGKILL);
    if (stream != nullptr) {
      static_cast<void>(fclose(stream));  // a read end: closing it cannot lose anything
    } else {
      close(ends[0]);
    }
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    errno = stream == nullptr ? open_error : EMFILE;
    return nullptr;
  }
  return stream;
}

std::string parse_bash_command_output(FILE* stream, int& exit_status, Pipe_registry& registry) {
  if (stream == nullptr) return "";

  std::string text;
  std::array<char, 1024> chunk{};
  while (true) {
    const std::size_t count = fread(chunk.data(), 1, chunk.size(), stream);
    text.append(chunk.data(), count);
    if (count == chunk.size()) continue;
    if (ferror(stream) != 0 && errno == EINTR) {
      clearerr(stream);
      continue;
    }
    break;
  }

  const pid_t pid = registry.take_stream(stream);
  static_cast<void>(fclose(stream));  // a read end, read to its end
  if (pid <= 0) return text;

  const int status = registry.finish(pid);
  if (status == -1) {
    exit_status = -1;
  } else if (WIFEXITED(status)) {
    exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    exit_status = 128 + WTERMSIG(status);
  }
  return text;
}

}  // namespace Network_tools
