// EventWrapper on a mutex and condition variable (POSIX builds). The timer
// is a small thread of its own that sets or pulses the event.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "system/event_wrapper.h"

namespace TavroRTCMP {

class EventPosix final : public EventWrapper {
 public:
  EventPosix();
  // Stops a running timer before the event goes away.
  ~EventPosix() override;

  bool Set() override;
  bool Reset() override;
  int Wait(unsigned long ms) override;
  bool StartTimer(bool periodic, unsigned long ms) override;
  bool StopTimer() override;

 private:
  // Releases one waiting thread, if any; leaves nothing signalled otherwise.
  void Pulse();
  void TimerLoop(bool periodic, unsigned long ms);
  void StopTimerLocked();

  std::mutex mutex_;
  std::condition_variable cond_;
  bool signalled_ = false;
  int waiters_ = 0;

  // Timer state, guarded by timerMutex_ (StartTimer/StopTimer callers) and
  // timerStateMutex_ (the timer thread's stop flag).
  std::mutex timerMutex_;
  std::mutex timerStateMutex_;
  std::condition_variable timerCond_;
  bool timerStop_ = false;
  std::thread timerThread_;
  uint32_t timerId_ = 0;
  uint32_t nextTimerId_ = 1;
};

}  // namespace TavroRTCMP
