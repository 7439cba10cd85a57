// Wall-clock timer of the engine's diagnostics (steady clock, nanoseconds).
#pragma once

#include <cfloat>
#include <cstdint>
#include <string>

namespace TAVROMATTING {

int64_t NowNanoseconds();

class ScopeTimer {
 public:
  ScopeTimer(const std::string& timerName, bool printOnDestroy, bool printStats);
  ~ScopeTimer();
  void Restart() { start = NowNanoseconds(); }
  float ElapsedMs() const;
  // Prints the label line of one layer and folds the time into the stats.
  void StopLayer();

  std::string name;
  int64_t start = 0;
  bool printOnDestroy = false;
  bool printStats = false;
  float minimum = FLT_MAX;
  // Starts at the smallest positive float (not 0), as the engine's timers
  // always have; any measured time is above it.
  float maximum = FLT_MIN;
  float total = 0.f;
  int32_t count = 0;
};

}  // namespace TAVROMATTING
