// The dispatch tables, row by row, with made-up feature sets (so every row is
// checked on any machine), and the whole network on the fast path against the
// forced portable path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/matting_net.h"
#include "engine/simd/kernel_choice.h"
#include "engine/x86/cpu_info.h"
#include "engine/x86/kernel_choice.h"

using namespace TAVROMATTING;

namespace {

KernelFeatures None() { return {}; }
KernelFeatures Avx() { return {true, false, false}; }
KernelFeatures AvxFma() { return {true, false, true}; }
KernelFeatures Avx2Fma() { return {true, true, true}; }

ConvArgs Conv(int Cin, int C, int k, int s, int pad, int d = 1, int W = 40, int padR = -1) {
  ConvArgs a;
  a.H = 20;
  a.W = W;
  a.Cin = Cin;
  a.C = C;
  a.kh = a.kw = k;
  a.sh = a.sw = s;
  a.dh = a.dw = d;
  a.padL = a.padT = a.padB = pad;
  a.padR = padR < 0 ? pad : padR;
  a.Ho = (a.H + 2 * pad - (k - 1) * d - 1) / s + 1;
  a.Wo = (a.W + a.padL + a.padR - (k - 1) * d - 1) / s + 1;
  return a;
}

std::string Portable(const ConvArgs& a, const KernelFeatures& f, bool half = false) {
  return simd::ChooseConvMember(a, half, f).name;
}
std::string X86(const ConvArgs& a, bool hasFloat = true, const KernelFeatures& f = AvxFma()) {
  return x86::ChooseConvMember(a, hasFloat, f).name;
}

}  // namespace

TEST(KernelChoice, PortableConvolutionTables) {
  const KernelFeatures f = Avx2Fma();
  // First layer: FMA only when C is a multiple of 8.
  EXPECT_EQ(Portable(Conv(3, 24, 3, 2, 1), f), "first-layer FMA");
  EXPECT_EQ(Portable(Conv(1, 12, 3, 2, 1), f), "first-layer SSE");
  EXPECT_EQ(Portable(Conv(3, 24, 3, 2, 1), None()), "first-layer SSE");
  // Single output; 2 -> 1 channels takes it even on the SSE column.
  EXPECT_EQ(Portable(Conv(4, 1, 3, 1, 1), f), "single-output");
  EXPECT_EQ(Portable(Conv(8, 1, 3, 1, 1), f), "single-output FMA");
  EXPECT_EQ(Portable(Conv(8, 1, 3, 1, 1), None()), "single-output");
  EXPECT_EQ(Portable(Conv(2, 1, 3, 1, 1, 2), None()), "single-output");
  // 1x1.
  EXPECT_EQ(Portable(Conv(24, 16, 1, 1, 0), f), "1x1 FMA 16");
  EXPECT_EQ(Portable(Conv(24, 10, 1, 1, 0), f), "1x1 FMA 8");
  EXPECT_EQ(Portable(Conv(28, 4, 1, 1, 0), f), "1x1 SSE 4");
  EXPECT_EQ(Portable(Conv(24, 10, 1, 1, 0), None()), "1x1 SSE 8");
  EXPECT_EQ(Portable(Conv(24, 2, 1, 1, 0), f), "direct SSE 4");
  // Direct and dilated.
  EXPECT_EQ(Portable(Conv(16, 32, 3, 1, 1), f), "direct FMA 16");
  EXPECT_EQ(Portable(Conv(16, 24, 3, 1, 1), f), "direct FMA 8");
  EXPECT_EQ(Portable(Conv(16, 6, 3, 1, 1), f), "direct SSE 4");
  EXPECT_EQ(Portable(Conv(16, 24, 3, 1, 1), None()), "direct SSE 8");
  EXPECT_EQ(Portable(Conv(16, 32, 3, 1, 2, 2), f), "dilated FMA 16");
  EXPECT_EQ(Portable(Conv(16, 8, 3, 1, 2, 2), f), "dilated FMA 8");
  EXPECT_EQ(Portable(Conv(16, 4, 2, 1, 1, 2), f), "dilated SSE 4");
  EXPECT_EQ(Portable(Conv(16, 6, 3, 1, 2, 2), f), "reference");
  EXPECT_EQ(Portable(Conv(16, 8, 3, 1, 2, 2), None()), "dilated SSE 8");
  // The half-precision flag selects the SSE column even with AVX2 and FMA.
  EXPECT_EQ(Portable(Conv(24, 16, 1, 1, 0), f, true), "1x1 SSE 8");
  // AVX2 without FMA is not enough.
  EXPECT_EQ(Portable(Conv(24, 16, 1, 1, 0), {true, true, false}), "1x1 SSE 8");
}

