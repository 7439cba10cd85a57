// The dispatch tables by what they do: on a grid of layer shapes and for
// every feature set this processor can run, the member each table picks
// exists, runs, and matches the reference member; members that need an
// instruction set are picked only when the features say it is there, and
// the half-precision flag keeps the portable tables on SSE. Then the whole
// network on the fast path against the forced portable path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "engine/x86/matting_net.h"
#include "engine/simd/conv.h"
#include "engine/simd/kernel_choice.h"
#include "cpu/cpu_info.h"
#include "tests/engine/kernel_test_util.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::ExpectNear;
using tavro_test::Pack;
using tavro_test::Random;

namespace {

// The feature sets the tables distinguish, limited to what this processor
// can execute (a member picked for a set must also run here).
std::vector<KernelFeatures> RunnableFeatureSets() {
  const CpuInfo& cpu = CpuInfo::Get();
  std::vector<KernelFeatures> out;
  for (KernelFeatures f : {KernelFeatures{false, false, false}, KernelFeatures{true, false, false},
                           KernelFeatures{true, false, true}, KernelFeatures{true, true, false},
                           KernelFeatures{true, true, true}}) {
    if ((f.avx && !cpu.HasAvx()) || (f.avx2 && !cpu.HasAvx2()) || (f.fma && !cpu.HasFma()))
      continue;
    out.push_back(f);
  }
  return out;
}

std::string Describe(const ConvArgs& a, const KernelFeatures& f, const char* member) {
  char buf[200];
  std::snprintf(buf, sizeof buf, "%s: %dx%d cin %d c %d k %dx%d s %d d %d pad %d/%d [avx %d avx2 %d fma %d]",
                member, a.H, a.W, a.Cin, a.C, a.kh, a.kw, a.sw, a.dw, a.padL, a.padR, f.avx, f.avx2,
                f.fma);
  return buf;
}

// A member is picked only when the features hold everything it requires
// (none under the half-precision flag, for the portable tables).
// That requires covers what the member's code uses is checked on the object
// code (table_isa_test.py).
template <typename Member>
void ExpectWithinFeatures(const Member& m, const KernelFeatures& f, bool half,
                          const std::string& id) {
  const uint32_t have = half ? 0u : f.Mask();
  EXPECT_EQ(m.requires & ~have, 0u) << id;
}

FusedAct Leaky() {
  FusedAct act;
  act.kind = kActLeakyRelu;
  act.slope = 0.1f;
  return act;
}
FusedAct Relu() {
  FusedAct act;
  act.kind = kActRelu;
  return act;
}

enum class Family { kConv, kDepthwise, kDeconv };

// Runs `m` on `a` with weights packed as it asks and compares it with the
// family's reference member followed by the per-channel affine step (members
// that apply one) and the activation the member fuses.
void RunAgainstReference(Family family, ConvArgs a, const ConvMember& m, const FusedAct& act,
                         const std::string& id) {
  const size_t wn = family == Family::kDepthwise ? size_t(a.C) * a.kh * a.kw
                                                 : size_t(a.C) * a.kh * a.kw * a.Cin;
  auto in = Random(size_t(a.H) * a.W * a.Cin, 31);
  auto w = Random(wn, 32);
  auto bias = Random(a.C, 33);
  const size_t outN = size_t(a.Ho) * a.Wo * a.C;
  std::vector<float> ref(outN), got(outN + 64, -777.f);
  std::vector<float> w0;
  a.in = in.data();
  a.bias = bias.data();
  a.out = ref.data();
  switch (family) {
    case Family::kConv:
      w0 = Pack(w, a.C, a.kh, a.kw, a.Cin, kPlain);
      a.weight = w0.data();
      ConvReference(a);
      break;
    case Family::kDepthwise:
      w0 = Pack(w, a.C, a.kh, a.kw, 1, kWholeBlock);
      a.weight = w0.data();
      DepthwiseReference(a);
      break;
    case Family::kDeconv:
      w0 = Pack(w, a.Cin, a.kh, a.kw, a.C, kPlain, true);
      a.weight = w0.data();
      DeconvReference(a);
      break;
  }
  const auto scale = Random(a.C, 34), shift = Random(a.C, 35);
  if (m.scales)
    for (size_t i = 0; i < outN; ++i) ref[i] = ref[i] * scale[i % a.C] + shift[i % a.C];
  const bool fused = m.fuses;
  if (fused)
    for (float& v : ref) v = ApplyFusedScalar(act, v);
  std::vector<float> wp;
  if (family == Family::kConv)
    wp = Pack(w, a.C, a.kh, a.kw, a.Cin, m.code);
  else if (family == Family::kDepthwise)
    wp = Pack(w, a.C, a.kh, a.kw, 1, m.code);
  else
    wp = Pack(w, a.Cin, a.kh, a.kw, a.C, m.code, true);
  a.weight = wp.data();
  a.out = got.data();
  a.act = fused ? act : FusedAct();
  if (m.scales) {
    a.outScale = scale.data();
    a.outShift = shift.data();
  }
  m.kernel(a);
  got.resize(outN);
  ExpectNear(got, ref, 1e-4f, id.c_str());
  if (!m.strided) return;
  // Into channels [1, C + 1) of a wider tensor: the same values, and the
  // channels around the slice untouched.
  const int stride = a.C + 3;
  std::vector<float> wide(size_t(a.Ho) * a.Wo * stride + 64, -777.f);
  a.out = wide.data() + 1;
  a.outStride = stride;
  m.kernel(a);
  std::vector<float> slice(outN);
  for (size_t p = 0; p < outN / a.C; ++p)
    for (int c = 0; c < stride; ++c) {
      const float v = wide[p * stride + c];
      if (c >= 1 && c <= a.C)
        slice[p * a.C + c - 1] = v;
      else
        ASSERT_EQ(v, -777.f) << id << " pixel " << p << " channel " << c;
    }
  ExpectNear(slice, ref, 1e-4f, (id + " strided").c_str());
}

// Convolution shapes around every row's conditions: channel counts on and
// off the block sizes, 1 and 3 input channels of a first layer, the 2 -> 1,
// 4 -> 1 and 4 -> 3 heads, 2x2 kernels, strides, dilations and widths a
// multiple of 32 or not (32: the 4 -> 1 member's 16- and 8-pixel steps and
// clipped border pixels in one row).
std::vector<ConvArgs> ConvShapes() {
  std::vector<ConvArgs> out;
  struct Window { int k, s, pad, padR, d; };
  const Window windows[] = {{1, 1, 0, 0, 1}, {3, 1, 1, 1, 1}, {3, 2, 1, 1, 1},
                            {3, 2, 1, 0, 1}, {3, 1, 2, 2, 2}, {3, 2, 2, 2, 2},
                            {2, 1, 1, 1, 2}, {2, 2, 0, 0, 1}};
  for (int Cin : {1, 2, 3, 4, 8, 16})
    for (int C : {1, 2, 3, 4, 6, 8, 10, 16, 20, 24, 28, 32, 40, 48})
      for (const Window& w : windows)
        for (int W : {13, 32})
          out.push_back(tavro_test::ConvShapeArgs(9, W, Cin, C, w.k, w.k, w.pad, w.padR, w.s, w.d));
  return out;
}

}  // namespace

