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
  const struct {
    int number;
    const char* name;
  } handled[] = {{SIGSEGV, "SIGSEGV"}, {SIGABRT, "SIGABRT"}, {SIGTERM, "SIGTERM"}};
  for (const auto& signal_entry : handled) {
    struct sigaction action {};
    action.sa_handler = sig_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (sigaction(signal_entry.number, &action, nullptr) != 0) {
      throw std::runtime_error(std::string("Cannot set action to ") + signal_entry.name +
                               " (errno=" + std::to_string(errno) + ")");
    }
  }
}

void sig_handler(int signal_number) {
  pipes.kill_all();

  const char* word = "Unknown\n";
  if (signal_number == SIGSEGV) word = "Segmentation fault\n";
  if (signal_number == SIGTERM) word = "Terminated\n";
  if (signal_number == SIGABRT) word = "Aborted\n";
  // write and _exit, not stdio and exit: the signal may have interrupted either of them, and
  // nothing is left in an output buffer (the result is printed and flushed only at the end).
  const ssize_t written = write(STDERR_FILENO, word, std::strlen(word));
  static_cast<void>(written);
  _exit(1);
}

void exit_process(int status) {
  if (const exit_handler_t handler = exit_handler; handler != nullptr) handler(status);
  pipes.kill_all();
  std::exit(status);
}

}  // namespace Network_tools
