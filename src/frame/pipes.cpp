// The registry of running commands.
#include "frame/pipes.h"

#include <signal.h>
#include <sys/wait.h>

#include <cerrno>

#include "frame/signal_block.h"

namespace Network_tools {

// Constant-initialised, so it exists before any static constructor runs.
constinit Pipe_registry pipes;

bool Pipe_registry::add(FILE* stream, pid_t pid) {
  Signal_block block;
  std::lock_guard lock(mutex_);
  for (slot& entry : slots_) {
    if (entry.pid.load() == 0 && entry.stream.load() == nullptr) {
      entry.stream.store(stream);
      entry.pid.store(pid);
      return true;
    }
  }
  return false;
}

pid_t Pipe_registry::take_stream(FILE* stream) {
  if (stream == nullptr) return 0;
  Signal_block block;
  std::lock_guard lock(mutex_);
  for (slot& entry : slots_) {
    if (entry.stream.load() == stream) {
      entry.stream.store(nullptr);
      return entry.pid.load();
    }
  }
  return 0;
}

int Pipe_registry::finish(pid_t pid) {
  // Wait without reaping: until it is reaped the pid cannot be reused, so the signal handler
  // may still kill it safely while this thread waits.
  siginfo_t info{};
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {
  }

  Signal_block block;
  std::lock_guard lock(mutex_);
  for (slot& entry : slots_) {
    if (entry.pid.load() == pid && entry.stream.load() == nullptr) entry.pid.store(0);
  }
  int status = 0;
  while (true) {
    if (waitpid(pid, &status, 0) == pid) return status;
    if (errno != EINTR) return -1;
  }
}

std::size_t Pipe_registry::size() const {
  Signal_block block;
  std::lock_guard lock(mutex_);
  std::size_t open = 0;
  for (const slot& entry : slots_) {
    if (entry.stream.load() != nullptr) ++open;
  }
  return open;
}

void Pipe_registry::close_all() {
  while (true) {
    FILE* stream = nullptr;
    pid_t pid = 0;
    {
      Signal_block block;
      std::lock_guard lock(mutex_);
      for (slot& entry : slots_) {
        stream = entry.stream.exchange(nullptr);
        if (stream != nullptr) {
          pid = entry.pid.load();
          break;
        }
      }
    }
    if (stream == nullptr) return;
    // Its output is no longer wanted; waiting for the tool could take a minute or more.
    if (pid > 0) kill(-pid, SIGKILL);
    fclose(stream);
    if (pid > 0) finish(pid);
  }
}

void Pipe_registry::kill_all() noexcept {
  for (const slot& entry : slots_) {
    if (const pid_t pid = entry.pid.load(); pid > 0) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
    }
  }
  for (const slot& entry : slots_) {
    if (const pid_t pid = entry.pid.load(); pid > 0) {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
  }
}

}  // namespace Network_tools
