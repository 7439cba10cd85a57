#include "system/thread_state.h"

namespace TavroRTCMP {

ThreadState::ThreadState(std::function<bool()> fn, int prio, const char* threadName)
    : callable(std::move(fn)),
      priority(prio),
      startEvent(CreateEventWrapper()),
      lock(CreateCriticalSectionWrapper()),
      name(threadName ? threadName : "") {}

void MarkBodyRunning(ThreadState& s) {
  s.alive.store(true);
  CriticalSectionScoped lock(s.lock.get());
  s.dead = false;
}

void CallUntilDone(ThreadState& s) {
  while (s.alive.load()) {
    bool again = false;
    try {
      std::function<bool()> fn;
      {
        CriticalSectionScoped lock(s.lock.get());
        fn = s.callable;
      }
      again = fn && fn();
    } catch (...) {
      again = false;
    }
    if (!again) s.alive.store(false);
  }
}

void MarkBodyEnded(ThreadState& s) {
  CriticalSectionScoped lock(s.lock.get());
  s.dead = true;
}

std::function<bool()> BindRunFunction(ThreadRunFunction func, void* object) {
  if (!func) return {};
  return [func, object] { return func(object); };
}

}  // namespace TavroRTCMP
