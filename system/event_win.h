// EventWrapper on a Win32 auto-reset event (Windows builds). Timers are
// multimedia timers (winmm) that set or pulse the event handle themselves.
#pragma once

#include <windows.h>

#include <cstdint>

#include "system/event_wrapper.h"

namespace TavroRTCMP {

class EventWindows final : public EventWrapper {
 public:
  EventWindows();
  // Kills a running timer before the handle is closed, so the timer never
  // signals a handle that has gone (or been reused).
  ~EventWindows() override;
  EventWindows(const EventWindows&) = delete;
  EventWindows& operator=(const EventWindows&) = delete;

  bool Set() override;
  bool Reset() override;
  int Wait(unsigned long ms) override;
  bool StartTimer(bool periodic, unsigned long ms) override;
  bool StopTimer() override;

 private:
  HANDLE event_;
  uint32_t timerId_ = 0;  // 0: no timer
};

// The timeSetEvent flags for a timer acting on an event handle: periodic
// timers pulse the event (TIME_PERIODIC | TIME_CALLBACK_EVENT_PULSE), one-shot
// timers set it (TIME_ONESHOT | TIME_CALLBACK_EVENT_SET).
unsigned TimerEventFlags(bool periodic);

}  // namespace TavroRTCMP
