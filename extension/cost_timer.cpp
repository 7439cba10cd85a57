#include "extension/cost_timer.h"

#include <chrono>
#include <iomanip>
#include <sstream>

#include "diagnostics/diagnostics.h"

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

void PrintCostLine(const std::string& name, float ms) {
  // Composed on a stream of its own (default format: six significant
  // digits), so no format flag reaches anyone else's output.
  std::ostringstream line;
  line << std::left << std::setw(40) << name << " cost:  " << std::setw(10) << ms << "ms";
  tavro_diag::Line(line.str());
}

}  // namespace tavro
