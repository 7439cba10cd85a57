// Temporal stability of a mask sequence: the mean absolute change of the
// mask between consecutive frames, in grey levels, averaged over pixels and
// over frame pairs. Pairs whose sizes differ are skipped.
#pragma once

#include <cstdint>
#include <vector>

namespace tavro_host {

class FlickerMeter {
 public:
  void add(const uint8_t* mask, int width, int height);
  // 0 when fewer than two comparable frames were seen.
  double flicker() const { return pairs_ ? sum_ / pairs_ : 0.0; }
  int pairs() const { return pairs_; }

 private:
  std::vector<uint8_t> previous_;
  int width_ = 0, height_ = 0;
  double sum_ = 0;
  int pairs_ = 0;
};

}  // namespace tavro_host
