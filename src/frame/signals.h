// Handling of the signals that end a tool (a crash, an abort, a request to terminate from a
// supervisor or a terminal): no native tool outlives the process.
#ifndef NETWORK_TOOLS_FRAME_SIGNALS_H_
#define NETWORK_TOOLS_FRAME_SIGNALS_H_

#include <signal.h>

#include <array>

namespace Network_tools {

// The signals that `register_handlers` handles, in the order of installation. The native tools
// run in process groups of their own, so a terminal's Ctrl-C, hang-up or Ctrl-\ reaches only
// the tool process: its handler must end them.
inline constexpr std::array<int, 6> handled_signals = {SIGSEGV, SIGABRT, SIGTERM,
                                                       SIGINT,  SIGHUP,  SIGQUIT};

// Installs `sig_handler` for each of `handled_signals`, in that order, except that SIGINT,
// SIGHUP and SIGQUIT stay ignored when the process was started with them ignored (as nohup and
// background jobs of a shell start it). Throws std::runtime_error "Cannot set action to SIGTERM
// (errno=22)" and the like on failure.
void register_handlers();

// Stops every later launch and kills every registered command, including those that other
// threads were starting (see `Pipe_registry::stop_launches`), writes "Segmentation fault",
// "Aborted", "Terminated" (SIGTERM, SIGINT, SIGHUP, SIGQUIT) or "Unknown" and a line end on
// standard error, and ends the process with status 1. Never returns.
[[noreturn]] void sig_handler(int signal_number);

// Ends the process with `status` after killing every registered command; for fatal errors.
[[noreturn]] void exit_process(int status);

// Replaces what `exit_process` does (killing the registered commands and std::exit); the
// handler must not return (it may throw). A program that feeds many inputs to the readers in one
// process, starting no command (the fuzz targets and their replay), installs one that throws, so
// that an input which ends a run ends only that input. nullptr restores the real ending.
using exit_handler_t = void (*)(int status);
void set_exit_handler(exit_handler_t handler);

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_SIGNALS_H_
