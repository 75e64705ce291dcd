// The registry of running commands.
#include "frame/pipes.h"

#include <signal.h>
#include <sys/wait.h>
#include <time.h>

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
    static_cast<void>(fclose(stream));  // a read end whose output is not wanted
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

bool Pipe_registry::begin_launch() noexcept {
  // Counted before the flag is read, and the handler sets the flag before it reads the count
  // (both sequentially consistent): either the handler waits for this launch, or this launch
  // sees the flag and starts nothing.
  launching_.fetch_add(1);
  if (!launches_stopped_.load()) return true;
  launching_.fetch_sub(1);
  return false;
}

void Pipe_registry::end_launch() noexcept {
  launching_.fetch_sub(1);
}

void Pipe_registry::stop_launches() noexcept {
  launches_stopped_.store(true);
  // A launch takes a fork and a lock, which the thread running this cannot hold (it blocks the
  // handled signals while it does); the bound is there in case the signal interrupted a
  // library call that holds a lock the launching thread needs (malloc's, for one).
  const timespec pause{0, 1000000};
  for (int waited_ms = 0; launching_.load() > 0 && waited_ms < 1000; ++waited_ms) {
    nanosleep(&pause, nullptr);
  }
}

}  // namespace Network_tools
