#include "extension/cost_timer.h"

#include <chrono>
#include <cstdio>

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
  // Left-aligned name in 40 columns and the milliseconds in 10, in the
  // streams' default float format (%g, six significant digits); formatted
  // on the stack so that printing never allocates.
  char line[160];
  const int n = std::snprintf(line, sizeof line, "%-40s cost:  %-10gms", name.c_str(),
                              static_cast<double>(ms));
  if (n > 0) tavro_diag::Line(line);  // a name too long for the line is cut
}

}  // namespace tavro
