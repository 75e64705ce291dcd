// Each tool ended by a signal while its native tool runs inside the lab, as a terminal's Ctrl-C,
// Ctrl-\ or hang-up, or a supervisor, would end it. The native tools run in process groups of
// their own, out of reach of the terminal: the tool itself must end them.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../unit/support/processes.h"
#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::command_name;
using testing_support::descendants;
using testing_support::Started_tool;

// True when `pid` runs `name` and catches SIGHUP, SIGINT, SIGQUIT and SIGTERM.
bool handlers_installed(pid_t pid, const std::string& name) {
  if (command_name(pid) != name) return false;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
    const unsigned long long wanted =
        1ULL << (SIGHUP - 1) | 1ULL << (SIGINT - 1) | 1ULL << (SIGQUIT - 1) | 1ULL << (SIGTERM - 1);
    return (caught & wanted) == wanted;
  }
  return false;
}

// True when a process named `name` runs below `pid` ("" asks for nothing).
bool runs_below(pid_t pid, const std::string& name) {
  if (name.empty()) return true;
  for (const pid_t below : descendants(pid)) {
    if (command_name(below) == name) return true;
  }
  return false;
}

// Waits up to `limit` for `ready`.
template <typename Ready>
bool wait_until(Ready ready, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  for (auto waited = std::chrono::milliseconds(0); waited < limit;
       waited += std::chrono::milliseconds(10)) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// The names of the processes still alive below this one two seconds after the tool ended
// (reaping those that died); they are killed, so that a failing run leaves nothing behind. A
// killed group dies within milliseconds, while a native tool left running lives on for
// seconds. This process is their subreaper: whatever the ended tool left behind comes here,
// and nothing of other users' runs.
std::string survivors() {
  std::vector<pid_t> left;
  const auto all_gone = [&left] {
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    left = descendants(getpid());
    return left.empty();
  };
  wait_until(all_gone, std::chrono::seconds(2));
  std::string names;
  for (const pid_t pid : left) {
    names += command_name(pid) + " ";
    kill(pid, SIGKILL);
  }
  return names;
}

TEST(ToolSignalsLab, NoDescendantOutlivesAToolEndedBySignal) {
  testing_support::ensure_lab_up();
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  struct Case {
    std::vector<std::string> arguments;  // the tool and its options
    std::string native;                  // the process to wait for before the signal
  };
  const std::vector<Case> cases = {
      {{"dig_wrapper", "-j", "-n", "127.53.5.1", "-w", "5000", "-r", "5", "-Q", "300", "-t", "a",
        "x.lab.test"},
       "dig"},
      {{"dig_wrapper", "-j", "-D", "-E", "127.53.5.1", "-n", "127.53.4.1", "-t", "a",
        "www.lab.test"},
       "delv"},
      {{"ping_wrapper", "-j", "-q", "50", "-w", "10", "-Q", "300", "127.53.5.1"}, "traceroute"},
      // Waiting for its document, which never comes within the test.
      {{"dns_experience"}, ""},
  };
  for (const int signal_number : {SIGINT, SIGHUP, SIGQUIT, SIGTERM}) {
    for (const Case& c : cases) {
      std::vector<std::string> command = {NT_SOURCE_DIR "/lab/dnslab", "exec",
                                          testing_support::built_tool(c.arguments[0])};
      command.insert(command.end(), c.arguments.begin() + 1, c.arguments.end());
      const std::string what = c.arguments[0] + " " + c.native + " " + sigabbrev_np(signal_number);
      Started_tool tool(command);
      ASSERT_TRUE(wait_until([&] {
        return handlers_installed(tool.pid(), c.arguments[0]) && runs_below(tool.pid(), c.native);
      })) << what;
      kill(tool.pid(), signal_number);
      EXPECT_EQ(tool.wait(), 1) << what;
      EXPECT_EQ(tool.out(), "") << what;
      EXPECT_TRUE(tool.err().ends_with("Terminated\n")) << what << "\n" << tool.err();
      EXPECT_EQ(survivors(), "") << what;
    }
  }
}

}  // namespace
}  // namespace Network_tools
