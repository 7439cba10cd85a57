// Every SSE member of the convolution family against the reference member,
// on shapes that hit the borders, the moved-back last block and odd widths.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "tests/engine/kernel_test_util.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::ExpectNear;
using tavro_test::Pack;
using tavro_test::Random;

namespace {

struct Shape {
  int H, W, Cin, C, kh, kw, pad, s, d;
  int padR = -1;  // -1: same as pad
};

ConvArgs ArgsFor(const Shape& s) {
  return tavro_test::ConvShapeArgs(s.H, s.W, s.Cin, s.C, s.kh, s.kw, s.pad,
                                   s.padR < 0 ? s.pad : s.padR, s.s, s.d);
}

std::vector<float> Apply(const FusedAct& act, std::vector<float> v) {
  for (auto& x : v) x = ApplyFusedScalar(act, x);
  return v;
}

// Runs `member` with weights packed as `code` and compares it with the
// reference convolution (plus the activation the member fused).
void CompareConv(const Shape& s, void (*member)(const ConvArgs&), uint32_t code,
                 const FusedAct& act, const std::string& what) {
  ConvArgs a = ArgsFor(s);
  auto in = Random(size_t(a.H) * a.W * a.Cin, 1);
  auto w = Random(size_t(a.C) * a.kh * a.kw * a.Cin, 2);
  auto bias = Random(a.C + 16, 3);
  const size_t outN = size_t(a.Ho) * a.Wo * a.C;
  std::vector<float> ref(outN + 64), got(outN + 64, -777.f);
  auto w0 = Pack(w, a.C, a.kh, a.kw, a.Cin, kPlain);
  a.in = in.data();
  a.bias = bias.data();
  a.weight = w0.data();
  a.out = ref.data();
  ConvReference(a);
  auto wp = Pack(w, a.C, a.kh, a.kw, a.Cin, code);
  a.weight = wp.data();
  a.out = got.data();
  a.act = act;
  member(a);
  ref.resize(outN);
  got.resize(outN);
  ExpectNear(got, Apply(act, ref), 1e-5f, what.c_str());
}

FusedAct Relu() {
  FusedAct f;
  f.kind = kActRelu;
  return f;
}

}  // namespace

TEST(ConvKernels, DirectMembersMatchReference) {
  FusedAct none, clip;
  clip.kind = kActClippedRelu;
  clip.upper = 0.5f;
  const Shape shapes[] = {
      {9, 13, 5, 8, 3, 3, 1, 1, 1},   // odd width, pads on every side
      {10, 11, 3, 12, 3, 3, 1, 2, 1}, // stride 2, clipped last column
      {7, 9, 4, 6, 3, 3, 0, 1, 1},    // no padding, last block moved back
      {8, 10, 6, 16, 5, 5, 2, 1, 1},  // 5x5
      {6, 17, 2, 4, 1, 3, 0, 1, 1},   // non-square kernel
      {5, 6, 3, 8, 3, 3, 2, 3, 1},    // stride 3 with wide pads
  };
  for (const Shape& s : shapes) {
    const std::string id = std::to_string(s.H) + "x" + std::to_string(s.W) + "c" + std::to_string(s.C);
    CompareConv(s, ConvDirectSse4, kBlock4, none, "direct4 " + id);
    CompareConv(s, ConvDirectSse4, kBlock4, clip, "direct4 clip " + id);
    if (s.C >= 8) CompareConv(s, ConvDirectSse8, kBlock8, Relu(), "direct8 " + id);
  }
}

TEST(ConvKernels, DilatedMembersMatchReference) {
  // The decoder's 2x2 kernel with dilation 2, pads 1 keeps the size; so does
  // a 3x3 kernel with dilation 2 and pads 2.
  const Shape k2{14, 20, 16, 4, 2, 2, 1, 1, 2};
  ConvArgs a = ArgsFor(k2);
  EXPECT_EQ(a.Ho, 14);
  EXPECT_EQ(a.Wo, 20);
  CompareConv(k2, ConvDirectSse4, kBlock4, Relu(), "dilated 2x2");
  CompareConv({13, 21, 16, 8, 3, 3, 2, 1, 2}, ConvDirectSse8, kBlock8, FusedAct(), "dilated 3x3 8");
  CompareConv({13, 21, 8, 4, 3, 3, 2, 1, 2}, ConvDirectSse4, kBlock4, FusedAct(), "dilated 3x3 4");
  CompareConv({9, 9, 4, 4, 3, 3, 1, 1, 3}, ConvDirectSse4, kBlock4, FusedAct(), "dilation 3");
}