TEST(KernelChoice, X86ConvolutionTable) {
  // 1x1: block by channel count, declines otherwise.
  EXPECT_EQ(X86(Conv(48, 96, 1, 1, 0)), "1x1 block 32");
  EXPECT_EQ(X86(Conv(48, 28, 1, 1, 0)), "1x1 block 32");
  EXPECT_EQ(X86(Conv(48, 48, 1, 1, 0)), "1x1 block 24");
  EXPECT_EQ(X86(Conv(48, 20, 1, 1, 0)), "1x1 block 24");
  EXPECT_EQ(X86(Conv(48, 16, 1, 1, 0)), "1x1 block 16");
  EXPECT_EQ(X86(Conv(48, 10, 1, 1, 0)), "1x1 block 16");
  EXPECT_EQ(X86(Conv(28, 4, 1, 1, 0)), "declines: 1x1 channels");
  EXPECT_EQ(X86(Conv(28, 8, 1, 1, 0)), "declines: 1x1 channels");
  // 3x3 rows in order.
  EXPECT_EQ(X86(Conv(3, 16, 3, 2, 1)), "first-layer block 16");
  EXPECT_EQ(X86(Conv(1, 12, 3, 2, 1)), "first-layer block 16");
  EXPECT_EQ(X86(Conv(3, 24, 3, 2, 1)), "declines: 3x3 channels");  // the model's stem
  EXPECT_EQ(X86(Conv(4, 3, 3, 1, 1, 1, 32)), "3-output");
  EXPECT_EQ(X86(Conv(4, 3, 3, 1, 1, 1, 30)), "3x3 block 4");  // width not a multiple of 32
  EXPECT_EQ(X86(Conv(8, 24, 3, 1, 1)), "3x3 block 24");
  EXPECT_EQ(X86(Conv(8, 20, 3, 1, 1)), "3x3 block 24");
  EXPECT_EQ(X86(Conv(32, 16, 3, 1, 1)), "3x3 stride 1 block 16");
  EXPECT_EQ(X86(Conv(32, 16, 3, 1, 2, 2)), "general 3x3 block 16");
  EXPECT_EQ(X86(Conv(32, 32, 3, 2, 1)), "3x3 stride 2 block 16");
  EXPECT_EQ(X86(Conv(32, 32, 3, 2, 1), false), "declines: 3x3 channels");  // 8-bit input
  EXPECT_EQ(X86(Conv(3, 1, 3, 1, 1)), "single-output");
  EXPECT_EQ(X86(Conv(4, 1, 3, 1, 1)), "declines: one channel");
  EXPECT_EQ(X86(Conv(8, 8, 3, 1, 1)), "3x3 block 4");
  EXPECT_EQ(X86(Conv(4, 4, 3, 1, 1)), "3x3 block 4");
  EXPECT_EQ(X86(Conv(8, 8, 3, 1, 2, 2)), "declines: 3x3 channels");
  EXPECT_EQ(X86(Conv(8, 4, 3, 2, 2, 2)), "3x3 block 4 stride 2 dilation 2");
  EXPECT_EQ(X86(Conv(8, 4, 3, 1, 2, 2)), "general 3x3 block 4");
  EXPECT_EQ(X86(Conv(8, 2, 3, 1, 2, 2)), "general 3x3 block 4");
  EXPECT_EQ(X86(Conv(16, 4, 2, 1, 1, 2)), "declines: kernel size");
  EXPECT_EQ(X86(Conv(16, 16, 5, 1, 2)), "declines: kernel size");
  // Needs AVX and FMA.
  EXPECT_EQ(X86(Conv(48, 96, 1, 1, 0), true, Avx()), "declines: no AVX+FMA");
  EXPECT_EQ(X86(Conv(48, 96, 1, 1, 0), true, Avx2Fma()), "1x1 block 32");
}

