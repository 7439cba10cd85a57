// AVX and AVX2+FMA members of pooling, resize, batch norm, concat, MMA and the
// activations against the reference / SSE members. Skipped on processors
// without AVX2 and FMA.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/pooling_kernels.h"
#include "tests/engine/kernel_test_util.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::ExpectNear;
using tavro_test::PoolArgs;
using tavro_test::RunPool;
using tavro_test::Random;

TEST(FastPoolingKernels, AvxMembersMatchReference) {
  REQUIRE_AVX2_FMA();
  for (int C : {8, 16, 24, 32, 80}) {  // 80: wider than the 3x3 s2 members carry
    for (auto [H, W] : {std::pair<int, int>{9, 13}, {8, 10}, {5, 3}}) {
      auto in = Random(size_t(H) * W * C, H * 100 + W + C, -3.f, -1.f);  // all negative
      for (PoolOp op : {PoolOp::kMax, PoolOp::kAverage}) {
        for (auto [k, s, pad] : {std::tuple<int, int, int>{3, 2, 1}, {2, 1, 0}, {3, 1, 1}}) {
          ConvArgs a = PoolArgs(H, W, C, k, s, pad);
          auto ref = RunPool(a, in, [op](const ConvArgs& x) { PoolReference(x, op); });
          ExpectNear(RunPool(a, in, [op](const ConvArgs& x) { PoolAvx8(x, op); }), ref, 1e-6f,
                     "pool avx 8");
          if (C % 16 == 0)
            ExpectNear(RunPool(a, in, [op](const ConvArgs& x) { PoolAvx16(x, op); }), ref, 1e-6f,
                       "pool avx 16");
          if (op == PoolOp::kMax && k == 3 && s == 2) {
            for (float v : ref) EXPECT_LT(v, 0.f);  // padding never contributes a 0
            ExpectNear(RunPool(a, in, MaxPool3x3S2Avx8), ref, 0.f, "max 3x3 s2 avx 8");
            if (C % 16 == 0)
              ExpectNear(RunPool(a, in, MaxPool3x3S2Avx16), ref, 0.f, "max 3x3 s2 avx 16");
          }
        }
      }
    }
  }
}

TEST(FastPoolingKernels, GlobalAverageMembersAgree) {
  REQUIRE_AVX2_FMA();
  for (int C : {8, 13, 16, 48}) {  // 13: the last 8-wide block moves back
    auto in = Random(size_t(35) * C, C);
    std::vector<float> ref(C), got(C);
    GlobalAverageReference(in.data(), 35, C, ref.data());
    GlobalAverageAvx8(in.data(), 35, C, got.data());
    ExpectNear(got, ref, 1e-5f, "global average avx 8");
    if (C % 16 == 0) {
      GlobalAverageAvx16(in.data(), 35, C, got.data());
      ExpectNear(got, ref, 1e-5f, "global average avx 16");
    }
  }
}

TEST(FastElementwiseKernels, ResizeBatchnormConcatMma) {
  REQUIRE_AVX2_FMA();
  for (int C : {8, 16, 24, 32, 40, 192}) {
    // Bilinear 2x with and without align-corners, and an odd shrink.
    for (auto [H, W, Ho, Wo] : {std::tuple<int, int, int, int>{4, 5, 8, 10}, {7, 6, 3, 4}}) {
      for (bool align : {false, true}) {
        auto in = Random(size_t(H) * W * C, C + H);
        ResizeArgs a;
        a.in = in.data();
        a.H = H;
        a.W = W;
        a.C = C;
        a.Ho = Ho;
        a.Wo = Wo;
        a.alignCorners = align;
        std::vector<float> ref(size_t(Ho) * Wo * C), got(ref.size() + 8, -777.f);
        a.out = ref.data();
        ResizeBilinearReference(a);
        a.out = got.data();
        ResizeBilinearAvx2(a);
        got.resize(ref.size());
        ExpectNear(got, ref, 1e-5f, "bilinear avx2");
      }
    }
    // Batch norm: the unrolled widths 32/24/16/8 and the general loop.
    auto x = Random(size_t(37) * C, 50 + C), ca = Random(C, 51), cb = Random(C, 52);
    std::vector<float> ref(x.size()), got(x.size());
    BatchnormReference(x.data(), ref.data(), 37, C, ca.data(), cb.data());
    BatchnormAvx2(x.data(), got.data(), 37, C, ca.data(), cb.data());
    ExpectNear(got, ref, 1e-5f, "batchnorm avx2");
    // MMA with each fusible activation.
    auto v = Random(C, 53), s = Random(37, 54);
    for (uint32_t kind : {0u, 1u, 2u, 6u}) {
      FusedAct act;
      act.kind = kind;
      act.upper = 0.3f;
      act.slope = 0.2f;
      MmaReference(x.data(), v.data(), s.data(), ref.data(), 37, C, act);
      MmaAvx(x.data(), v.data(), s.data(), got.data(), 37, C, act);
      ExpectNear(got, ref, 1e-6f, "mma avx");
    }
  }
  // Concat of 2, 3 and 4 inputs with channel counts that exercise the 8-,
  // 4- and 1-wide copies.
  const std::vector<std::vector<int>> layouts = {{16, 4}, {4, 4, 8}, {2, 2, 4}, {13, 3, 8, 1}, {24, 2}};
  for (const auto& cs : layouts) {
    const int pixels = 7;
    std::vector<std::vector<float>> ins;
    std::vector<const float*> ptrs;
    int C = 0;
    for (size_t i = 0; i < cs.size(); ++i) {
      ins.push_back(Random(size_t(pixels) * cs[i], 60 + int(i)));
      C += cs[i];
    }
    for (auto& v : ins) ptrs.push_back(v.data());
    std::vector<float> ref(size_t(pixels) * C), got(ref.size());
    Concat(ptrs.data(), cs.data(), int(cs.size()), ref.data(), pixels);
    ConcatAvx(ptrs.data(), cs.data(), int(cs.size()), got.data(), pixels);
    EXPECT_EQ(got, ref);
  }
}

