// A recursive lock: the owning thread may enter it again.
#pragma once

namespace TavroRTCMP {

class CriticalSectionWrapper {
 public:
  virtual ~CriticalSectionWrapper() = default;
  virtual void Enter() = 0;
  virtual void Leave() = 0;
};

CriticalSectionWrapper* CreateCriticalSectionWrapper();

// Holds a critical section for the scope it lives in.
class CriticalSectionScoped {
 public:
  explicit CriticalSectionScoped(CriticalSectionWrapper* cs) : cs_(cs) {
    cs_->Enter();
  }
  ~CriticalSectionScoped() { cs_->Leave(); }
  CriticalSectionScoped(const CriticalSectionScoped&) = delete;
  CriticalSectionScoped& operator=(const CriticalSectionScoped&) = delete;

 private:
  CriticalSectionWrapper* cs_;
};

}  // namespace TavroRTCMP
