// Resize, batch normalisation, softmax, channel concatenation and shuffle,
// MMA, and the byte conversions at the network's ends. All tensors are plain
// interleaved (batch 1).
#pragma once

#include <cstdint>
#include <vector>

#include "impl_x86/activation.h"

namespace TAVROMATTING {

struct ResizeArgs {
  const float* in = nullptr;
  int H = 0, W = 0, C = 0;
  float* out = nullptr;
  int Ho = 0, Wo = 0;
  bool alignCorners = false;
};
// Source coordinate scale per axis (in / out, or (in-1)/(out-1) with
// align-corners and out >= 2), in single precision.
float ResizeScale(int in, int out, bool alignCorners);

// One output coordinate of a bilinear resize: the two source indices (the
// second clamped to the last row/column) and the weight of the second.
struct BilinearTap {
  int i0, i1;
  float w;
};
// Taps of all `out` output coordinates for a source of n with scale s.
// Defined in the baseline-ISA file so every member shares one copy.
std::vector<BilinearTap> BilinearTaps(int n, int out, float s);
void ResizeNearest(const ResizeArgs& a);          // any C (row copies)
void ResizeBilinearReference(const ResizeArgs& a);
void ResizeBilinearSse(const ResizeArgs& a);      // C % 4 == 0 vectorised
void ResizeBilinearAvx2(const ResizeArgs& a);     // C % 8 == 0, AVX2+FMA

// y = x * a[c] + b[c] with a = scale / sqrt(var + eps), b = bias - mean * a.
void BatchnormCoefficients(const float* scale, const float* bias, const float* mean,
                           const float* var, float eps, int C, float* a, float* b);
void BatchnormReference(const float* in, float* out, uint64_t pixels, int C, const float* a,
                        const float* b);
void BatchnormSse(const float* in, float* out, uint64_t pixels, int C, const float* a,
                  const float* b);
// AVX2+FMA, C % 8 == 0.
void BatchnormAvx2(const float* in, float* out, uint64_t pixels, int C, const float* a,
                   const float* b);

// Softmax over the C channels of each pixel (2- and 3-channel paths subtract
// the true maximum; the general path's maximum starts at FLT_MIN).
void Softmax(const float* in, float* out, uint64_t pixels, int C);

// Channel concatenation of n inputs (channels cs[i]) into C = sum cs.
void Concat(const float* const* ins, const int* cs, int n, float* out, uint64_t pixels);
void ConcatAvx(const float* const* ins, const int* cs, int n, float* out, uint64_t pixels);
// Three inputs of 8, 2 and 2 channels.
void Concat822(const float* a, const float* b, const float* c, float* out, uint64_t pixels);

// Shuffle of A and B (K channels each) with g groups (2 or K); writes the 2K
// shuffled channels to out0 (all of them when out1 is null) or splits them
// K/K over out0 and out1. Returns false for other g.
bool ShuffleSplit2(const float* A, const float* B, uint64_t pixels, int K, int g, float* out0,
                   float* out1);

// y[p, c] = (v[c] + s[p]) * x[p, c], then the fused activation.
void MmaReference(const float* x, const float* v, const float* s, float* out, uint64_t pixels,
                  int C, const FusedAct& act);
void MmaSse(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act);  // C % 4 == 0
void MmaAvx(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act);  // C % 8 == 0, AVX

// Network input: (byte - mean[c]) * scale[c] for the first min(Cin, 3)
// channels, plus the fill value as channel 4 when Cin is 3 and Cout 4.
void NormalizeBytes(const uint8_t* in, uint64_t pixels, int Cin, int Cout, const float* mean,
                    const float* scale, float fill, float* out);
// Network output: trunc(v * 255) clamped to [0, 255].
void MaskToBytes(const float* in, uint64_t count, uint8_t* out);

}  // namespace TAVROMATTING
