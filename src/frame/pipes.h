// The process-wide registry of running shell commands (native tools) and their output streams.
#ifndef NETWORK_TOOLS_FRAME_PIPES_H_
#define NETWORK_TOOLS_FRAME_PIPES_H_

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>

namespace Network_tools {

// Every command started by `launch_bash_command` is recorded here with its output stream and
// the pid of its shell, which leads a process group of its own. A stream leaves the registry
// when its reader closes it, so clean-up never sees a closed stream; the child leaves when it
// has been reaped, so the signal handler can still end it while its reader waits for it.
//
// Threads start and finish commands concurrently: changes take a mutex with the handled signals
// blocked, so the handler never interrupts a change on the same thread. The handler itself
// takes no lock: it only reads the atomic pids, which is safe whatever other threads do.
class Pipe_registry {
 public:
  // At most this many commands run at once (the default open-file limit allows no more).
  static constexpr std::size_t capacity = 1024;

  constexpr Pipe_registry() = default;
  Pipe_registry(const Pipe_registry&) = delete;
  Pipe_registry& operator=(const Pipe_registry&) = delete;

  // Records a started command; false when the registry is full.
  bool add(FILE* stream, pid_t pid);

  // Takes `stream` out of the registry before its reader closes it and returns the pid of its
  // child, or 0 for an unknown stream. The child stays registered until `finish`.
  pid_t take_stream(FILE* stream);

  // Waits for the child `pid` of a taken stream to end, forgets it and reaps it. Returns the
  // wait status, or -1 when it could not be had.
  int finish(pid_t pid);

  // The number of commands whose stream is still open.
  std::size_t size() const;

  // Ends every open command: kills its process group, closes its stream and reaps its shell.
  // For the process entry's clean-up, when no other thread reads a registered stream.
  void close_all();

  // Kills the process group of every registered command and reaps the shells, without
  // touching any stream. Async-signal-safe: this is what the signal handler and the fatal exits
  // use, so that no native tool outlives the process.
  void kill_all() noexcept;

  // Brackets one start of a command, from before its fork until it is registered (or given
  // up), with the handled signals blocked on the calling thread. `begin_launch` is false once
  // `stop_launches` ran: the command must not start.
  bool begin_launch() noexcept;
  void end_launch() noexcept;

  // Refuses every later launch, then waits (a second at most) for the launches under way on
  // other threads to register their commands, so that a `kill_all` that follows reaches them
  // too: without it a thread could register a child just after the kill, and its tool would
  // outlive the process. Async-signal-safe; called before `kill_all` when the process ends.
  void stop_launches() noexcept;

 private:
  struct slot {
    std::atomic<FILE*> stream{nullptr};
    std::atomic<pid_t> pid{0};
  };

  std::array<slot, capacity> slots_{};
  mutable std::mutex mutex_;
  std::atomic<bool> launches_stopped_{false};
  // Launches between `begin_launch` and `end_launch`.
  std::atomic<int> launching_{0};
};

// The registry that the launcher and the reader use by default.
extern Pipe_registry pipes;

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_PIPES_H_
