// Pooling, resize, element-wise and activation kernels: SSE members against
// reference loops, plus the border and rounding rules that are easy to get
// wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <functional>
#include <cmath>
#include <limits>
#include <vector>

#include "impl_x86/activation.h"
#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/pooling_kernels.h"
#include "tests/engine/kernel_test_util.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::ExpectNear;
using tavro_test::PoolArgs;
using tavro_test::RunPool;
using tavro_test::Random;

TEST(PoolingKernels, SseMembersMatchReference) {
  for (int C : {4, 8, 24}) {
    for (auto [H, W] : {std::pair<int, int>{9, 13}, {8, 10}, {5, 3}}) {
      auto in = Random(size_t(H) * W * C, H * 100 + W + C, -3.f, -1.f);  // all negative
      ConvArgs a = PoolArgs(H, W, C, 3, 2, 1);
      auto ref = RunPool(a, in, [](const ConvArgs& x) { PoolReference(x, PoolOp::kMax); });
      auto s4 = RunPool(a, in, MaxPool3x3S2Sse4);
      ExpectNear(s4, ref, 0.f, "max 3x3 s2 4");
      for (float v : ref) EXPECT_LT(v, 0.f);  // padding never contributes a 0
      if (C % 8 == 0) ExpectNear(RunPool(a, in, MaxPool3x3S2Sse8), ref, 0.f, "max 3x3 s2 8");
      ConvArgs g = PoolArgs(H, W, C, 2, 1, 1);
      ExpectNear(RunPool(g, in, [](const ConvArgs& x) { PoolSse4(x, PoolOp::kMax); }),
                 RunPool(g, in, [](const ConvArgs& x) { PoolReference(x, PoolOp::kMax); }), 0.f,
                 "max general");
      auto avgRef = RunPool(a, in, [](const ConvArgs& x) { PoolReference(x, PoolOp::kAverage); });
      ExpectNear(RunPool(a, in, [](const ConvArgs& x) { PoolSse4(x, PoolOp::kAverage); }), avgRef,
                 1e-6f, "avg 4");
      if (C % 8 == 0)
        ExpectNear(RunPool(a, in, [](const ConvArgs& x) { PoolSse8(x, PoolOp::kAverage); }),
                   avgRef, 1e-6f, "avg 8");
    }
  }
}

TEST(PoolingKernels, AverageCountsOnlyTapsInsideTheImage) {
  std::vector<float> in(4 * 4 * 4, 1.f);
  in[0] = 5.f;  // pixel (0,0), channel 0
  ConvArgs a = PoolArgs(4, 4, 4, 3, 1, 1);
  auto out = RunPool(a, in, [](const ConvArgs& x) { PoolSse4(x, PoolOp::kAverage); });
  EXPECT_FLOAT_EQ(out[0], (5.f + 3.f) / 4.f);  // corner: 4 taps, not 9
  EXPECT_FLOAT_EQ(out[1], 1.f);
}

TEST(PoolingKernels, GlobalAverageMembersAgree) {
  for (int C : {6, 8, 13}) {
    auto in = Random(size_t(35) * C, C);
    std::vector<float> ref(C), got(C);
    GlobalAverageReference(in.data(), 35, C, ref.data());
    GlobalAverageSse4(in.data(), 35, C, got.data());  // last block moved back
    ExpectNear(got, ref, 1e-5f, "global average 4");
    if (C % 8 == 0) {
      GlobalAverageSse8(in.data(), 35, C, got.data());
      ExpectNear(got, ref, 1e-5f, "global average 8");
    }
  }
}

