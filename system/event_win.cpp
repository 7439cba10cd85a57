#include "system/event_win.h"

#include <mmsystem.h>

#include <new>

namespace TavroRTCMP {

EventWrapper* CreateEventWrapper() { return new (std::nothrow) EventWindows(); }

unsigned TimerEventFlags(bool periodic) {
  return periodic ? (TIME_PERIODIC | TIME_CALLBACK_EVENT_PULSE)
                  : (TIME_ONESHOT | TIME_CALLBACK_EVENT_SET);
}

EventWindows::EventWindows()
    : event_(CreateEventW(nullptr, FALSE /*auto-reset*/, FALSE, nullptr)) {}

EventWindows::~EventWindows() {
  StopTimer();
  if (event_) CloseHandle(event_);
}

bool EventWindows::Set() { return SetEvent(event_) != 0; }

bool EventWindows::Reset() { return ResetEvent(event_) != 0; }

int EventWindows::Wait(unsigned long ms) {
  switch (WaitForSingleObject(event_, ms == kEventInfinite ? INFINITE : ms)) {
    case WAIT_OBJECT_0:
      return kEventSignaled;
    case WAIT_TIMEOUT:
      return kEventTimeout;
    default:
      return kEventError;
  }
}

bool EventWindows::StartTimer(bool periodic, unsigned long ms) {
  if (timerId_ != 0) {
    timeKillEvent(timerId_);
    timerId_ = 0;
  }
  if (ms == 0) return false;  // multimedia timers need a period of 1 ms or more
  // With TIME_CALLBACK_EVENT_* the "callback" argument is the event handle.
  timerId_ = timeSetEvent(static_cast<UINT>(ms), 0,
                          reinterpret_cast<LPTIMECALLBACK>(event_), 0,
                          TimerEventFlags(periodic));
  return timerId_ != 0;
}

bool EventWindows::StopTimer() {
  if (timerId_ != 0) timeKillEvent(timerId_);
  timerId_ = 0;
  return true;
}

}  // namespace TavroRTCMP
