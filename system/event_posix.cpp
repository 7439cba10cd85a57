#include "system/event_posix.h"

#include <chrono>
#include <new>
#include <system_error>

namespace TavroRTCMP {

EventWrapper* CreateEventWrapper() { return new (std::nothrow) EventPosix(); }

EventPosix::EventPosix() = default;

EventPosix::~EventPosix() { StopTimer(); }

bool EventPosix::Set() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  cond_.notify_one();
  return true;
}

bool EventPosix::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = false;
  return true;
}

void EventPosix::Pulse() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiters_ > 0) {
    signalled_ = true;
    cond_.notify_one();
  }
}

int EventPosix::Wait(unsigned long ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++waiters_;
  bool got;
  if (ms == kEventInfinite) {
    cond_.wait(lock, [this] { return signalled_; });
    got = true;
  } else {
    got = cond_.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return signalled_; });
  }
  --waiters_;
  if (!got) return kEventTimeout;
  signalled_ = false;  // auto-reset: this wait consumes the signal
  return kEventSignaled;
}

bool EventPosix::StartTimer(bool periodic, unsigned long ms) {
  std::lock_guard<std::mutex> lock(timerMutex_);
  StopTimerLocked();
  if (ms == 0) return false;
  {
    std::lock_guard<std::mutex> state(timerStateMutex_);
    timerStop_ = false;
  }
  try {
    timerThread_ = std::thread(&EventPosix::TimerLoop, this, periodic, ms);
  } catch (const std::system_error&) {
    return false;
  }
  timerId_ = nextTimerId_++;
  if (nextTimerId_ == 0) nextTimerId_ = 1;
  return true;
}

bool EventPosix::StopTimer() {
  std::lock_guard<std::mutex> lock(timerMutex_);
  StopTimerLocked();
  return true;
}

void EventPosix::StopTimerLocked() {
  if (timerThread_.joinable()) {
    {
      std::lock_guard<std::mutex> state(timerStateMutex_);
      timerStop_ = true;
    }
    timerCond_.notify_all();
    timerThread_.join();
  }
  timerId_ = 0;
}

void EventPosix::TimerLoop(bool periodic, unsigned long ms) {
  const auto period = std::chrono::milliseconds(ms);
  auto due = std::chrono::steady_clock::now() + period;
  std::unique_lock<std::mutex> state(timerStateMutex_);
  for (;;) {
    if (timerCond_.wait_until(state, due, [this] { return timerStop_; }))
      return;
    if (!periodic) {
      Set();
      return;
    }
    Pulse();
    due += period;  // fixed cadence, no drift from the time spent pulsing
  }
}

}  // namespace TavroRTCMP