TEST(ConvKernels, FirstLayerMatchesReference) {
  // 3x3 stride 2 pad 1 on odd sizes, 3 and 1 input channels.
  CompareConv({23, 31, 3, 24, 3, 3, 1, 2, 1}, ConvFirstLayerSse, kBlock4, Relu(), "first cin3");
  CompareConv({12, 17, 1, 6, 3, 3, 1, 2, 1}, ConvFirstLayerSse, kBlock4, FusedAct(), "first cin1");
  CompareConv({224 / 8, 320 / 8, 3, 24, 3, 3, 1, 2, 1}, ConvFirstLayerSse, kBlock4, Relu(),
              "first model-like");
}

TEST(ConvKernels, OneByOneMembersMatchReference) {
  // Pixel counts not a multiple of 4; channel counts with a moved-back block.
  CompareConv({5, 7, 24, 24, 1, 1, 0, 1, 1}, Conv1x1Sse8, kBlock8, Relu(), "1x1 8 c24");
  CompareConv({3, 5, 13, 10, 1, 1, 0, 1, 1}, Conv1x1Sse8, kBlock8, FusedAct(), "1x1 8 c10");
  CompareConv({3, 3, 28, 4, 1, 1, 0, 1, 1}, Conv1x1Sse4, kBlock4, Relu(), "1x1 4 c4");
  CompareConv({2, 3, 7, 6, 1, 1, 0, 1, 1}, Conv1x1Sse4, kBlock4, FusedAct(), "1x1 4 c6");
}

TEST(ConvKernels, SingleOutputMatchesReference) {
  CompareConv({9, 11, 4, 1, 3, 3, 1, 1, 1}, ConvSingleOutput, kPlain, FusedAct(), "single 3x3");
  CompareConv({8, 9, 2, 1, 3, 3, 2, 1, 2}, ConvSingleOutput, kPlain, FusedAct(), "single dilated");
  CompareConv({7, 7, 5, 1, 1, 1, 0, 1, 1}, ConvSingleOutput, kPlain, FusedAct(), "single 1x1");
}

TEST(ConvKernels, DepthwiseMembersMatchReference) {
  struct Case {
    int H, W, C, s;
    void (*member)(const ConvArgs&);
    uint32_t code;
    const char* what;
  };
  const Case cases[] = {
      {9, 13, 24, 1, Depthwise3x3S1Sse8, kBlock8, "dw 3x3 s1 8"},
      {9, 13, 12, 1, Depthwise3x3S1Sse4, kBlock4, "dw 3x3 s1 4"},
      {11, 15, 16, 2, DepthwiseSse8, kBlock8, "dw s2 8 odd width"},
      {10, 7, 6, 2, DepthwiseSse4, kBlock4, "dw s2 4, 6 channels (moved back)"},
      {6, 5, 6, 1, DepthwiseSse4, kBlock4, "dw s1 general 4, 6 channels"},
  };
  for (const Case& c : cases) {
    Shape s{c.H, c.W, c.C, c.C, 3, 3, 1, c.s, 1};
    ConvArgs a = ArgsFor(s);
    auto in = Random(size_t(a.H) * a.W * a.C, 4);
    auto w = Random(size_t(a.C) * 9, 5);
    auto bias = Random(a.C, 6);
    const size_t outN = size_t(a.Ho) * a.Wo * a.C;
    std::vector<float> ref(outN), got(outN);
    auto w28 = Pack(w, a.C, 3, 3, 1, kWholeBlock);
    a.in = in.data();
    a.bias = bias.data();
    a.weight = w28.data();
    a.out = ref.data();
    DepthwiseReference(a);
    auto wp = Pack(w, a.C, 3, 3, 1, c.code);
    a.weight = wp.data();
    a.out = got.data();
    a.act = Relu();
    c.member(a);
    ExpectNear(got, Apply(Relu(), ref), 1e-5f, c.what);
  }
}