TEST(ResizeKernels, NearestAndBilinearIndexRules) {
  // Nearest 2x with align-corners on 7 x 10 gives 14 x 20; row index = round(oy * 6/13).
  ResizeArgs a;
  a.H = 7;
  a.W = 10;
  a.C = 3;
  a.Ho = 14;
  a.Wo = 20;
  a.alignCorners = true;
  std::vector<float> in(7 * 10 * 3);
  for (size_t i = 0; i < in.size(); ++i) in[i] = float(i / 30);  // value = row
  std::vector<float> out(14 * 20 * 3);
  a.in = in.data();
  a.out = out.data();
  ResizeNearest(a);
  const float sy = 6.f / 13.f;
  for (int oy = 0; oy < 14; ++oy)
    EXPECT_EQ(out[size_t(oy) * 60 + 5], std::min(6.f, std::round(float(oy) * sy))) << oy;
  // Without align-corners floor is used: fy = 2.5 takes row 2 (2.5 rounds to 3 with it).
  ResizeArgs b = a;
  b.H = 5;
  b.Ho = 10;
  b.alignCorners = false;  // scale 0.5: oy 5 -> fy 2.5
  std::vector<float> out2(10 * 20 * 3);
  b.out = out2.data();
  ResizeNearest(b);
  EXPECT_EQ(out2[5 * 60], 2.f);
  EXPECT_EQ(ResizeScale(4, 8, false), 0.5f);
  EXPECT_EQ(ResizeScale(4, 7, true), 0.5f);

  // Bilinear 4 -> 8 rows without align-corners: the last rows repeat row 3.
  ResizeArgs c;
  c.H = 4;
  c.W = 1;
  c.C = 1;
  c.Ho = 8;
  c.Wo = 1;
  float col[4] = {0.f, 10.f, 20.f, 30.f};
  float res[8];
  c.in = col;
  c.out = res;
  ResizeBilinearReference(c);
  EXPECT_FLOAT_EQ(res[7], 30.f);
  EXPECT_FLOAT_EQ(res[6], 30.f);
  EXPECT_FLOAT_EQ(res[1], 5.f);
  // With align-corners 4 -> 7: row 6 reads source row 3 exactly.
  c.Ho = 7;
  c.alignCorners = true;
  ResizeBilinearReference(c);
  EXPECT_FLOAT_EQ(res[6], 30.f);
  EXPECT_FLOAT_EQ(res[1], 5.f);
}

TEST(ResizeKernels, BilinearSseMatchesReference) {
  for (bool align : {false, true})
    for (int C : {4, 8, 5}) {
      ResizeArgs a;
      a.H = 5;
      a.W = 7;
      a.C = C;
      a.Ho = 13;
      a.Wo = 11;
      a.alignCorners = align;
      auto in = Random(size_t(a.H) * a.W * C, C + align);
      std::vector<float> ref(size_t(a.Ho) * a.Wo * C), got(ref.size());
      a.in = in.data();
      a.out = ref.data();
      ResizeBilinearReference(a);
      a.out = got.data();
      ResizeBilinearSse(a);
      ExpectNear(got, ref, 1e-6f, "bilinear");
    }
}

TEST(ElementwiseKernels, BatchnormPathsAgree) {
  for (int C : {4, 8, 12, 16, 6, 24}) {
    auto in = Random(size_t(9) * C, C);
    auto scale = Random(C, 1), bias = Random(C, 2), mean = Random(C, 3);
    auto var = Random(C, 4, 0.1f, 2.f);
    std::vector<float> a(C), b(C), ref(in.size()), got(in.size());
    BatchnormCoefficients(scale.data(), bias.data(), mean.data(), var.data(), 1e-5f, C, a.data(),
                          b.data());
    for (int c = 0; c < C; ++c)
      EXPECT_NEAR(a[c] * 0.7f + b[c], (0.7f - mean[c]) / std::sqrt(var[c] + 1e-5f) * scale[c] + bias[c],
                  1e-5f);
    BatchnormReference(in.data(), ref.data(), 9, C, a.data(), b.data());
    BatchnormSse(in.data(), got.data(), 9, C, a.data(), b.data());
    ExpectNear(got, ref, 1e-6f, "batchnorm");
  }
}

TEST(ElementwiseKernels, SoftmaxPaths) {
  float two[2] = {-1000.f, -1000.f}, out2[2];
  Softmax(two, out2, 1, 2);  // the 2-channel path subtracts the true maximum
  EXPECT_FLOAT_EQ(out2[0], 0.5f);
  EXPECT_FLOAT_EQ(out2[1], 0.5f);
  float three[3] = {1.f, 2.f, 3.f}, out3[3];
  Softmax(three, out3, 1, 3);
  const float s = std::exp(-2.f) + std::exp(-1.f) + 1.f;
  EXPECT_NEAR(out3[2], 1.f / s, 1e-6f);
  // The general path's maximum never falls below FLT_MIN: values far below 0
  // are not shifted up, so their exponentials underflow.
  float five[5] = {-200.f, -200.f, -200.f, -200.f, -200.f}, out5[5];
  Softmax(five, out5, 1, 5);
  EXPECT_TRUE(std::isnan(out5[0]) || out5[0] == 0.f || std::isinf(out5[0]));
  float mixed[5] = {0.f, 1.f, 2.f, 3.f, 4.f}, outm[5];
  Softmax(mixed, outm, 1, 5);
  float sum = 0.f;
  for (float v : outm) sum += v;
  EXPECT_NEAR(sum, 1.f, 1e-6f);
}

