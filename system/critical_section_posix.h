// CriticalSectionWrapper over a recursive std::mutex (POSIX builds).
#pragma once

#include <mutex>

#include "system/critical_section_wrapper.h"

namespace TavroRTCMP {

class CriticalSectionPosix final : public CriticalSectionWrapper {
 public:
  void Enter() override { mutex_.lock(); }
  void Leave() override { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace TavroRTCMP
