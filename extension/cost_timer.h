// Measures the wall time of one named piece of work on the steady clock.
#pragma once

#include <cstdint>
#include <mutex>
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

// Writes "<name padded to 40> cost:  <ms padded to 10>ms" and a flushed line
// end; the stream's format flags are left as they were. Holds OutputMutex()
// while it changes the stream's width and flags.
void PrintCostLine(const std::string& name, float ms);

// Taken by every writer of the module's standard-output lines, so that lines
// of two streams (or of a warm-up thread) neither mix nor see each other's
// format flags.
std::mutex& OutputMutex();

}  // namespace tavro
