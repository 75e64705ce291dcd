// The signal handler and its installation.
#include "frame/signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "frame/pipes.h"

namespace Network_tools {
namespace {

std::atomic<exit_handler_t> exit_handler{nullptr};

}  // namespace

void set_exit_handler(exit_handler_t handler) {
  exit_handler = handler;
}

void register_handlers() {
  for (const int number : handled_signals) {
    const bool request = number == SIGINT || number == SIGHUP || number == SIGQUIT;
    struct sigaction current {};
    if (request && sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = sig_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(number, &action, nullptr) != 0) {
      throw std::runtime_error(std::string("Cannot set action to SIG") + sigabbrev_np(number) +
                               " (errno=" + std::to_string(errno) + ")");
    }
  }
}

void sig_handler(int signal_number) {
  pipes.stop_launches();
  pipes.kill_all();

  const char* word = "Unknown\n";
  if (signal_number == SIGSEGV) word = "Segmentation fault\n";
  if (signal_number == SIGABRT) word = "Aborted\n";
  if (signal_number == SIGTERM || signal_number == SIGINT || signal_number == SIGHUP ||
      signal_number == SIGQUIT) {
    word = "Terminated\n";
  }
  // write and _exit, not stdio and exit: the signal may have interrupted either of them, and
  // nothing is left in an output buffer (the result is printed and flushed only at the end).
  const ssize_t written = write(STDERR_FILENO, word, std::strlen(word));
  static_cast<void>(written);
  _exit(1);
}

void exit_process(int status) {
  if (const exit_handler_t handler = exit_handler; handler != nullptr) handler(status);
  pipes.stop_launches();
  pipes.kill_all();
  // NOLINTNEXTLINE(concurrency-mt-unsafe): called on the main thread, workers joined
  std::exit(status);
}

}  // namespace Network_tools
