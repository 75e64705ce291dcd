// Blocking of the handled signals on the calling thread for the length of a scope.
#ifndef NETWORK_TOOLS_FRAME_SIGNAL_BLOCK_H_
#define NETWORK_TOOLS_FRAME_SIGNAL_BLOCK_H_

#include <signal.h>

namespace Network_tools {

// Blocks the handled signals (`handled_signals`) while alive, then restores the previous mask; a
// signal that arrives meanwhile is delivered then.
class Signal_block {
 public:
  Signal_block();
  ~Signal_block();
  Signal_block(const Signal_block&) = delete;
  Signal_block& operator=(const Signal_block&) = delete;

  // The mask the thread had before the block.
  const sigset_t& previous_mask() const { return previous_; }

 private:
  sigset_t previous_{};
};

}  // namespace Network_tools

#endif  // NETWORK_TOOLS_FRAME_SIGNAL_BLOCK_H_
