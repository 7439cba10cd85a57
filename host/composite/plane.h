// One 8-bit picture plane as the compositing code reads and writes it.
#pragma once

#include <cstdint>

namespace tavro_host {

struct Plane {
  uint8_t* data = nullptr;
  int width = 0;
  int height = 0;
  int stride = 0;

  uint8_t* row(int y) const { return data + static_cast<long>(y) * stride; }
};

// An I420 picture as three planes (chroma of any size the frame's layout
// gives: (w + 1) / 2 in GStreamer, w / 2 in the module's frames).
struct PlanarFrame {
  Plane plane[3];
};

}  // namespace tavro_host
