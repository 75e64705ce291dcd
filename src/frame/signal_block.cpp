// Blocking of the handled signals.
#include "frame/signal_block.h"

#include <pthread.h>

#include "frame/signals.h"

namespace Network_tools {

Signal_block::Signal_block() {
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int number : handled_signals) sigaddset(&blocked, number);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous_);
}

Signal_block::~Signal_block() {
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

}  // namespace Network_tools
