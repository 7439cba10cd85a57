// What a convolution-family kernel needs: the plain interleaved input and
// output (batch 1), the window, the packed weights, bias and fused activation.
#pragma once

#include <cstddef>

#include "impl_x86/activation.h"

namespace TAVROMATTING {

struct ConvArgs {
  const float* in = nullptr;
  int H = 0, W = 0, Cin = 0;
  int inStride = 0;   // floats between input pixels (Cin unless grouped)
  float* out = nullptr;
  int Ho = 0, Wo = 0, C = 0;
  int outStride = 0;  // floats between output pixels (C unless grouped)
  int kh = 1, kw = 1;
  int padL = 0, padR = 0, padT = 0, padB = 0;
  int sh = 1, sw = 1, dh = 1, dw = 1;
  const float* weight = nullptr;  // packed in the kernel's layout code
  const float* bias = nullptr;    // C values or null (zeros)
  FusedAct act;
  // Read by the stride-2 transposed members only: a per-channel affine step
  // y = x * outScale[c] + outShift[c] (the member's vector multiply-add, as in
  // the batch normalisation members) applied before the fused activation, for
  // a batch normalisation that follows the layer. Null: none.
  const float* outScale = nullptr;
  const float* outShift = nullptr;
  // Read by the members that can take the network's input directly (the
  // first-layer packed-rows member): when set, the input is these bytes, Cin
  // per pixel, each channel normalised as (q - inMean[c]) * inScale[c]
  // (subtract, then multiply, as the normalisation layer does), and `in` is
  // not read.
  const unsigned char* inBytes = nullptr;
  const float* inMean = nullptr;
  const float* inScale = nullptr;
  // Read by the 1x1 members only, for a layer that reads its input in
  // channel slices (one call per slice, each adding its share):
  size_t weightBlockStride = 0;  // floats between packed channel blocks; 0: Cin x block
  bool accumulate = false;       // start from the output's values instead of the bias
};

inline int CeilDiv(int a, int b) { return a >= 0 ? (a + b - 1) / b : -((-a) / b); }

// Kernel rows/columns [lo, hi) whose input index i0 + k*d lies in [0, size).
inline void ClipTaps(int i0, int d, int k, int size, int* lo, int* hi) {
  int l = i0 < 0 ? CeilDiv(-i0, d) : 0;
  int h = CeilDiv(size - i0, d);
  if (h > k) h = k;
  if (l > k) l = k;
  *lo = l;
  *hi = h < l ? l : h;
}

// Output row oy's window: returns the input row under kernel row 0 and sets
// the kernel rows [*lo, *hi) (of kh) that fall inside the image.
inline int ClipRows(const ConvArgs& a, int oy, int kh, int* lo, int* hi) {
  const int iy0 = oy * a.sh - a.padT;
  ClipTaps(iy0, a.dh, kh, a.H, lo, hi);
  return iy0;
}

// Output column ox's window: returns the input column under kernel column 0
// and sets the kernel columns [*lo, *hi) (of kw) that fall inside the image.
inline int ClipColumns(const ConvArgs& a, int ox, int kw, int* lo, int* hi) {
  const int ix0 = ox * a.sw - a.padL;
  ClipTaps(ix0, a.dw, kw, a.W, lo, hi);
  return ix0;
}

// Output columns split into [0, left) border, [left, right) interior (a
// multiple of `step` wide) and [right, Wo) border.
inline void SplitColumns(const ConvArgs& a, int step, int* left, int* right) {
  int l = CeilDiv(a.padL, a.sw);
  int r = a.Wo - CeilDiv(a.padR, a.sw);
  if (l > a.Wo) l = a.Wo;
  if (r < l) r = l;
  // Make sure every interior window is inside the image.
  while (r > l && (r - 1) * a.sw - a.padL + (a.kw - 1) * a.dw >= a.W) --r;
  r = l + (r - l) / step * step;
  *left = l;
  *right = r;
}

}  // namespace TAVROMATTING