TEST(KernelChoice, ConvolutionMembersRunAndMatchTheReference) {
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (const ConvArgs& a : ConvShapes()) {
      for (bool half : {false, true}) {
        const ConvMember m = simd::ChooseConvMember(a, half, f);
        const std::string id = Describe(a, f, m.name) + (half ? " half" : "");
        ASSERT_NE(m.kernel, nullptr) << id;  // the portable table always has a member
        ExpectWithinFeatures(m, f, half, id);
        if (!half) RunAgainstReference(Family::kConv, a, m, Leaky(), id);
      }
      const ConvMember x = x86::ChooseConvMember(a, true, f);
      if (!x.kernel) continue;  // declining hands the layer to the portable pass
      const std::string id = Describe(a, f, x.name) + " x86";
      EXPECT_TRUE(f.AvxFma()) << id;
      ExpectWithinFeatures(x, f, false, id);
      RunAgainstReference(Family::kConv, a, x, Relu(), id);
    }
}

TEST(KernelChoice, OneByOneMembersReadTheirInputInChannelSlices) {
  // The input as separate slices (a concat's inputs read in place): each
  // member that accepts them matches the reference on the joined input.
  int accepted = 0;
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (int Cin : {3, 16, 17, 28})  // 17: two slices of 8 after the first
      for (int C : {2, 4, 6, 8, 16, 24, 32, 48})
        for (int x86 = 0; x86 < 2; ++x86) {
          ConvArgs a = tavro_test::ConvShapeArgs(5, 7, Cin, C, 1, 1, 0, 0, 1, 1);
          const ConvMember m = x86 ? x86::ChooseConvMember(a, true, f)
                                   : simd::ChooseConvMember(a, false, f);
          if (!m.kernel) continue;
          const std::string id = Describe(a, f, m.name) + (x86 ? " x86" : "") + " slices";
          const int cuts[3] = {1, Cin / 2 + 1, Cin};  // slices of 1, Cin / 2 and the rest
          const size_t pixels = size_t(a.H) * a.W;
          std::vector<std::vector<float>> parts;
          std::vector<simd::ChannelSlice> slices;
          std::vector<float> joined(pixels * Cin);
          for (int i = 0, k0 = 0; i < 3; k0 = cuts[i++]) {
            const int c = cuts[i] - k0;
            parts.push_back(Random(pixels * c, 60 + i));
            for (size_t p = 0; p < pixels; ++p)
              for (int k = 0; k < c; ++k) joined[p * Cin + k0 + k] = parts.back()[p * c + k];
          }
          for (int i = 0, k0 = 0; i < 3; k0 = cuts[i++])
            slices.push_back({parts[i].data(), cuts[i] - k0});
          auto w = Random(size_t(C) * Cin, 64);
          auto bias = Random(C, 65);
          std::vector<float> ref(pixels * C), got(pixels * C + 64, -777.f);
          auto plain = Pack(w, C, 1, 1, Cin, kPlain);
          a.in = joined.data();
          a.bias = bias.data();
          a.weight = plain.data();
          a.out = ref.data();
          ConvReference(a);
          for (float& v : ref) v = ApplyFusedScalar(Relu(), v);
          auto packed = Pack(w, C, 1, 1, Cin, m.code);
          a.weight = packed.data();
          a.out = got.data();
          a.act = Relu();
          if (!simd::RunOnChannelSlices(m, a, slices.data(), 3)) {
            EXPECT_EQ(got[0], -777.f) << id;  // declined: nothing written
            continue;
          }
          ++accepted;
          got.resize(ref.size());
          ExpectNear(got, ref, 1e-4f, id.c_str());
        }
  EXPECT_GT(accepted, 0);
}

