// Set-up shared by the kernel tests: argument blocks for convolution,
// transposed convolution and pooling shapes, the run-and-compare of a
// transposed-convolution member against the reference, and the AVX2/FMA
// guard of the fast members.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "cpu/cpu_info.h"
#include "impl_x86/conv_kernels.h"
#include "tests/engine/test_util.h"

namespace tavro_test {

inline bool HaveAvx2Fma() {
  const TAVROMATTING::CpuInfo& cpu = TAVROMATTING::CpuInfo::Get();
  return cpu.HasAvx() && cpu.HasAvx2() && cpu.HasFma();
}

#define REQUIRE_AVX2_FMA() \
  if (!tavro_test::HaveAvx2Fma()) GTEST_SKIP() << "processor without AVX2/FMA"

// Convolution over H x W x Cin into C channels; `pad` on every side except
// the right one, which gets `padR`.
inline TAVROMATTING::ConvArgs ConvShapeArgs(int H, int W, int Cin, int C, int kh, int kw,
                                            int pad, int padR, int s, int d) {
  TAVROMATTING::ConvArgs a;
  a.H = H;
  a.W = W;
  a.Cin = Cin;
  a.C = C;
  a.kh = kh;
  a.kw = kw;
  a.padL = a.padT = a.padB = pad;
  a.padR = padR;
  a.sh = a.sw = s;
  a.dh = a.dw = d;
  a.Ho = (a.H + a.padT + a.padB - (a.kh - 1) * a.dh - 1) / a.sh + 1;
  a.Wo = (a.W + a.padL + a.padR - (a.kw - 1) * a.dw - 1) / a.sw + 1;
  return a;
}

// Stride-2 transposed convolution with a k x k kernel and `pad` on every side.
inline TAVROMATTING::ConvArgs DeconvShapeArgs(int H, int W, int Cin, int C, int k, int pad) {
  TAVROMATTING::ConvArgs a;
  a.H = H;
  a.W = W;
  a.Cin = Cin;
  a.C = C;
  a.kh = a.kw = k;
  a.padL = a.padR = a.padT = a.padB = pad;
  a.sh = a.sw = 2;
  a.Ho = (a.H - 1) * 2 - 2 * pad + k;
  a.Wo = (a.W - 1) * 2 - 2 * pad + k;
  return a;
}

// A stride-2 transposed-convolution member on one shape.
struct DeconvCase {
  int H, W, Cin, C, k, pad;
  void (*member)(const TAVROMATTING::ConvArgs&);
  uint32_t code;
  const char* what;
};

// Runs `c.member` with the transposed weight (input channels, kh, kw, output
// channels) packed as `c.code` and compares it with the reference member. The
// output buffer is pre-filled with a marker so a missed store shows up.
// Data come from seeds `seed`, `seed + 1` and `seed + 2`.
inline void CompareDeconv(const DeconvCase& c, uint32_t seed) {
  using namespace TAVROMATTING;
  ConvArgs a = DeconvShapeArgs(c.H, c.W, c.Cin, c.C, c.k, c.pad);
  auto in = Random(size_t(a.H) * a.W * a.Cin, seed);
  auto w = Random(size_t(a.Cin) * a.kh * a.kw * a.C, seed + 1);
  auto bias = Random(a.C, seed + 2);
  const size_t outN = size_t(a.Ho) * a.Wo * a.C;
  std::vector<float> ref(outN), got(outN + 64, -777.f);
  auto w0 = Pack(w, a.Cin, a.kh, a.kw, a.C, kPlain, true);
  a.in = in.data();
  a.bias = bias.data();
  a.weight = w0.data();
  a.out = ref.data();
  DeconvReference(a);
  auto wp = Pack(w, a.Cin, a.kh, a.kw, a.C, c.code, true);
  a.weight = wp.data();
  a.out = got.data();
  c.member(a);
  got.resize(outN);
  ExpectNear(got, ref, 1e-5f, c.what);
}

// Square k x k pooling window, stride s, `pad` on every side.
inline TAVROMATTING::ConvArgs PoolArgs(int H, int W, int C, int k, int s, int pad) {
  TAVROMATTING::ConvArgs a;
  a.H = H;
  a.W = W;
  a.Cin = a.C = C;
  a.kh = a.kw = k;
  a.sh = a.sw = s;
  a.padL = a.padR = a.padT = a.padB = pad;
  a.Ho = (H + 2 * pad - k) / s + 1;
  a.Wo = (W + 2 * pad - k) / s + 1;
  return a;
}

// Runs `f` on `in` into an output pre-filled with a marker, so a missed
// store shows up.
inline std::vector<float> RunPool(TAVROMATTING::ConvArgs a, const std::vector<float>& in,
                                  const std::function<void(const TAVROMATTING::ConvArgs&)>& f) {
  std::vector<float> out(size_t(a.Ho) * a.Wo * a.C, -777.f);
  a.in = in.data();
  a.out = out.data();
  f(a);
  return out;
}

}  // namespace tavro_test
