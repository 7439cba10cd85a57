// The AVX2+FMA and x86 AVX+FMA members of the convolution family against the
// reference members, on shapes that hit their borders: odd widths, partial
// and moved-back last blocks, strides, dilations and the model's paddings.
// Skipped on processors without AVX2 and FMA.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/elementwise_kernels.h"
#include "tests/engine/kernel_test_util.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::ExpectNear;
using tavro_test::HaveAvx2Fma;
using tavro_test::Pack;
using tavro_test::Random;

namespace {

using Kernel = void (*)(const ConvArgs&);

// H, W, Cin, C, kernel, pad (all sides unless padR given), stride, dilation.
struct Shape {
  int H, W, Cin, C, k, pad, s, d;
  int padR = -1;
};

ConvArgs ArgsFor(const Shape& s) {
  return tavro_test::ConvShapeArgs(s.H, s.W, s.Cin, s.C, s.k, s.k, s.pad,
                                   s.padR < 0 ? s.pad : s.padR, s.s, s.d);
}

std::string Id(const char* what, const Shape& s) {
  return std::string(what) + " " + std::to_string(s.H) + "x" + std::to_string(s.W) + " cin" +
         std::to_string(s.Cin) + " c" + std::to_string(s.C) + " k" + std::to_string(s.k) +
         " s" + std::to_string(s.s) + " d" + std::to_string(s.d);
}

FusedAct Act(uint32_t kind) {
  FusedAct f;
  f.kind = kind;
  f.upper = 0.5f;
  f.slope = 0.1f;
  return f;
}

// Runs `member` over weights packed as `code` and compares it with the
// reference convolution followed by the activation the member fused. The
// output buffer is pre-filled with a marker so a missed store shows up.
void Compare(const Shape& s, Kernel member, uint32_t code, const FusedAct& act, const char* what) {
  ConvArgs a = ArgsFor(s);
  auto in = Random(size_t(a.H) * a.W * a.Cin, 21);
  auto w = Random(size_t(a.C) * a.kh * a.kw * a.Cin, 22);
  auto bias = Random(a.C, 23);
  const size_t outN = size_t(a.Ho) * a.Wo * a.C;
  std::vector<float> ref(outN), got(outN + 64, -777.f);
  auto w0 = Pack(w, a.C, a.kh, a.kw, a.Cin, kPlain);
  a.in = in.data();
  a.bias = bias.data();
  a.weight = w0.data();
  a.out = ref.data();
  ConvReference(a);
  for (auto& v : ref) v = ApplyFusedScalar(act, v);
  auto wp = Pack(w, a.C, a.kh, a.kw, a.Cin, code);
  a.weight = wp.data();
  a.out = got.data();
  a.act = act;
  member(a);
  got.resize(outN);
  ExpectNear(got, ref, 1e-5f, Id(what, s).c_str());
}

}  // namespace

TEST(FastConvKernels, PortableFmaMembersMatchReference) {
  REQUIRE_AVX2_FMA();
  const FusedAct none, relu = Act(kActRelu), clip = Act(kActClippedRelu),
                       leaky = Act(kActLeakyRelu);
  // Direct block 8 / 16, including moved-back last blocks and dilation.
  Compare({9, 13, 5, 8, 3, 1, 1, 1}, ConvDirectFma8, kBlock8, relu, "direct8");
  Compare({10, 11, 3, 12, 3, 1, 2, 1}, ConvDirectFma8, kBlock8, clip, "direct8 moved back");
  Compare({5, 6, 3, 8, 3, 2, 3, 1}, ConvDirectFma8, kBlock8, leaky, "direct8 stride 3");
  Compare({8, 10, 6, 16, 5, 2, 1, 1}, ConvDirectFma16, kBlock16, relu, "direct16 5x5");
  Compare({7, 9, 4, 24, 3, 0, 1, 1}, ConvDirectFma16, kBlock16, none, "direct16 c24");
  Compare({13, 21, 16, 8, 3, 2, 1, 2}, ConvDirectFma8, kBlock8, none, "dilated8");
  Compare({13, 21, 8, 16, 3, 2, 1, 2}, ConvDirectFma16, kBlock16, relu, "dilated16");
  Compare({14, 20, 16, 8, 2, 1, 1, 2}, ConvDirectFma8, kBlock8, none, "dilated 2x2");
  // First layer: 3x3 stride 2 pad 1 on odd sizes, 3 and 1 input channels.
  Compare({23, 31, 3, 24, 3, 1, 2, 1}, ConvFirstLayerFma, kBlock8, relu, "first cin3");
  Compare({12, 17, 1, 8, 3, 1, 2, 1}, ConvFirstLayerFma, kBlock8, none, "first cin1");
  Compare({28, 40, 3, 24, 3, 1, 2, 1, 0}, ConvFirstLayerFma, kBlock8, relu, "first pad right 0");
  // 1x1: pixel counts not a multiple of 4, moved-back blocks.
  Compare({5, 7, 24, 24, 1, 0, 1, 1}, Conv1x1Fma8, kBlock8, relu, "1x1 fma8");
  Compare({3, 5, 13, 10, 1, 0, 1, 1}, Conv1x1Fma8, kBlock8, none, "1x1 fma8 c10");
  Compare({5, 7, 24, 24, 1, 0, 1, 1}, Conv1x1Fma16, kBlock16, clip, "1x1 fma16 c24");
  Compare({3, 3, 17, 48, 1, 0, 1, 1}, Conv1x1Fma16, kBlock16, relu, "1x1 fma16 c48");
  // Single output: contiguous runs longer and shorter than 8.
  Compare({9, 11, 16, 1, 3, 1, 1, 1}, ConvSingleOutputFma, kPlain, none, "single 3x3");
  Compare({7, 7, 12, 1, 1, 0, 1, 1}, ConvSingleOutputFma, kPlain, none, "single 1x1");
  Compare({8, 9, 8, 1, 3, 2, 1, 2}, ConvSingleOutputFma, kPlain, none, "single dilated");
}