TEST(FastActivationKernels, EveryKindAgainstTheExactFormulas) {
  REQUIRE_AVX2_FMA();
  auto in = Random(101, 70, -8.f, 8.f);  // 96 vector elements + 5 tail
  in[0] = -100.f;
  in[1] = 100.f;
  in[2] = -0.f;
  ActivationArgs a;
  a.upper = 6.f;
  a.slope = 0.1f;
  for (uint32_t kind = 0; kind <= 10; ++kind) {
    if (kind == kActChannelLeakyRelu) continue;
    a.kind = kind;
    std::vector<float> ref(in.size()), got(in.size()), got2(in.size());
    ActivationReference(a, in.data(), ref.data(), in.size());
    ActivationAvx2Fma(a, in.data(), got.data(), in.size());
    const bool approx = kind == kActSigmoid || kind == kActSwish;
    for (size_t i = 0; i < in.size(); ++i) {
      ASSERT_FALSE(std::isnan(got[i])) << kind << " " << i;
      if (i >= 96 || !approx)
        EXPECT_NEAR(got[i], ref[i], 1e-6f * (1.f + std::fabs(ref[i]))) << kind << " " << i;
      else
        EXPECT_NEAR(got[i], ref[i], 1e-3f * (1.f + std::fabs(in[i]))) << kind << " " << i;
    }
    if (kind == kActSigmoid) {
      EXPECT_NEAR(got[0], 0.f, 1e-6f);  // the clamp keeps exp finite
      EXPECT_NEAR(got[1], 1.f, 1e-3f);
      // The tail uses the exact formula.
      EXPECT_EQ(got[100], 1.f / (1.f + std::exp(-in[100])));
    }
    if (approx) {
      // The AVX member (floor form) computes the same within the
      // reciprocal's precision.
      ActivationAvx(a, in.data(), got2.data(), in.size());
      for (size_t i = 0; i < in.size(); ++i)
        EXPECT_NEAR(got2[i], got[i], 1e-3f * (1.f + std::fabs(in[i]))) << kind << " " << i;
    }
  }
  // Kind 2 stays inside [0, upper] everywhere; in place works.
  a.kind = kActClippedRelu;
  auto big = Random(100, 71, -50.f, 50.f);
  ActivationAvx2Fma(a, big.data(), big.data(), big.size());
  for (float v : big) {
    EXPECT_GE(v, 0.f);
    EXPECT_LE(v, 6.f);
  }
  // Kind 1 on NaN gives 0 in the vector part, as the maximum instruction does.
  std::vector<float> nan(8, std::numeric_limits<float>::quiet_NaN());
  a.kind = kActRelu;
  ActivationAvx2Fma(a, nan.data(), nan.data(), 8);
  for (float v : nan) EXPECT_EQ(v, 0.f);
}

TEST(FastElementwiseKernels, ShuffleInterleaveOfWideInputs) {
  // Two groups on K = 8 and 24 channels (the vectorised interleave): y[2j] =
  // A[j], y[2j + 1] = B[j], split K / K over two outputs or kept whole.
  for (int K : {8, 24}) {
    const int pixels = 5;
    auto A = Random(size_t(pixels) * K, 80), B = Random(size_t(pixels) * K, 81);
    std::vector<float> all(size_t(pixels) * 2 * K), o0(size_t(pixels) * K), o1(o0.size());
    ASSERT_TRUE(ShuffleSplit2(A.data(), B.data(), pixels, K, 2, all.data(), nullptr));
    ASSERT_TRUE(ShuffleSplit2(A.data(), B.data(), pixels, K, 2, o0.data(), o1.data()));
    for (int p = 0; p < pixels; ++p)
      for (int j = 0; j < K; ++j) {
        const float a = A[size_t(p) * K + j], b = B[size_t(p) * K + j];
        EXPECT_EQ(all[size_t(p) * 2 * K + 2 * j], a);
        EXPECT_EQ(all[size_t(p) * 2 * K + 2 * j + 1], b);
        const float* half = 2 * j < K ? &o0[size_t(p) * K] : &o1[size_t(p) * K];
        EXPECT_EQ(half[(2 * j) % K], a);
        EXPECT_EQ(half[(2 * j + 1) % K], b);
      }
  }
}