TEST(ElementwiseKernels, ShuffleSplit2Orders) {
  // K = 4: A = 0..3, B = 10..13.
  std::vector<float> A = {0, 1, 2, 3}, B = {10, 11, 12, 13};
  std::vector<float> o0(4), o1(4), all(8);
  ASSERT_TRUE(ShuffleSplit2(A.data(), B.data(), 1, 4, 4, o0.data(), o1.data()));
  EXPECT_EQ(o0, (std::vector<float>{0, 2, 10, 12}));  // g = K: even channels
  EXPECT_EQ(o1, (std::vector<float>{1, 3, 11, 13}));  // then odd channels
  ASSERT_TRUE(ShuffleSplit2(A.data(), B.data(), 1, 4, 2, all.data(), nullptr));
  EXPECT_EQ(all, (std::vector<float>{0, 10, 1, 11, 2, 12, 3, 13}));  // g = 2: interleave
  ASSERT_TRUE(ShuffleSplit2(A.data(), B.data(), 1, 4, 2, o0.data(), o1.data()));
  EXPECT_EQ(o0, (std::vector<float>{0, 10, 1, 11}));
  EXPECT_EQ(o1, (std::vector<float>{2, 12, 3, 13}));
  EXPECT_FALSE(ShuffleSplit2(A.data(), B.data(), 1, 4, 3, o0.data(), o1.data()));
}

TEST(ElementwiseKernels, ConcatAndMma) {
  std::vector<float> a = {1, 2, 3, 4, 5, 6}, b = {7, 8};  // 2 pixels: 3 + 1 channels
  const float* ins[2] = {a.data(), b.data()};
  int cs[2] = {3, 1};
  std::vector<float> out(8);
  Concat(ins, cs, 2, out.data(), 2);
  EXPECT_EQ(out, (std::vector<float>{1, 2, 3, 7, 4, 5, 6, 8}));
  std::vector<float> c = {9, 10};
  const float* ins3[3] = {a.data(), b.data(), c.data()};
  int cs3[3] = {3, 1, 1};
  std::vector<float> out3(10);
  Concat(ins3, cs3, 3, out3.data(), 2);
  EXPECT_EQ(out3, (std::vector<float>{1, 2, 3, 7, 9, 4, 5, 6, 8, 10}));

  FusedAct relu;
  relu.kind = kActRelu;
  auto x = Random(5 * 8, 1), v = Random(8, 2), s = Random(5, 3);
  std::vector<float> ref(x.size()), got(x.size());
  MmaReference(x.data(), v.data(), s.data(), ref.data(), 5, 8, relu);
  MmaSse(x.data(), v.data(), s.data(), got.data(), 5, 8, relu);
  ExpectNear(got, ref, 1e-6f, "mma");
  EXPECT_FLOAT_EQ(ref[8 + 2], std::max(0.f, (v[2] + s[1]) * x[8 + 2]));
}

TEST(ElementwiseKernels, ByteBoundaries) {
  const float in[] = {0.f, 0.003f, 0.5f, 0.999f, 1.f, 1.2f, 1.5f, -0.2f,
                      std::numeric_limits<float>::quiet_NaN(), 1e30f};
  uint8_t out[10];
  MaskToBytes(in, 10, out);
  const uint8_t want[] = {0, 0, 127, 254, 255, 255, 255, 0, 0, 255};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(out[i], want[i]) << in[i];
  // The same values at every position of the 16-value steps and the tail.
  std::vector<float> many(16 * 3 + 7);
  std::vector<uint8_t> got(many.size());
  for (size_t i = 0; i < many.size(); ++i) many[i] = in[(i * 7) % 10];
  MaskToBytes(many.data(), many.size(), got.data());
  for (size_t i = 0; i < many.size(); ++i) EXPECT_EQ(got[i], want[(i * 7) % 10]) << i;

  const uint8_t px[] = {124, 0, 255};
  const float mean[3] = {123.675f, 116.28f, 103.53f};
  const float scale[3] = {0.0171248f, 0.017507f, 0.0174292f};
  float y3[3], y4[4];
  NormalizeBytes(px, 1, 3, 3, mean, scale, -0.5f, y3);
  EXPECT_FLOAT_EQ(y3[0], (124.f - 123.675f) * 0.0171248f);
  EXPECT_FLOAT_EQ(y3[2], (255.f - 103.53f) * 0.0174292f);
  NormalizeBytes(px, 1, 3, 4, mean, scale, -0.5f, y4);
  EXPECT_EQ(y4[3], -0.5f);

  // Many pixels into four channels (one register per pixel) and into three
  // (four pixels per step, the network's input): every value exactly the
  // scalar formula, the fourth channel the fill, nothing written past the
  // last pixel, nothing read past the input.
  for (int Cout : {3, 4})
    for (int n : {2, 3, 5, 6, 7, 10, 17}) {
      std::vector<uint8_t> bytes(size_t(n) * 3);
      for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 89 + 7);
      std::vector<float> y(size_t(n) * Cout + 4, 9.f);
      NormalizeBytes(bytes.data(), n, 3, Cout, mean, scale, -0.5f, y.data());
      for (int p = 0; p < n; ++p) {
        for (int c = 0; c < 3; ++c)
          EXPECT_EQ(y[p * Cout + c], (float(bytes[p * 3 + c]) - mean[c]) * scale[c])
              << Cout << " " << n << " " << p;
        if (Cout == 4) {
          EXPECT_EQ(y[p * 4 + 3], -0.5f);
        }
      }
      for (int i = 0; i < 4; ++i) EXPECT_EQ(y[size_t(n) * Cout + i], 9.f);
    }
}