TEST(FastConvKernels, X86PathMembersMatchReference) {
  REQUIRE_AVX2_FMA();
  const FusedAct none, relu = Act(kActRelu);
  const uint32_t kB32 = 2, kB24 = 3, kCB16 = 15, kCB1 = 20;
  // 1x1 blocks 32 / 24 / 16: exact fits, moved-back blocks and C below the
  // block (the single block's extra channels must not land in the output).
  Compare({5, 7, 24, 96, 1, 0, 1, 1}, Conv1x1X86Block32, kB32, relu, "1x1 b32 c96");
  Compare({3, 5, 9, 28, 1, 0, 1, 1}, Conv1x1X86Block32, kB32, none, "1x1 b32 c28");
  Compare({5, 7, 24, 48, 1, 0, 1, 1}, Conv1x1X86Block24, kB24, relu, "1x1 b24 c48");
  Compare({3, 5, 13, 20, 1, 0, 1, 1}, Conv1x1X86Block24, kB24, none, "1x1 b24 c20");
  Compare({3, 5, 13, 10, 1, 0, 1, 1}, Conv1x1Fma16, kBlock16, relu, "1x1 b16 c10");
  Compare({4, 6, 8, 40, 1, 0, 1, 1}, Conv1x1Fma16, kBlock16, none, "1x1 b16 c40");
  // First layer block 16 over row, channel, column weights.
  Compare({23, 31, 3, 16, 3, 1, 2, 1}, ConvFirstLayerX86, kCB16, relu, "first b16 cin3");
  Compare({12, 17, 1, 12, 3, 1, 2, 1}, ConvFirstLayerX86, kCB16, none, "first b16 cin1 c12");
  Compare({10, 14, 3, 32, 3, 1, 2, 1}, ConvFirstLayerX86, kCB16, relu, "first b16 c32");
  // First layer over packed rows: 3, 2 and 1 blocks of 8 per step, odd
  // sizes (a 1 or 2 pixel tail) and no right padding.
  Compare({23, 31, 3, 24, 3, 1, 2, 1}, ConvFirstLayerX86Rows, kBlock8, relu, "first rows c24");
  Compare({28, 40, 3, 24, 3, 1, 2, 1, 0}, ConvFirstLayerX86Rows, kBlock8, relu, "first rows pad r0");
  Compare({9, 13, 3, 40, 3, 1, 2, 1}, ConvFirstLayerX86Rows, kBlock8, none, "first rows c40");
  Compare({8, 11, 3, 8, 3, 0, 2, 1}, ConvFirstLayerX86Rows, kBlock8, relu, "first rows c8 pad 0");
  // Few outputs over per-channel rows.
  Compare({10, 32, 4, 3, 3, 1, 1, 1}, Conv3OutputX86, kRowChannelFilter, relu, "3-output");
  Compare({9, 11, 3, 1, 3, 1, 1, 1}, ConvSingleOutputX86, kCB1, none, "single x86");
  Compare({9, 11, 3, 1, 3, 1, 1, 1, 3}, ConvSingleOutputX86, kCB1, relu, "single x86 pad r3");
  // 3x3 blocks 24 and 16.
  Compare({9, 13, 8, 24, 3, 1, 1, 1}, Conv3x3X86Block24, kB24, relu, "3x3 b24");
  Compare({9, 13, 8, 20, 3, 1, 1, 1}, Conv3x3X86Block24, kB24, none, "3x3 b24 c20");
  Compare({7, 9, 5, 48, 3, 1, 1, 1}, Conv3x3X86Block24, kB24, none, "3x3 b24 c48");
  Compare({9, 13, 8, 16, 3, 1, 1, 1}, Conv3x3X86Block16, kBlock16, relu, "3x3 s1 b16");
  Compare({9, 13, 8, 12, 3, 1, 1, 1}, Conv3x3X86Block16, kBlock16, none, "3x3 s1 b16 c12");
  Compare({13, 21, 8, 16, 3, 2, 1, 2}, Conv3x3X86Block16, kBlock16, relu, "3x3 b16 dilated");
  Compare({9, 13, 8, 40, 3, 0, 1, 1}, Conv3x3X86Block16, kBlock16, none, "3x3 b16 pad 0 c40");
  Compare({10, 11, 3, 16, 3, 1, 2, 1}, Conv3x3X86Block16S2, kBlock16, relu, "3x3 s2 b16 odd");
  Compare({12, 16, 6, 32, 3, 1, 2, 1}, Conv3x3X86Block16S2, kBlock16, none, "3x3 s2 b16 c32");
  // 3x3 block 4 on 4-wide registers (6 pixels per step).
  Compare({9, 23, 5, 8, 3, 1, 1, 1}, Conv3x3X86Block4, kBlock4, relu, "3x3 b4 c8");
  Compare({9, 13, 16, 4, 3, 1, 1, 1}, Conv3x3X86Block4, kBlock4, none, "3x3 b4 c4");
  Compare({7, 19, 4, 6, 3, 1, 1, 1}, Conv3x3X86Block4, kBlock4, relu, "3x3 b4 c6 moved back");
  Compare({7, 19, 4, 2, 3, 1, 1, 1}, Conv3x3X86Block4, kBlock4, none, "3x3 b4 c2 partial");
  Compare({13, 27, 4, 4, 3, 2, 2, 2}, Conv3x3X86Block4S2D2, kBlock4, relu, "3x3 b4 s2 d2");
  Compare({13, 21, 16, 4, 3, 2, 1, 2}, Conv3x3X86Block4General, kBlock4, none, "3x3 b4 dil pad2");
  Compare({13, 21, 8, 2, 3, 2, 1, 2}, Conv3x3X86Block4General, kBlock4, relu, "3x3 b4 c2 dil");
}

