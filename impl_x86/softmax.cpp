// Softmax over the channels of each pixel.
#include <cfloat>
#include <cmath>

#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

void Softmax(const float* in, float* out, uint64_t pixels, int C) {
  for (uint64_t p = 0; p < pixels; ++p) {
    const float* x = in + p * C;
    float* y = out + p * C;
    if (C == 2 || C == 3) {
      float m = x[0] > x[1] ? x[0] : x[1];
      if (C == 3 && x[2] > m) m = x[2];
      float e[3], s = 0.f;
      for (int i = 0; i < C; ++i) s += e[i] = std::exp(x[i] - m);
      const float inv = 1.f / s;
      for (int i = 0; i < C; ++i) y[i] = e[i] * inv;
      continue;
    }
    float m = FLT_MIN;
    for (int i = 0; i < C; ++i) m = x[i] > m ? x[i] : m;
    float s = 0.f;
    for (int i = 0; i < C; ++i) s += y[i] = std::exp(x[i] - m);
    for (int i = 0; i < C; ++i) y[i] /= s;
  }
}

}  // namespace TAVROMATTING
