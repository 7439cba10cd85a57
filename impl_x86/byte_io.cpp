// The network's two byte boundaries: normalised input and the 8-bit mask.
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

void NormalizeBytes(const uint8_t* in, uint64_t pixels, int Cin, int Cout, const float* mean,
                    const float* scale, float fill, float* out) {
  const int k = Cin < 3 ? Cin : 3;
  const bool addFourth = Cin == 3 && Cout == 4;
  for (uint64_t p = 0; p < pixels; ++p) {
    const uint8_t* q = in + p * k;
    float* y = out + p * Cout;
    for (int c = 0; c < k; ++c) y[c] = (float(q[c]) - mean[c]) * scale[c];
    if (addFourth) y[3] = fill;
  }
}

void MaskToBytes(const float* in, uint64_t count, uint8_t* out) {
  for (uint64_t i = 0; i < count; ++i) {
    const float f = in[i] * 255.f;
    // Compare in float first so huge values and NaN cannot overflow the cast.
    if (!(f >= 1.f))
      out[i] = 0;
    else if (f >= 256.f)
      out[i] = 255;
    else
      out[i] = uint8_t(int(f));
  }
}

}  // namespace TAVROMATTING
