#include "engine/core/scope_timer.h"

#include <chrono>
#include <iomanip>
#include <sstream>

#include "diagnostics/diagnostics.h"

namespace TAVROMATTING {

int64_t NowNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ScopeTimer::ScopeTimer(const std::string& timerName, bool printOnDestroy_, bool printStats_)
    : name(timerName), start(NowNanoseconds()), printOnDestroy(printOnDestroy_),
      printStats(printStats_) {}

float ScopeTimer::ElapsedMs() const { return float(double(NowNanoseconds() - start) / 1e6); }

void ScopeTimer::StopLayer() {
  float ms = ElapsedMs();
  std::ostringstream line;
  line << std::left << std::setw(80) << name << " cost:  " << std::setw(10) << ms << "ms";
  tavro_diag::Line(line.str());
  if (ms < minimum) minimum = ms;
  if (ms > maximum) maximum = ms;
  total += ms;
  ++count;
}

ScopeTimer::~ScopeTimer() {
  if (!printOnDestroy && !printStats) return;
  std::ostringstream line;
  if (printOnDestroy) {
    line << name << " cost:   " << ElapsedMs() << "ms";
  } else {
    line << name << "--min cost: " << minimum << "ms," << " max cost: " << maximum << "ms,"
         << " avg cost: " << (count ? total / count : 0.f) << "ms";
  }
  tavro_diag::Line(line.str());
}

}  // namespace TAVROMATTING