TEST(KernelChoice, DepthwiseAndGroupedMembersRunAndMatchTheReference) {
  for (const KernelFeatures& f : RunnableFeatureSets()) {
    for (int C : {4, 6, 8, 12, 16, 24, 32, 48})
      for (int s : {1, 2})
        for (int W : {13, 40, 57}) {
          const ConvArgs a = tavro_test::ConvShapeArgs(7, W, C, C, 3, 3, 1, 1, s, 1);
          for (bool half : {false, true}) {
            const ConvMember m = simd::ChooseDepthwiseMember(a, half, f);
            const std::string id = Describe(a, f, m.name) + " depthwise" + (half ? " half" : "");
            ASSERT_NE(m.kernel, nullptr) << id;
            ExpectWithinFeatures(m, f, half, id);
            if (!half) RunAgainstReference(Family::kDepthwise, a, m, Leaky(), id);
          }
          const ConvMember x = x86::ChooseDepthwiseMember(a, f);
          if (!x.kernel) continue;
          const std::string id = Describe(a, f, x.name) + " depthwise x86";
          EXPECT_TRUE(f.AvxFma()) << id;
          ExpectWithinFeatures(x, f, false, id);
          RunAgainstReference(Family::kDepthwise, a, x, Relu(), id);
        }
    // Grouped convolutions: a member for every group width divisible by 4,
    // none otherwise.
    for (int perGroup = 1; perGroup <= 40; ++perGroup) {
      const ConvMember m = simd::ChooseGroupedMember(perGroup, false, f);
      EXPECT_EQ(m.kernel != nullptr, perGroup % 4 == 0) << perGroup;
      if (m.kernel) ExpectWithinFeatures(m, f, false, m.name);
      ExpectWithinFeatures(simd::ChooseGroupedMember(perGroup, true, f), f, true, "half");
    }
  }
}