TEST(ConvKernels, DepthwiseReferenceIsAPerChannelConvolution) {
  // One channel of a depthwise layer equals a one-channel ordinary convolution.
  Shape s{6, 7, 1, 1, 3, 3, 1, 2, 1};
  ConvArgs a = ArgsFor(s);
  auto in = Random(size_t(a.H) * a.W, 7);
  auto w = Random(9, 8);
  float bias = 0.25f;
  std::vector<float> dw(size_t(a.Ho) * a.Wo), conv(dw.size());
  a.in = in.data();
  a.bias = &bias;
  a.weight = w.data();  // one channel: kPlain and kWholeBlock coincide
  a.out = dw.data();
  DepthwiseReference(a);
  a.out = conv.data();
  ConvReference(a);
  ExpectNear(dw, conv, 1e-6f, "depthwise vs conv");
}

TEST(ConvKernels, DeconvMembersMatchReference) {
  const tavro_test::DeconvCase cases[] = {
      {20, 20, 8, 4, 2, 0, DeconvStride2Sse4, kBlock4, "2x2 s2 8->4"},
      {5, 6, 4, 6, 2, 0, DeconvStride2Sse4, kBlock4, "2x2 s2 4->6 moved back"},
      {5, 6, 4, 3, 2, 0, DeconvStride2Sse4, kBlock4, "2x2 s2 4->3 partial block"},
      {6, 8, 3, 4, 3, 1, DeconvStride2Sse4, kBlock4, "3x3 s2 pad 1"},
      {6, 8, 8, 2, 2, 0, DeconvTwoOutputSse, kPlain, "two-output"},
      {4, 6, 4, 2, 4, 1, DeconvTwoOutputSse, kPlain, "two-output 4x4 pad 1"},
  };
  for (const auto& c : cases) tavro_test::CompareDeconv(c, 9);
}

TEST(ConvKernels, DeconvReferenceEqualsScatterDefinition) {
  // out(s*iy - pad + ky, s*ix - pad + kx) += in(iy, ix) * w(ky, kx) on the
  // unrotated weight.
  const int H = 3, W = 4, Cin = 2, C = 3, k = 3, s = 2, pad = 1;
  const int Ho = (H - 1) * s - 2 * pad + k, Wo = (W - 1) * s - 2 * pad + k;
  auto in = Random(size_t(H) * W * Cin, 12);
  auto w = Random(size_t(Cin) * k * k * C, 13);  // planar (Cin, C, k, k)
  std::vector<float> want(size_t(Ho) * Wo * C, 0.f);
  for (int iy = 0; iy < H; ++iy)
    for (int ix = 0; ix < W; ++ix)
      for (int ky = 0; ky < k; ++ky)
        for (int kx = 0; kx < k; ++kx) {
          const int oy = iy * s - pad + ky, ox = ix * s - pad + kx;
          if (oy < 0 || oy >= Ho || ox < 0 || ox >= Wo) continue;
          for (int i = 0; i < Cin; ++i)
            for (int o = 0; o < C; ++o)
              want[(size_t(oy) * Wo + ox) * C + o] +=
                  in[(size_t(iy) * W + ix) * Cin + i] * w[((size_t(i) * C + o) * k + ky) * k + kx];
        }
  ConvArgs a = tavro_test::DeconvShapeArgs(H, W, Cin, C, k, pad);  // stride s = 2
  ASSERT_EQ(a.Ho, Ho);
  ASSERT_EQ(a.Wo, Wo);
  auto w0 = Pack(w, Cin, k, k, C, kPlain, true);
  std::vector<float> got(want.size());
  a.in = in.data();
  a.weight = w0.data();
  a.out = got.data();
  DeconvReference(a);
  ExpectNear(got, want, 1e-5f, "deconv definition");
}