TEST(FastConvKernels, FirstLayerRowsNormaliseBytesAsTheNormalisationLayer) {
  // Bytes normalised while packing give exactly the output of the float
  // input the normalisation layer would have written.
  REQUIRE_AVX2_FMA();
  ConvArgs a = ArgsFor({15, 37, 3, 24, 3, 1, 2, 1});
  std::vector<uint8_t> bytes(size_t(a.H) * a.W * 3);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t((i * 89 + i / 7) & 255);
  const float mean[3] = {123.675f, 116.28f, 103.53f}, scale[3] = {0.0171f, 0.0175f, 0.0174f};
  std::vector<float> floats(bytes.size());
  NormalizeBytes(bytes.data(), uint64_t(a.H) * a.W, 3, 3, mean, scale, 0.f, floats.data());
  auto w = Pack(Random(size_t(a.C) * 27, 22), a.C, 3, 3, 3, kBlock8);
  auto bias = Random(a.C, 23);
  const size_t outN = size_t(a.Ho) * a.Wo * a.C;
  std::vector<float> fromFloats(outN), fromBytes(outN);
  a.weight = w.data();
  a.bias = bias.data();
  a.act = Act(kActRelu);
  a.in = floats.data();
  a.out = fromFloats.data();
  ConvFirstLayerX86Rows(a);
  a.in = nullptr;
  a.inBytes = bytes.data();
  a.inMean = mean;
  a.inScale = scale;
  a.out = fromBytes.data();
  ConvFirstLayerX86Rows(a);
  for (size_t i = 0; i < outN; ++i) ASSERT_EQ(fromBytes[i], fromFloats[i]) << i;
}