TEST(KernelChoice, DepthwiseGroupedAndTransposed) {
  const KernelFeatures f = Avx2Fma();
  auto dw = [](int C, int s, int W = 40) { return Conv(C, C, 3, s, 1, 1, W); };
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(48, 1), false, f).name, "3x3 stride-1 FMA 16");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(24, 1), false, f).name, "3x3 stride-1 FMA 8");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(12, 1), false, f).name, "3x3 stride-1 SSE 4");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(6, 1), false, f).name, "reference");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(24, 1), false, None()).name, "3x3 stride-1 SSE 8");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(32, 2), false, f).name, "general FMA 16");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(24, 2), false, f).name, "general FMA 8");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(24, 2), true, f).name, "general SSE 8");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(12, 2), false, f).name, "general SSE 4");
  EXPECT_STREQ(simd::ChooseDepthwiseMember(dw(6, 2), false, f).name, "reference");
  // x86: C % 16, wide-row from 56 output pixels at stride width 1.
  EXPECT_STREQ(x86::ChooseDepthwiseMember(dw(48, 1, 40), AvxFma()).name, "general");
  EXPECT_STREQ(x86::ChooseDepthwiseMember(dw(48, 1, 56), AvxFma()).name, "wide-row");
  EXPECT_STREQ(x86::ChooseDepthwiseMember(dw(48, 2, 120), AvxFma()).name, "general");
  EXPECT_STREQ(x86::ChooseDepthwiseMember(dw(24, 1, 56), AvxFma()).name, "declines: shape");
  EXPECT_STREQ(x86::ChooseDepthwiseMember(dw(48, 1, 56), Avx()).name, "declines: no AVX+FMA");
  // Grouped by channels per group.
  EXPECT_STREQ(simd::ChooseGroupedMember(32, false, f).name, "grouped FMA 16");
  EXPECT_STREQ(simd::ChooseGroupedMember(24, false, f).name, "grouped FMA 8");
  EXPECT_STREQ(simd::ChooseGroupedMember(12, false, f).name, "grouped SSE 4");
  EXPECT_STREQ(simd::ChooseGroupedMember(24, false, None()).name, "grouped SSE 8");
  EXPECT_EQ(simd::ChooseGroupedMember(3, false, f).kernel, nullptr);
  // Transposed: W' a multiple of 4 and stride 2, else the reference.
  auto de = [](int Cin, int C, int k, int s, int W, int padL = 0, int padR = 0) {
    ConvArgs a;
    a.H = 10;
    a.W = W;
    a.Cin = Cin;
    a.C = C;
    a.kh = a.kw = k;
    a.sh = a.sw = s;
    a.padL = a.padT = padL;
    a.padR = a.padB = padR;
    a.Wo = (W - 1) * s - padL - padR + k;
    a.Ho = (a.H - 1) * s - padL - padR + k;
    return a;
  };
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 4, 2, 2, 20), false, f).name, "stride-2 SSE 4");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 8, 2, 2, 20), false, f).name, "stride-2 FMA 8");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 8, 2, 2, 20), false, None()).name, "stride-2 SSE 4");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 4, 2, 2, 21), false, f).name, "reference");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 4, 3, 3, 20), false, f).name, "reference");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(16, 2, 2, 2, 20), false, f).name, "two-output FMA");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(12, 2, 2, 2, 20), false, f).name, "two-output SSE");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(6, 2, 2, 2, 20), false, f).name, "stride-2 SSE 4");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 8, 5, 2, 21, 1, 2), false, f).name,
               "5x5 stride-2 general");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 8, 5, 2, 20, 1, 2), false, f).name,
               "5x5 stride-2 FMA 8");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 8, 5, 2, 20, 1, 2), false, None()).name,
               "5x5 stride-2 SSE 4");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(8, 3, 5, 2, 20, 1, 2), false, f).name,
               "5x5 stride-2 FMA by input");
  EXPECT_STREQ(simd::ChooseDeconvMember(de(4, 3, 5, 2, 20, 1, 2), false, f).name,
               "5x5 stride-2 SSE by input");
}

