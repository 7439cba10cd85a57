// ThreadWrapper on pthreads (POSIX builds).
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "system/critical_section_wrapper.h"
#include "system/event_wrapper.h"
#include "system/thread_wrapper.h"

namespace TavroRTCMP {

// State shared by the wrapper and the running body; whichever lets go last
// destroys it, so either may end first.
struct ThreadData {
  ThreadData(std::function<bool()> fn, int prio, const char* threadName);
  // Releases the thread handle (joins or detaches it), the event, the lock
  // and the callable.
  ~ThreadData();

  std::function<bool()> callable;  // emptied by Stop; guarded by lock
  std::atomic<bool> alive{false};  // the body keeps calling while true
  bool dead = true;                // the body has finished; guarded by lock
  int32_t priority;
  std::unique_ptr<EventWrapper> startEvent;
  std::unique_ptr<CriticalSectionWrapper> lock;
  pthread_t handle{};
  bool hasHandle = false;  // a thread was created and not yet joined
  uint32_t threadId = 0;   // the kernel thread id
  std::string name;
};

class ThreadPosix final : public ThreadWrapper {
 public:
  ThreadPosix(std::function<bool()> fn, int priority, const char* name);
  // Drops this wrapper's share of the state only; the thread keeps running.
  ~ThreadPosix() override;

  void RequestStop() override;
  bool Start(uint32_t& threadId) override;
  bool SetAffinity(const int32_t* processors, int32_t count) override;
  bool Stop() override;

  // The thread body; holds its own share of the state while it runs.
  static void Run(std::shared_ptr<ThreadData> data);

 private:
  std::shared_ptr<ThreadData> data_;
};

// Maps priority 1..5 to a nice value (below normal .. time critical);
// returns false for values outside 1..5.
bool NiceValueForPriority(int priority, int* nice);

// Linux limits thread names to 15 characters; longer names are cut.
std::string ThreadNameForOs(const std::string& name);

}  // namespace TavroRTCMP
