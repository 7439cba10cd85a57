// ThreadWrapper on pthreads (POSIX builds).
#pragma once

#include <pthread.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "system/thread_state.h"

namespace TavroRTCMP {

// The shared state with the pthread handle.
struct ThreadData : ThreadState {
  using ThreadState::ThreadState;
  // Releases the thread handle (joins or detaches it).
  ~ThreadData();

  pthread_t handle{};
  bool hasHandle = false;  // a thread was created and not yet joined
};

// Maps priority 1..5 to a nice value (below normal .. time critical);
// returns false for values outside 1..5.
bool NiceValueForPriority(int priority, int* nice);

// Linux limits thread names to 15 characters; longer names are cut.
std::string ThreadNameForOs(const std::string& name);

}  // namespace TavroRTCMP