TEST(KernelChoice, PoolingActivationAndSimpleLayers) {
  auto pool = [](bool global, PoolOp op, int C, int k, int s, int pad, const KernelFeatures& f) {
    ConvArgs a = Conv(C, C, k, s, pad);
    return std::string(simd::ChoosePoolMember(global, op, a, false, f).name);
  };
  EXPECT_EQ(pool(true, PoolOp::kAverage, 32, 1, 1, 0, Avx()), "global AVX 16");
  EXPECT_EQ(pool(true, PoolOp::kAverage, 12, 1, 1, 0, Avx()), "global AVX 8");
  EXPECT_EQ(pool(true, PoolOp::kAverage, 6, 1, 1, 0, Avx()), "global SSE 4");
  EXPECT_EQ(pool(true, PoolOp::kAverage, 3, 1, 1, 0, Avx()), "global reference");
  EXPECT_EQ(pool(true, PoolOp::kAverage, 12, 1, 1, 0, None()), "global SSE 4");
  EXPECT_EQ(pool(false, PoolOp::kMax, 24, 3, 2, 1, Avx()), "max 3x3 s2 AVX 8");  // the model's
  EXPECT_EQ(pool(false, PoolOp::kMax, 32, 3, 2, 1, Avx()), "max 3x3 s2 AVX 16");
  EXPECT_EQ(pool(false, PoolOp::kMax, 12, 3, 2, 1, Avx()), "max 3x3 s2 SSE 4");
  EXPECT_EQ(pool(false, PoolOp::kMax, 6, 3, 2, 1, Avx()), "pool reference");
  EXPECT_EQ(pool(false, PoolOp::kMax, 24, 3, 2, 1, None()), "max 3x3 s2 SSE 8");
  EXPECT_EQ(pool(false, PoolOp::kAverage, 24, 3, 2, 1, Avx()), "pool AVX 8");
  EXPECT_EQ(pool(false, PoolOp::kMax, 48, 2, 2, 0, Avx()), "pool AVX 16");
  EXPECT_EQ(pool(false, PoolOp::kMax, 12, 2, 2, 0, Avx()), "pool SSE 4");
  EXPECT_EQ(pool(false, PoolOp::kMax, 24, 2, 2, 0, None()), "pool SSE 8");

  auto act = [](bool x86, uint32_t kind, bool half, const KernelFeatures& f) {
    return std::string(simd::ChooseActivationMember(x86, kind, half, f).name);
  };
  EXPECT_EQ(act(false, kActRelu, false, Avx2Fma()), "AVX2+FMA");
  EXPECT_EQ(act(false, kActRelu, true, Avx2Fma()), "SSE");
  EXPECT_EQ(act(false, kActSigmoid, false, Avx()), "SSE");
  EXPECT_EQ(act(true, kActSigmoid, true, Avx2Fma()), "AVX2+FMA");  // ignores the flag
  EXPECT_EQ(act(true, kActSwish, false, AvxFma()), "AVX");
  EXPECT_EQ(act(true, kActSigmoid, false, None()), "SSE");
  EXPECT_EQ(act(true, kActRelu, false, Avx()), "SSE");  // other kinds: simd::Activation

  EXPECT_TRUE(simd::UseBatchnormAvx2(16, false, Avx2Fma()));
  EXPECT_FALSE(simd::UseBatchnormAvx2(4, false, Avx2Fma()));
  EXPECT_FALSE(simd::UseBatchnormAvx2(16, true, Avx2Fma()));
  EXPECT_TRUE(simd::UseResizeAvx2(192, false, Avx2Fma()));
  EXPECT_FALSE(simd::UseResizeAvx2(192, false, AvxFma()));
  EXPECT_TRUE(simd::UseConcatAvx(false, Avx()));
  EXPECT_FALSE(simd::UseConcatAvx(true, Avx()));
  EXPECT_TRUE(simd::UseMmaAvx(8, false, Avx()));
  EXPECT_FALSE(simd::UseMmaAvx(12, false, Avx()));
}

TEST(KernelChoice, ForcedPortableReadsNoFeatures) {
  CpuInfo::ForcePortable(true);
  const KernelFeatures f = KernelFeatures::Current();
  CpuInfo::ForcePortable(false);
  EXPECT_FALSE(f.avx || f.avx2 || f.fma);
}

TEST(FastNet, MaskMatchesThePortablePath) {
  const CpuInfo& cpu = CpuInfo::Get();
  if (!(cpu.HasAvx() && cpu.HasAvx2() && cpu.HasFma())) GTEST_SKIP() << "no AVX2/FMA";
  for (auto [w, h] : {std::pair<int, int>{320, 224}, {224, 224}}) {
    // A picture with structure: gradients and a bright disc.
    std::vector<uint8_t> img(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const bool disc = (x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < (h / 3) * (h / 3);
        uint8_t* p = &img[(size_t(y) * w + x) * 3];
        p[0] = uint8_t(disc ? 220 : x * 255 / w);
        p[1] = uint8_t(disc ? 180 : y * 255 / h);
        p[2] = uint8_t((x * 7 + y * 3) & 255);
      }
    std::vector<uint8_t> fast(size_t(w) * h), portable(fast.size());
    for (int pass = 0; pass < 2; ++pass) {
      CpuInfo::ForcePortable(pass == 1);
      testing::internal::CaptureStdout();
      Net* net = CreateNet(0, 0);
      ASSERT_NE(net, nullptr);
      RunMattingNet(net, img.data(), pass == 0 ? fast.data() : portable.data(), w, h);
      DestroyNet(net);
      testing::internal::GetCapturedStdout();
    }
    CpuInfo::ForcePortable(false);
    int maxDiff = 0;
    size_t differing = 0;
    for (size_t i = 0; i < fast.size(); ++i) {
      const int d = std::abs(int(fast[i]) - int(portable[i]));
      maxDiff = std::max(maxDiff, d);
      differing += d != 0;
    }
    std::printf("fast vs portable mask %dx%d: max difference %d grey levels, %zu of %zu pixels differ\n",
                w, h, maxDiff, differing, fast.size());
    EXPECT_LE(maxDiff, 1) << w << "x" << h;
    EXPECT_GT(*std::max_element(fast.begin(), fast.end()), 0);  // not a blank mask
  }
}
