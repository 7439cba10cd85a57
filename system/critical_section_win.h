// CriticalSectionWrapper over a Win32 critical section (Windows builds).
// Win32 critical sections are recursive for their owning thread.
#pragma once

#include <windows.h>

#include "system/critical_section_wrapper.h"

namespace TavroRTCMP {

class CriticalSectionWindows final : public CriticalSectionWrapper {
 public:
  CriticalSectionWindows() { InitializeCriticalSection(&cs_); }
  ~CriticalSectionWindows() override { DeleteCriticalSection(&cs_); }
  CriticalSectionWindows(const CriticalSectionWindows&) = delete;
  CriticalSectionWindows& operator=(const CriticalSectionWindows&) = delete;

  void Enter() override { EnterCriticalSection(&cs_); }
  void Leave() override { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

}  // namespace TavroRTCMP