TEST(FastConvKernels, GroupedFmaMembersReadTheirGroupSlice) {
  REQUIRE_AVX2_FMA();
  // One group of a 2-group layer: input and output strides span both groups.
  for (int block : {8, 16}) {
    const int H = 7, W = 11, perIn = 5, perOut = block, G = 2;
    Shape s{H, W, perIn, perOut, 3, 1, 1, 1};
    ConvArgs a = ArgsFor(s);
    auto in = Random(size_t(H) * W * perIn * G, 31);
    auto w = Random(size_t(perOut) * 9 * perIn, 32);
    const size_t outN = size_t(a.Ho) * a.Wo * perOut * G;
    std::vector<float> ref(outN, 0.f), got(outN + 64, 0.f);
    a.in = in.data() + perIn;  // group 1
    a.inStride = perIn * G;
    a.outStride = perOut * G;
    auto w0 = Pack(w, perOut, 3, 3, perIn, kPlain);
    a.weight = w0.data();
    a.out = ref.data() + perOut;
    ConvReference(a);
    auto wp = Pack(w, perOut, 3, 3, perIn, block == 8 ? kBlock8 : kBlock16);
    a.weight = wp.data();
    a.out = got.data() + perOut;
    (block == 8 ? ConvDirectFma8 : ConvDirectFma16)(a);
    got.resize(outN);
    ExpectNear(got, ref, 1e-5f, block == 8 ? "grouped fma8" : "grouped fma16");
  }
}

TEST(FastConvKernels, DepthwiseMembersMatchReference) {
  REQUIRE_AVX2_FMA();
  struct Case {
    int H, W, C, s;
    Kernel member;
    uint32_t code;
    const char* what;
  };
  const Case cases[] = {
      {9, 13, 24, 1, Depthwise3x3S1Fma8, kBlock8, "3x3 s1 fma8 c24"},
      {9, 13, 48, 1, Depthwise3x3S1Fma16, kBlock16, "3x3 s1 fma16 c48"},
      {11, 15, 16, 2, DepthwiseFma8, kBlock8, "general fma8 s2 odd width"},
      {11, 15, 12, 2, DepthwiseFma8, kBlock8, "general fma8 c12 moved back"},
      {12, 17, 32, 2, DepthwiseFma16, kBlock16, "general fma16 s2"},
      {6, 40, 48, 1, DepthwiseX86General, kBlock16, "x86 general w40"},
      {9, 21, 96, 2, DepthwiseX86General, kBlock16, "x86 general s2"},
      {5, 56, 48, 1, DepthwiseX86WideRow, kBlock16, "x86 wide-row w56"},
      {4, 63, 16, 1, DepthwiseX86WideRow, kBlock16, "x86 wide-row w63"},
      {7, 11, 24, 1, DepthwiseX86Block24, kBlock24, "x86 block 24 s1"},
      {11, 15, 72, 2, DepthwiseX86Block24, kBlock24, "x86 block 24 c72 s2"},
  };
  for (const Case& c : cases) {
    ConvArgs a = ArgsFor({c.H, c.W, c.C, c.C, 3, 1, c.s, 1});
    auto in = Random(size_t(a.H) * a.W * a.C, 34);
    auto w = Random(size_t(a.C) * 9, 35);
    auto bias = Random(a.C, 36);
    const size_t outN = size_t(a.Ho) * a.Wo * a.C;
    std::vector<float> ref(outN), got(outN + 64, -777.f);
    auto w28 = Pack(w, a.C, 3, 3, 1, kWholeBlock);
    a.in = in.data();
    a.bias = bias.data();
    a.weight = w28.data();
    a.out = ref.data();
    DepthwiseReference(a);
    for (auto& v : ref) v = v > 0.f ? v : 0.f;
    auto wp = Pack(w, a.C, 3, 3, 1, c.code);
    a.weight = wp.data();
    a.out = got.data();
    a.act = Act(kActRelu);
    c.member(a);
    got.resize(outN);
    ExpectNear(got, ref, 1e-5f, c.what);
  }
}

