// Helpers for tests that start processes: waiting, with a limit, for a process to be gone, and
// running a built tool with a standard input that the test writes and may keep open.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_

#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Network_tools::testing_support {

// True while `pid` exists and is not a zombie.
inline bool process_alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') + 2 >= line.size()) return false;
  const char state = line[line.rfind(')') + 2];
  return state != 'Z' && state != 'X';
}

// Waits up to ten seconds for `pid` to be gone; one that stays is killed and false returned.
inline bool process_gone_or_killed(pid_t pid) {
  for (int i = 0; i < 1000 && process_alive(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!process_alive(pid)) return true;
  kill(pid, SIGKILL);
  return false;
}

// Waits up to ten seconds for the child `pid` to end; one that does not is killed and false
// returned.
inline bool wait_for_child(pid_t pid, int& status) {
  for (int i = 0; i < 1000; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

// The live processes below `pid`: its children, their children, and so on.
inline std::vector<pid_t> descendants(pid_t pid) {
  std::vector<pid_t> found;
  const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
    std::ifstream children(task.path() / "children");
    for (pid_t child = 0; children >> child;) {
      if (!process_alive(child)) continue;
      found.push_back(child);
      for (const pid_t below : descendants(child)) found.push_back(below);
    }
  }
  return found;
}

// The command name of `pid` ("dig"), or "" when it is gone.
inline std::string command_name(pid_t pid) {
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(comm, name);
  return name;
}

// In a forked child: runs `arguments` (the first searched in PATH) as a shell with job control
// would, every signal at its default action and none blocked; ends with 127 when it cannot.
[[noreturn]] inline void exec_as_a_shell_would(const std::vector<std::string>& arguments) {
  for (int number = 1; number < NSIG; ++number) signal(number, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  std::vector<char*> argv;
  for (const std::string& word : arguments) argv.push_back(const_cast<char*>(word.c_str()));
  argv.push_back(nullptr);
  execvp(argv[0], argv.data());
  _exit(127);
}

// A tool started with `arguments` (the executable first) as a job-control shell starts it,
// every signal at its default action and unblocked. `input` is written to its standard input, a
// socket left open after it; standard output and error go to files. Destroying it kills the tool.
class Started_tool {
 public:
  explicit Started_tool(const std::vector<std::string>& arguments, std::string input = "") {
    char pattern[] = "/tmp/started_tool_XXXXXX";
    folder_ = mkdtemp(pattern) != nullptr ? pattern : "/nonexistent";
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) return;
    pid_ = fork();
    if (pid_ == 0) become(arguments, ends[1]);
    close(ends[1]);
    input_ = ends[0];
    writer_ = std::thread([descriptor = input_, text = std::move(input)] {
      for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t count =
            send(descriptor, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return;
        sent += static_cast<std::size_t>(count);
      }
    });
  }
  ~Started_tool() {
    if (pid_ > 0 && !ended_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    shutdown(input_, SHUT_RDWR);
    if (writer_.joinable()) writer_.join();
    close(input_);
    std::filesystem::remove_all(folder_);
  }
  Started_tool(const Started_tool&) = delete;
  Started_tool& operator=(const Started_tool&) = delete;

  pid_t pid() const { return pid_; }

  // The exit status, or 128 + the signal number; -1 (killed) when not ended after ten seconds.
  int wait() {
    int status = 0;
    ended_ = pid_ > 0;
    if (!ended_ || !wait_for_child(pid_, status)) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::string out() const { return read(folder_ + "/out"); }
  std::string err() const { return read(folder_ + "/err"); }

 private:
  [[noreturn]] void become(const std::vector<std::string>& arguments, int input) {
    if (dup2(input, STDIN_FILENO) < 0 || !freopen((folder_ + "/out").c_str(), "w", stdout) ||
        !freopen((folder_ + "/err").c_str(), "w", stderr)) {
      _exit(127);
    }
    exec_as_a_shell_would(arguments);
  }

  static std::string read(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::string folder_;
  pid_t pid_ = -1;
  int input_ = -1;
  bool ended_ = false;
  std::thread writer_;
};

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_
