// The benchmarks' input frame: I420 with a luma checkerboard of 24-pixel
// squares shifted right by `shift` pixels (so two shifts give the flow some
// motion to find) and flat-ish chroma.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "matting/matting_records.h"

namespace tavro_bench {

struct ShiftedFrame {
  int w, h;
  std::vector<uint8_t> y, u, v;
  ShiftedFrame(int width, int height, int shift) : w(width), h(height) {
    y.resize(size_t(w) * h);
    u.resize(size_t(w / 2) * (h / 2));
    v.resize(u.size());
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        y[size_t(r) * w + c] = uint8_t(((c + shift) / 24 + r / 24) % 2 ? 200 : 40);
    for (size_t i = 0; i < u.size(); ++i) {
      u[i] = uint8_t(110 + i % 9);
      v[i] = uint8_t(150 + i % 13);
    }
  }
  TavroMatting::PlanarImage Planar() {
    return {{y.data(), u.data(), v.data()}, {w, w / 2, w / 2}, {h, h / 2, h / 2},
            {w, w / 2, w / 2}};
  }
};

}  // namespace tavro_bench
