// Helpers for tests that start processes: is a process still alive, and waiting for it to go.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace Network_tools::testing_support {

// True while `pid` exists and is not a zombie.
inline bool process_alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const std::size_t after_name = line.rfind(')');
  if (after_name == std::string::npos || after_name + 2 >= line.size()) return false;
  const char state = line[after_name + 2];
  return state != 'Z' && state != 'X';
}

// Waits up to ten seconds for `pid` to be gone; a killed process needs a moment to die. Returns
// whether it went.
inline bool process_gone(pid_t pid) {
  for (int i = 0; i < 1000; ++i) {
    if (!process_alive(pid)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Like process_gone, but a process that stays is killed, so that a failing test leaves nothing
// running behind it.
inline bool process_gone_or_killed(pid_t pid) {
  if (process_gone(pid)) return true;
  kill(pid, SIGKILL);
  return false;
}

// Waits up to ten seconds for the child `pid` to end and stores its wait status. A child that
// does not end is killed and reaped, and false returned: the test fails instead of hanging.
inline bool wait_for_child(pid_t pid, int& status) {
  for (int i = 0; i < 1000; ++i) {
    if (waitpid(pid, &status, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return false;
}

}  // namespace Network_tools::testing_support

#endif  // NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_
