// An auto-reset event: one Set releases one Wait. Optionally driven by a
// timer that sets it once or pulses it periodically.
#pragma once

namespace TavroRTCMP {

// Results of EventWrapper::Wait.
enum EventTypeWrapper {
  kEventSignaled = 1,
  kEventError = 2,
  kEventTimeout = 3,
};

// Wait time meaning "no limit".
constexpr unsigned long kEventInfinite = 0xFFFFFFFFul;

class EventWrapper {
 public:
  virtual ~EventWrapper() = default;
  // Signals the event; it stays signalled until one Wait consumes it.
  virtual bool Set() = 0;
  // Clears a pending signal.
  virtual bool Reset() = 0;
  // Waits up to ms milliseconds (kEventInfinite: no limit). Returns
  // kEventSignaled, kEventTimeout or kEventError.
  virtual int Wait(unsigned long ms) = 0;
  // Starts (or restarts) a timer: a one-shot timer sets the event once after
  // ms; a periodic one releases a waiting thread every ms (a pulse: nothing
  // stays signalled when nobody waits). False when the timer cannot start.
  virtual bool StartTimer(bool periodic, unsigned long ms) = 0;
  // Stops a running timer; always true.
  virtual bool StopTimer() = 0;
};

EventWrapper* CreateEventWrapper();

}  // namespace TavroRTCMP