TEST(FastConvKernels, DeconvMembersMatchReference) {
  REQUIRE_AVX2_FMA();
  const tavro_test::DeconvCase cases[] = {
      {20, 20, 8, 8, 2, 0, DeconvStride2Fma8, kBlock8, "2x2 s2 8->8"},
      {5, 6, 4, 12, 2, 0, DeconvStride2Fma8, kBlock8, "2x2 s2 4->12 moved back"},
      {5, 6, 4, 5, 2, 0, DeconvStride2Fma8, kBlock8, "2x2 s2 4->5 partial block"},
      {6, 8, 3, 16, 3, 1, DeconvStride2Fma8, kBlock8, "3x3 s2 pad 1"},
      {5, 7, 8, 4, 2, 0, DeconvStride2PairsFma, kBlock4, "2x2 s2 8->4 column pairs"},
      {4, 10, 3, 4, 2, 0, DeconvStride2PairsFma, kBlock4, "2x2 s2 3->4 column pairs"},
      {6, 8, 8, 2, 2, 0, DeconvTwoOutputFma, kPlain, "two-output cin8"},
      {4, 6, 16, 2, 4, 1, DeconvTwoOutputFma, kPlain, "two-output 4x4 pad 1"},
  };
  for (const auto& c : cases) tavro_test::CompareDeconv(c, 41);
}

TEST(FastConvKernels, Deconv5x5Stride2MembersMatchReference) {
  // 5x5 stride 2, pads left/top 1 and right/bottom 2: the output is exactly
  // twice the input. SSE members run everywhere, FMA members with AVX2/FMA.
  struct Case {
    int H, W, Cin, C;
    Kernel member;
    uint32_t code;
    bool fma;
    const char* what;
  };
  const Case cases[] = {
      {6, 8, 8, 8, Deconv5x5S2Sse4, kPlanarBlock4, false, "5x5 sse4 c8"},
      {5, 6, 3, 6, Deconv5x5S2Sse4, kPlanarBlock4, false, "5x5 sse4 c6 moved back"},
      {6, 8, 8, 3, Deconv5x5S2SseByInput, kPlain, false, "5x5 sse by input"},
      {5, 7, 5, 3, Deconv5x5S2SseByInput, kPlain, false, "5x5 general odd width"},
      {6, 8, 4, 16, Deconv5x5S2Fma8, kPlanarBlock8, true, "5x5 fma8 c16"},
      {4, 6, 3, 12, Deconv5x5S2Fma8, kPlanarBlock8, true, "5x5 fma8 c12 moved back"},
      {6, 8, 16, 3, Deconv5x5S2FmaByInput, kPlain, true, "5x5 fma by input"},
  };
  for (const Case& c : cases) {
    if (c.fma && !HaveAvx2Fma()) continue;
    ConvArgs a;
    a.H = c.H;
    a.W = c.W;
    a.Cin = c.Cin;
    a.C = c.C;
    a.kh = a.kw = 5;
    a.padL = a.padT = 1;
    a.padR = a.padB = 2;
    a.sh = a.sw = 2;
    a.Ho = 2 * a.H;
    a.Wo = 2 * a.W;
    auto in = Random(size_t(a.H) * a.W * a.Cin, 44);
    auto w = Random(size_t(a.Cin) * 25 * a.C, 45);
    auto bias = Random(a.C, 46);
    const size_t outN = size_t(a.Ho) * a.Wo * a.C;
    std::vector<float> ref(outN), got(outN + 64, -777.f);
    auto w0 = Pack(w, a.Cin, 5, 5, a.C, kPlain, true);
    a.in = in.data();
    a.bias = bias.data();
    a.weight = w0.data();
    a.out = ref.data();
    DeconvReference(a);
    const bool blocked = c.code != kPlain;
    if (blocked)
      for (auto& v : ref) v = v > 0.f ? v : 0.f;
    auto wp = Pack(w, a.Cin, 5, 5, a.C, c.code, true);
    a.weight = wp.data();
    a.out = got.data();
    if (blocked) a.act = Act(kActRelu);
    c.member(a);
    got.resize(outN);
    ExpectNear(got, ref, 1e-5f, c.what);
  }
}

TEST(FastConvKernels, SingleOutputSseFourPixelInterior) {
  // Runs a multiple of 4 floats: interior pixels 4 at a time (any processor).
  const FusedAct none;
  Compare({9, 23, 4, 1, 3, 1, 1, 1}, ConvSingleOutput, kPlain, none, "single sse 4 px");
  Compare({10, 21, 4, 1, 3, 1, 2, 1}, ConvSingleOutput, kPlain, none, "single sse 4 px s2");
  Compare({7, 30, 8, 1, 3, 0, 1, 1}, ConvSingleOutput, kPlain, none, "single sse 4 px pad 0");
  Compare({6, 13, 4, 1, 2, 1, 1, 1, 0}, ConvSingleOutput, kPlain, none, "single sse 2x2");
}
