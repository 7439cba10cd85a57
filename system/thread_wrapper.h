// A joinable worker thread that calls a function over and over until it
// returns false or the thread is asked to stop.
#pragma once

#include <cstdint>

namespace TavroRTCMP {

// The thread body: called repeatedly with the object given at creation; the
// thread ends after a call that returns false.
typedef bool (*ThreadRunFunction)(void* object);

class ThreadWrapper {
 public:
  // Destroying the wrapper does not stop a running thread; call Stop first.
  virtual ~ThreadWrapper() = default;
  // Asks the body to end after its current call; does not wait.
  virtual void RequestStop() = 0;
  // Starts the thread and returns once the body is running. False when there
  // is nothing to run or the thread could not be created.
  virtual bool Start(uint32_t& threadId) = 0;
  // Pins the running thread to the listed processors; true when set.
  virtual bool SetAffinity(const int32_t* processors, int32_t count) {
    return false;
  }
  // Ends the body and waits for it (at most 10 s); true when it has ended.
  // Destroy the wrapper only after Stop returned true.
  virtual bool Stop() = 0;
};

// Priorities: 1 below normal, 2 normal, 3 above normal, 4 highest,
// 5 time critical; other values keep the creating thread's default.
// name may be null; it names the thread for debuggers and tools.
ThreadWrapper* CreateThreadWrapper(ThreadRunFunction func, void* object,
                                   int priority, const char* name);

}  // namespace TavroRTCMP
