// ThreadWrapper on Win32 threads (Windows builds).
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "system/thread_state.h"

namespace TavroRTCMP {

// The shared state with the Win32 handle.
struct ThreadData : ThreadState {
  using ThreadState::ThreadState;
  // Closes the thread handle.
  ~ThreadData();

  HANDLE handle = nullptr;
  // Result of the body's COM initialisation; 1 while none is outstanding.
  // Kept here rather than in the wrapper because the body may outlive it.
  long coInitResult = 1;
};

// Maps priority 1..5 to THREAD_PRIORITY_BELOW_NORMAL .. TIME_CRITICAL;
// returns false (and leaves *winPriority alone) for other values.
bool WindowsPriorityFor(int priority, int* winPriority);

// The affinity mask for a list of processors: bit n for processor n; numbers
// outside the mask's width are skipped.
DWORD_PTR AffinityMaskFor(const int32_t* processors, int32_t count);

// The one thread name whose body runs inside a COM multithreaded apartment.
constexpr char kComThreadName[] = "EngineMonitorThread";

// Names the calling thread for debuggers: raises the debugger naming
// exception (0x406D1388) and swallows it when no debugger takes it.
void NameCurrentThread(const char* name);

}  // namespace TavroRTCMP
