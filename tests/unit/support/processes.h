// Helpers for tests that start processes: waiting, with a limit, for a process to be gone.
#ifndef NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_
#define NETWORK_TOOLS_TESTS_SUPPORT_PROCESSES_H_

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

namespace Network_tools::testing_support {

// True while `pid` exists and is not a zombie.
inline bool process_alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') + 2 >= line.size()) return false;
  const char state = line[line.rfind(')') + 2];
  return state != 'Z' && state != 'X';
}

// Waits up to ten seconds for `pid` to be gone; one that stays is killed, so that a failing
// test leaves nothing behind, and false returned.
inline bool process_gone_or_killed(pid_t pid) {
  for (int i = 0; i < 1000 && process_alive(pid); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!process_alive(pid)) return true;
  kill(pid, SIGKILL);
  return false;
}

// Waits up to ten seconds for the child `pid` to end; one that does not is killed and false
// returned, so that the test fails instead of hanging.
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
