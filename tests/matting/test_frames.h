// Helpers shared by the pipeline tests: synthetic I420 frames and the
// pipeline records that describe them.
#pragma once

#include <cstdint>
#include <vector>

#include "matting/matting_records.h"

namespace matting_test {

// A contiguous I420 frame without row padding.
struct I420Frame {
  int w = 0, h = 0;
  std::vector<uint8_t> y, u, v;

  I420Frame(int width, int height, unsigned seed = 1) : w(width), h(height) {
    y.resize(size_t(w) * h);
    u.resize(size_t(w / 2) * (h / 2) + 0);
    v.resize(u.size());
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        y[size_t(r) * w + c] = uint8_t((c * 3 + r * 5 + seed * 11) ^ ((c / 16 + r / 16) * 40));
    for (size_t i = 0; i < u.size(); ++i) {
      u[i] = uint8_t(100 + (i * 7 + seed) % 30);
      v[i] = uint8_t(140 + (i * 3 + seed) % 40);
    }
  }
  TavroMatting::PlanarImage Planar() {
    return {{y.data(), u.empty() ? y.data() : u.data(), v.empty() ? y.data() : v.data()},
            {w, w / 2, w / 2},
            {h, h / 2, h / 2},
            {w, w / 2, w / 2}};
  }
};

inline TavroMatting::MattingSettings Settings(int w, int h, int reset, int flow,
                                              int media) {
  return TavroMatting::MakeMattingSettings(w, h, reset, flow != 0, media != 0);
}

}  // namespace matting_test