TEST(ActivationKernels, VectorPartApproximatesScalarPartIsExact) {
  ActivationArgs a;
  a.kind = kActSigmoid;
  std::vector<float> in = {-100.f, 100.f, -3.f, 0.2f, 5.f, -100.f, 100.f};  // 4 vector + 3 tail
  std::vector<float> out(in.size());
  ActivationSse(a, in.data(), out.data(), in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const float exact = 1.f / (1.f + std::exp(-in[i]));
    ASSERT_FALSE(std::isnan(out[i]));
    if (i >= 4)
      EXPECT_EQ(out[i], exact) << i;  // tail: exact formula
    else
      EXPECT_NEAR(out[i], exact, 1e-3f) << i;  // approximate reciprocal
  }
  EXPECT_NEAR(out[0], 0.f, 1e-6f);
  EXPECT_NEAR(out[1], 1.f, 1e-3f);

  // Swish: same split.
  a.kind = kActSwish;
  auto xs = Random(19, 7, -6.f, 6.f);
  std::vector<float> sw(19);
  ActivationSse(a, xs.data(), sw.data(), 19);
  for (size_t i = 0; i < 19; ++i)
    EXPECT_NEAR(sw[i], xs[i] / (1.f + std::exp(-xs[i])), 2e-3f * (1.f + std::fabs(xs[i])));
  EXPECT_EQ(sw[18], xs[18] / (1.f + std::exp(-xs[18])));
}

TEST(ActivationKernels, KindsAndEdgeValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> in = {-0.f, nan, -2.f, 3.f, 100.f};
  std::vector<float> out(5);
  ActivationArgs a;
  a.kind = kActRelu;
  ActivationSse(a, in.data(), out.data(), 5);
  EXPECT_EQ(out[0], 0.f);
  EXPECT_EQ(out[1], 0.f);  // max(NaN, 0) gives 0
  EXPECT_EQ(out[2], 0.f);
  EXPECT_EQ(out[4], 100.f);

  auto big = Random(100, 3, -50.f, 50.f);
  std::vector<float> clipped(100);
  a.kind = kActClippedRelu;
  a.upper = 6.f;
  ActivationSse(a, big.data(), clipped.data(), 100);
  for (float v : clipped) {
    EXPECT_GE(v, 0.f);
    EXPECT_LE(v, 6.f);
  }

  float hs[5] = {3.f, -3.f, 0.f, 1.f, -1.f}, ho[5];
  a.kind = kActHardSigmoid;
  ActivationSse(a, hs, ho, 5);
  EXPECT_FLOAT_EQ(ho[0], 1.f);
  EXPECT_FLOAT_EQ(ho[1], 0.f);
  EXPECT_FLOAT_EQ(ho[2], 0.5f);
  a.kind = kActHardSwish;
  ActivationSse(a, hs, ho, 5);
  EXPECT_FLOAT_EQ(ho[0], 3.f);
  EXPECT_NEAR(ho[3], 1.f * (1.f * 0.16666667f + 0.5f), 1e-6f);

  a.kind = kActLeakyRelu;
  a.slope = 0.1f;
  ActivationSse(a, hs, ho, 5);
  EXPECT_FLOAT_EQ(ho[1], -0.3f);
  EXPECT_FLOAT_EQ(ho[4], -0.1f);

  // Kind 3 takes the slope of the element's channel; absent slopes: untouched.
  float px[4] = {-1.f, -1.f, 2.f, -4.f}, po[4] = {9, 9, 9, 9};
  float slopes[2] = {0.5f, 0.25f};
  a.kind = kActChannelLeakyRelu;
  a.slopes = slopes;
  a.channels = 2;
  a.pixels = 2;
  ActivationSse(a, px, po, 4);
  EXPECT_EQ(po[0], -0.5f);
  EXPECT_EQ(po[1], -0.25f);
  EXPECT_EQ(po[2], 2.f);
  EXPECT_EQ(po[3], -1.f);

  // Unknown kinds copy; tanh uses the library function.
  a.kind = 0;
  ActivationSse(a, hs, ho, 5);
  EXPECT_EQ(ho[3], 1.f);
  a.kind = kActTanh;
  ActivationSse(a, hs, ho, 5);
  EXPECT_EQ(ho[0], std::tanh(3.f));
}
