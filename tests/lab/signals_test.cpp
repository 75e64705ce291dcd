// Each tool ended by a signal while its native tool runs inside the lab, as a terminal's Ctrl-C,
// Ctrl-\ or hang-up, or a supervisor, would end it. The native tools run in process groups of
// their own, out of reach of the terminal: the tool itself must end them.
#include <gtest/gtest.h>
#include <sys/prctl.h>

#include <string>
#include <vector>

#include "../unit/support/processes.h"
#include "support/lab_run.h"

namespace Network_tools {
namespace {

using testing_support::command_name;
using testing_support::descendants;

// True when `pid` catches SIGHUP, SIGINT, SIGQUIT and SIGTERM.
bool handlers_installed(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigCgt:", 0) != 0) continue;
    const unsigned long long wanted =
        1ULL << (SIGHUP - 1) | 1ULL << (SIGINT - 1) | 1ULL << (SIGQUIT - 1) | 1ULL << (SIGTERM - 1);
    return (std::stoull(line.substr(7), nullptr, 16) & wanted) == wanted;
  }
  return false;
}

// Waits up to `limit` for `ready`.
template <typename Ready>
bool wait_until(Ready ready, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

TEST(ToolSignalsLab, NoDescendantOutlivesAToolEndedBySignal) {
  testing_support::ensure_lab_up();
  // Whatever an ended tool leaves behind comes to this process, and nothing of other runs.
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  // A tool with its options, and the native tool to wait for before the signal ("": none),
  // running that many times at once.
  struct Case {
    std::vector<std::string> arguments;
    std::string native;
    std::size_t running = 1;
  };
  const std::vector<Case> cases = {
      {{"dig_wrapper", "-j", "-n", "127.53.5.1", "-w", "5000", "-r", "5", "-Q", "300", "-t", "a",
        "x.lab.test"},
       "dig"},
      {{"dig_wrapper", "-j", "-D", "-E", "127.53.5.1", "-n", "127.53.4.1", "-t", "a",
        "www.lab.test"},
       "delv"},
      {{"ping_wrapper", "-j", "-q", "50", "-w", "10", "-Q", "300", "127.53.5.1"}, "traceroute"},
      // Asking the eight silent servers of a level at once, from eight threads.
      {{"dns_experience", "-j", "-g", "-G", "-w", "5000", "www.lab.outage"}, "dig"},
      // Waiting for its document, which never comes.
      {{"dns_experience"}, ""},
      // Asking the silent server of www.timeout.test.
      {{"dns_experience", "-j", "-w", "5000", "www.timeout.test"}, "dig"},
      // Pinging both silent servers of www.stalled.test, each on a thread of its own.
      {{"dns_experience", "-j", "-g", "-w", "1000", "-r", "1", "-P", "10", "www.stalled.test"},
       "traceroute",
       2},
  };
  for (const int signal_number : {SIGINT, SIGHUP, SIGQUIT, SIGTERM}) {
    for (const auto& [arguments, native, count] : cases) {
      std::vector<std::string> command = {NT_SOURCE_DIR "/lab/dnslab", "exec"};
      command.insert(command.end(), arguments.begin(), arguments.end());
      command[2] = testing_support::built_tool(arguments[0]);
      const std::string what = arguments[0] + " " + native + " SIG" + sigabbrev_np(signal_number);
      testing_support::Started_tool tool(command);
      const auto running = [&, &native = native, &name = arguments[0], count = count] {
        if (command_name(tool.pid()) != name || !handlers_installed(tool.pid())) return false;
        std::size_t found = 0;
        for (const pid_t below : descendants(tool.pid())) {
          if (command_name(below) == native) ++found;
        }
        return native.empty() || found >= count;
      };
      ASSERT_TRUE(wait_until(running, std::chrono::seconds(10))) << what;
      kill(tool.pid(), signal_number);
      EXPECT_EQ(tool.wait(), 1) << what;
      EXPECT_EQ(tool.out(), "") << what;
      EXPECT_TRUE(tool.err().ends_with("Terminated\n")) << what << "\n" << tool.err();

      // A killed group is gone within milliseconds; a native tool left running lives on for
      // seconds.
      std::vector<pid_t> left;
      wait_until(
          [&left] {
            while (waitpid(-1, nullptr, WNOHANG) > 0) {
            }
            left = descendants(getpid());
            return left.empty();
          },
          std::chrono::seconds(2));
      for (const pid_t pid : left) {
        ADD_FAILURE() << what << " left " << command_name(pid) << " running";
        kill(pid, SIGKILL);
      }
    }
  }
}

}  // namespace
}  // namespace Network_tools
