// Measures the wall time of one named piece of work on the steady clock.
#pragma once

#include <cstdint>
#include <string>

namespace tavro {

class CostTimer {
 public:
  // Starts timing now.
  explicit CostTimer(std::string name);

  const std::string& name() const { return name_; }
  // Milliseconds since construction.
  float elapsedMs() const;

 private:
  std::string name_;
  int64_t startNs_;
};

// Writes "<name padded to 40> cost:  <ms padded to 10>ms" and a line end
// through the module's diagnostics (standard output unless routed).
void PrintCostLine(const std::string& name, float ms);

}  // namespace tavro
