// The part of a ThreadWrapper that is the same on every platform: the state
// the wrapper and the running body share, and the body's loop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "system/critical_section_wrapper.h"
#include "system/event_wrapper.h"
#include "system/thread_wrapper.h"

namespace TavroRTCMP {

// Shared by the wrapper and the running body; whichever lets go last
// destroys it, so either may end first. Each platform adds its handle.
struct ThreadState {
  ThreadState(std::function<bool()> fn, int prio, const char* threadName);

  std::function<bool()> callable;  // emptied by Stop; guarded by lock
  std::atomic<bool> alive{false};  // the body keeps calling while true
  bool dead = true;                // the body has finished; guarded by lock
  int32_t priority;
  std::unique_ptr<EventWrapper> startEvent;
  std::unique_ptr<CriticalSectionWrapper> lock;
  uint32_t threadId = 0;
  std::string name;
};

// Each platform's ThreadState with its thread handle.
struct ThreadData;

// The ThreadWrapper of the platform built; its methods are in the platform
// file (thread_posix.cpp or thread_win.cpp).
class PlatformThread final : public ThreadWrapper {
 public:
  PlatformThread(std::function<bool()> fn, int priority, const char* name);
  // Drops this wrapper's share of the state only; the thread keeps running.
  ~PlatformThread() override;

  void RequestStop() override;
  bool Start(uint32_t& threadId) override;
  bool SetAffinity(const int32_t* processors, int32_t count) override;
  bool Stop() override;

  // The thread body; holds its own share of the state while it runs.
  static void Run(std::shared_ptr<ThreadData> data);

 private:
  std::shared_ptr<ThreadData> data_;
};

// The body's first step: it is running, and Stop must wait for it.
void MarkBodyRunning(ThreadState& s);

// Calls the callable until it returns false, it is emptied by Stop, or the
// body is asked to stop. An exception out of it would end the process; it
// ends the thread instead, as a false return does.
void CallUntilDone(ThreadState& s);

// The body's last step: Stop need not wait any more.
void MarkBodyEnded(ThreadState& s);

// The callable of a C-style thread function and its object (empty for a
// null function).
std::function<bool()> BindRunFunction(ThreadRunFunction func, void* object);

}  // namespace TavroRTCMP