TEST(KernelChoice, TransposedMembersRunAndMatchTheReference) {
  struct Case { int Cin, C, k, s, W, padL, padR; };
  std::vector<Case> cases;
  for (int Cin : {4, 6, 8, 12, 16})
    for (int C : {2, 3, 4, 8})
      for (int W : {20, 21}) {
        cases.push_back({Cin, C, 2, 2, W, 0, 0});
        cases.push_back({Cin, C, 3, 3, W, 0, 0});
        cases.push_back({Cin, C, 5, 2, W, 1, 2});
      }
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (const Case& c : cases) {
      ConvArgs a;
      a.H = 6;
      a.W = c.W;
      a.Cin = c.Cin;
      a.C = c.C;
      a.kh = a.kw = c.k;
      a.sh = a.sw = c.s;
      a.padL = a.padT = c.padL;
      a.padR = a.padB = c.padR;
      a.Wo = (a.W - 1) * c.s - c.padL - c.padR + c.k;
      a.Ho = (a.H - 1) * c.s - c.padL - c.padR + c.k;
      for (bool half : {false, true}) {
        const ConvMember m = simd::ChooseDeconvMember(a, half, f);
        const std::string id = Describe(a, f, m.name) + " transposed" + (half ? " half" : "");
        ASSERT_NE(m.kernel, nullptr) << id;
        ExpectWithinFeatures(m, f, half, id);
        if (!half) RunAgainstReference(Family::kDeconv, a, m, Leaky(), id);
      }
    }
}

TEST(KernelChoice, PoolingMembersRunAndMatchTheReference) {
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (int C : {3, 4, 6, 8, 12, 16, 24, 32, 48}) {
      for (bool half : {false, true}) {
        const ConvArgs g = tavro_test::PoolArgs(5, 7, C, 1, 1, 0);
        const simd::PoolMember gm = simd::ChoosePoolMember(true, PoolOp::kAverage, g, half, f);
        ASSERT_NE(gm.global, nullptr) << gm.name;
        ExpectWithinFeatures(gm, f, half, gm.name);
        auto in = Random(size_t(5) * 7 * C, 41);
        std::vector<float> want(C), got(C + 16, -777.f);
        GlobalAverageReference(in.data(), 35, C, want.data());
        gm.global(in.data(), 35, C, got.data());
        got.resize(C);
        ExpectNear(got, want, 1e-5f, gm.name);
        for (PoolOp op : {PoolOp::kMax, PoolOp::kAverage})
          for (auto [k, s, pad] : {std::tuple<int, int, int>{3, 2, 1}, {2, 2, 0}, {3, 1, 1}}) {
            const ConvArgs a = tavro_test::PoolArgs(9, 13, C, k, s, pad);
            const simd::PoolMember m = simd::ChoosePoolMember(false, op, a, half, f);
            const std::string id = Describe(a, f, m.name) + " pool";
            ASSERT_TRUE(m.windowed || m.fixed) << id;
            ExpectWithinFeatures(m, f, half, id);
            auto pin = Random(size_t(9) * 13 * C, 42);
            auto ref = tavro_test::RunPool(a, pin, [op](const ConvArgs& x) { PoolReference(x, op); });
            auto out = tavro_test::RunPool(a, pin, [&](const ConvArgs& x) {
              if (m.fixed) m.fixed(x); else m.windowed(x, op);
            });
            ExpectNear(out, ref, 1e-5f, id.c_str());
          }
      }
    }
}

