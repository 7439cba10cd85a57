#include "extension/cost_timer.h"

#include <chrono>
#include <iomanip>
#include <iostream>

namespace tavro {

namespace {
int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

CostTimer::CostTimer(std::string name) : name_(std::move(name)), startNs_(NowNs()) {}

float CostTimer::elapsedMs() const {
  return static_cast<float>(NowNs() - startNs_) / 1000000.0f;
}

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

void PrintCostLine(const std::string& name, float ms) {
  std::lock_guard<std::mutex> lock(OutputMutex());
  std::ostream& out = std::cout;
  const std::ios_base::fmtflags flags = out.flags();
  out << std::left << std::setw(40) << name;
  out.flags(flags);
  out << " cost:  " << std::left << std::setw(10) << ms;
  out.flags(flags);
  out << "ms" << std::endl;
}

}  // namespace tavro