TEST(KernelChoice, ActivationMembersMatchTheReference) {
  auto in = Random(1003, 51, -6.f, 6.f);
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (bool x86 : {false, true})
      for (uint32_t kind = kActRelu; kind <= kActHardSwish; ++kind)
        for (bool half : {false, true}) {
          // The x86 path's sigmoid and swish members ignore the flag.
          const bool ignoresHalf = x86 && (kind == kActSigmoid || kind == kActSwish);
          const simd::ActivationMember m = simd::ChooseActivationMember(x86, kind, half, f);
          ASSERT_NE(m.kernel, nullptr) << kind;
          ExpectWithinFeatures(m, f, half && !ignoresHalf, m.name);
          ActivationArgs args;
          args.kind = kind;
          args.upper = 3.f;
          args.slope = 0.2f;
          std::vector<float> slopes(1, 0.2f);
          args.slopes = slopes.data();
          args.channels = 1;
          args.pixels = in.size();
          std::vector<float> got(in.size());
          m.kernel(args, in.data(), got.data(), in.size());
          std::vector<float> want(in.size());
          ActivationReference(args, in.data(), want.data(), in.size());
          ExpectNear(got, want, 2e-3f, m.name);
        }
}

TEST(KernelChoice, ElementwiseMembersFitTheirChannelsAndMatchTheReference) {
  // A row gated on the wrong channel multiple or features would read past a
  // row of channels or run code the processor lacks; each chosen member
  // gives the reference's values.
  const uint64_t pixels = 37;
  for (const KernelFeatures& f : RunnableFeatureSets())
    for (bool half : {false, true})
      for (int C : {3, 4, 8, 12, 16, 24}) {
        const std::string id = "C " + std::to_string(C);
        auto x = Random(pixels * C, 11, -2.f, 2.f);
        auto v = Random(C, 12, -1.f, 1.f), s = Random(pixels, 13, -1.f, 1.f);
        const auto mma = simd::ChooseMmaMember(C, half, f);
        const auto bn = simd::ChooseBatchnormMember(C, half, f);
        const auto rs = simd::ChooseResizeMember(C, half, f);
        for (int multiple : {mma.channelMultiple, bn.channelMultiple, rs.channelMultiple})
          EXPECT_EQ(multiple == 0 ? 0 : C % multiple, 0) << id;
        ExpectWithinFeatures(mma, f, half, id + " " + mma.symbol);
        ExpectWithinFeatures(bn, f, half, id + " " + bn.symbol);
        ExpectWithinFeatures(rs, f, half, id + " " + rs.symbol);
        std::vector<float> got(x.size()), want(x.size());
        mma.kernel(x.data(), v.data(), s.data(), got.data(), pixels, C, Leaky());
        MmaReference(x.data(), v.data(), s.data(), want.data(), pixels, C, Leaky());
        ExpectNear(got, want, 1e-5f, mma.symbol);
        bn.kernel(x.data(), got.data(), pixels, C, v.data(), v.data());
        BatchnormReference(x.data(), want.data(), pixels, C, v.data(), v.data());
        ExpectNear(got, want, 1e-5f, bn.symbol);
      }
  for (const KernelFeatures& f : RunnableFeatureSets())
    ExpectWithinFeatures(simd::ChooseConcatMember(false, f), f, false, "concat");
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
