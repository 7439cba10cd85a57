// The convolution and depthwise dispatch tables: one table per operation,
// rows in the order the tables are documented (the portable rows, then the
// x86 path's), the first row whose features are present and whose condition
// holds wins. Every row names what its member's code needs (requires: the
// instruction sets its file is compiled for, at least) and the weight layout
// it reads.
//
// The portable path (simd::Conv) reads the portable rows with the
// processor's features, or with none when the half-precision flag is set.
// The x86 path (x86::Conv, the tier the layer catalogue names) reads the x86
// rows and ignores the flag; a row without a kernel, or no row at all,
// declines, and the layer then runs the portable path.
#include <vector>

#include "engine/core/tensor.h"
#include "engine/simd/kernel_choice.h"
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {

namespace {

enum class Path { kPortable, kX86 };

struct ConvQuery {
  const ConvArgs& a;
  bool half;
  bool inputHasFloat;
};
using When = bool (*)(const ConvQuery&);

struct ConvRow {
  Path path;
  uint32_t requires;
  When when;
  ConvMember member;  // kernel null: the x86 path declines
};

enum : uint32_t { kFuses = 1, kStrided = 2, kReadsBytes = 4, kScales = 8 };
// The AVX2 table of the portable path needs AVX2 and FMA; its FMA members
// are compiled for AVX and FMA.
constexpr uint32_t kTierAvx2 = kFeatureAvx | kFeatureAvx2 | kFeatureFma;
// The x86 path needs AVX and FMA.
constexpr uint32_t kTierFma = kFeatureAvx | kFeatureFma;

constexpr ConvRow Row(Path path, uint32_t requires, When when, ConvKernel kernel,
                      const char* symbol, uint32_t code, uint32_t flags, const char* name) {
  return {path, requires, when,
          ConvMember{kernel, code, (flags & kFuses) != 0, name, (flags & kScales) != 0,
                     (flags & kReadsBytes) != 0, (flags & kStrided) != 0, requires, symbol}};
}
constexpr ConvRow Declines(uint32_t requires, When when, const char* why) {
  return {Path::kX86, requires, when, ConvMember{nullptr, 0, false, why}};
}
#define MEMBER(fn) fn, #fn
constexpr Path P = Path::kPortable;
constexpr Path X = Path::kX86;

bool Dil1(const ConvArgs& a) { return a.dw <= 1 && a.dh <= 1; }
bool FirstLayer(const ConvArgs& a) {
  return Dil1(a) && a.kh == 3 && a.kw == 3 && a.sw == 2 && a.sh == 2 && a.padL == 1 &&
         (a.Cin == 3 || a.Cin == 1);
}
bool OneByOne(const ConvArgs& a) {
  return Dil1(a) && a.kh == 1 && a.kw == 1 && a.sw == 1 && a.sh == 1;
}
// C fills blocks of b exactly, or a single block of b with b - C zero filters
// without fitting the next smaller block.
bool Fits(int C, int b, int below) { return C % b == 0 || (C > below && C < b); }
bool Fits32(int C) { return Fits(C, 32, 24); }
bool Fits24(int C) { return Fits(C, 24, 16); }
bool Fits16(int C) { return Fits(C, 16, 8); }
bool X1x1(const ConvArgs& a) { return a.kh == 1 && a.kw == 1 && a.sw == 1 && a.dh == 1; }
bool X3x3(const ConvArgs& a) { return a.kh == 3 && a.kw == 3; }

// clang-format off
const ConvRow kConvRows[] = {
  // Portable: 2 -> 1 channels.
  Row(P, 0, [](const ConvQuery& q) { return !q.half && q.a.C == 1 && q.a.Cin == 2; },
      MEMBER(ConvSingleOutput), kPlain, 0, "single-output"),
  // Portable: the AVX2 and SSE tables, row by row.
  Row(P, kTierAvx2, [](const ConvQuery& q) { return FirstLayer(q.a) && q.a.C % 8 == 0; },
      MEMBER(ConvFirstLayerFma), kBlock8, kFuses, "first-layer FMA"),
  Row(P, 0, [](const ConvQuery& q) { return FirstLayer(q.a); },
      MEMBER(ConvFirstLayerSse), kBlock4, kFuses, "first-layer SSE"),
  Row(P, 0, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C == 1 && q.a.Cin < 8; },
      MEMBER(ConvSingleOutput), kPlain, 0, "single-output"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C == 1; },
      MEMBER(ConvSingleOutputFma), kPlain, 0, "single-output FMA"),
  Row(P, 0, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C == 1; },
      MEMBER(ConvSingleOutput), kPlain, 0, "single-output"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return OneByOne(q.a) && q.a.C >= 16; },
      MEMBER(Conv1x1Fma16), kBlock16, kFuses, "1x1 FMA 16"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return OneByOne(q.a) && q.a.C >= 8; },
      MEMBER(Conv1x1Fma8), kBlock8, kFuses, "1x1 FMA 8"),
  Row(P, 0, [](const ConvQuery& q) { return OneByOne(q.a) && q.a.C >= 8; },
      MEMBER(Conv1x1Sse8), kBlock8, kFuses, "1x1 SSE 8"),
  Row(P, 0, [](const ConvQuery& q) { return OneByOne(q.a) && q.a.C >= 4; },
      MEMBER(Conv1x1Sse4), kBlock4, kFuses, "1x1 SSE 4"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C % 16 == 0; },
      MEMBER(ConvDirectFma16), kBlock16, kFuses, "direct FMA 16"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C >= 8; },
      MEMBER(ConvDirectFma8), kBlock8, kFuses, "direct FMA 8"),
  Row(P, 0, [](const ConvQuery& q) { return Dil1(q.a) && q.a.C % 8 == 0; },
      MEMBER(ConvDirectSse8), kBlock8, kFuses, "direct SSE 8"),
  Row(P, 0, [](const ConvQuery& q) { return Dil1(q.a); },
      MEMBER(ConvDirectSse4), kBlock4, kFuses, "direct SSE 4"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return q.a.C % 16 == 0; },
      MEMBER(ConvDirectFma16), kBlock16, kFuses, "dilated FMA 16"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return q.a.C % 8 == 0; },
      MEMBER(ConvDirectFma8), kBlock8, kFuses, "dilated FMA 8"),
  Row(P, 0, [](const ConvQuery& q) { return q.a.C % 8 == 0; },
      MEMBER(ConvDirectSse8), kBlock8, kFuses, "dilated SSE 8"),
  Row(P, 0, [](const ConvQuery& q) { return q.a.C % 4 == 0; },
      MEMBER(ConvDirectSse4), kBlock4, kFuses, "dilated SSE 4"),
  Row(P, 0, [](const ConvQuery&) { return true; },
      MEMBER(ConvReference), kPlain, 0, "reference"),

  // The x86 path (AVX and FMA; fuses Relu only).
  Row(X, kTierFma, [](const ConvQuery& q) { return X1x1(q.a) && Fits32(q.a.C); },
      MEMBER(Conv1x1X86Block32), kBlock32, kFuses | kStrided, "1x1 block 32"),
  Row(X, kTierFma, [](const ConvQuery& q) { return X1x1(q.a) && Fits24(q.a.C); },
      MEMBER(Conv1x1X86Block24), kBlock24, kFuses | kStrided, "1x1 block 24"),
  Row(X, kTierFma, [](const ConvQuery& q) { return X1x1(q.a) && Fits16(q.a.C); },
      MEMBER(Conv1x1Fma16), kBlock16, kFuses | kStrided, "1x1 block 16"),
  Row(X, kTierFma, [](const ConvQuery& q) { return X1x1(q.a) && q.a.C < 8; },
      MEMBER(Conv1x1X86Block4), kBlock4, kFuses | kStrided, "1x1 block 4"),
  Declines(kTierFma, [](const ConvQuery& q) { return X1x1(q.a); }, "declines: 1x1 channels"),
  Row(X, kTierFma, [](const ConvQuery& q) { return q.a.kh == 2 && q.a.kw == 2 && q.a.C <= 4; },
      MEMBER(Conv2x2X86Block4), kBlock4, kFuses | kStrided, "2x2 block 4"),
  Declines(kTierFma, [](const ConvQuery& q) { return !X3x3(q.a); }, "declines: kernel size"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return Fits16(a.C) && a.sw == 2 && a.sh == 2 && a.dw == 1 && a.dh == 1 && a.padR == 1 &&
               (a.Cin == 1 || a.Cin == 3);
      },
      MEMBER(ConvFirstLayerX86), kChannelBlock16, kFuses, "first-layer block 16"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return a.C % 8 == 0 && a.Cin == 3 && a.sw == 2 && a.sh == 2 && a.dw == 1 && a.dh == 1;
      },
      MEMBER(ConvFirstLayerX86Rows), kBlock8, kFuses | kReadsBytes, "first-layer packed rows"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return a.C == 3 && a.Cin == 4 && a.sw == 1 && a.dw == 1 && a.Wo % 32 == 0;
      },
      MEMBER(Conv3OutputX86), kRowChannelFilter, kFuses, "3-output"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        return Fits24(q.a.C) && q.a.sw == 1 && q.a.padL == 1 && q.a.dw == 1;
      },
      MEMBER(Conv3x3X86Block24), kBlock24, kFuses | kStrided, "3x3 block 24"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        return Fits16(q.a.C) && q.a.sw == 1 && q.a.padL == 1 && q.a.dw == 1;
      },
      MEMBER(Conv3x3X86Block16), kBlock16, kFuses | kStrided, "3x3 stride 1 block 16"),
  Row(X, kTierFma, [](const ConvQuery& q) { return Fits16(q.a.C) && q.a.sw == 1; },
      MEMBER(Conv3x3X86Block16), kBlock16, kFuses | kStrided, "general 3x3 block 16"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return Fits16(a.C) && a.sw == 2 && q.inputHasFloat && a.sh == 2 && a.padL == 1 &&
               a.padR == 1 && a.dw == 1;
      },
      MEMBER(Conv3x3X86Block16S2), kBlock16, kFuses | kStrided, "3x3 stride 2 block 16"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return a.C == 1 && a.Cin == 3 && a.sw == 1 && a.padL == 1 && a.dh == 1;
      },
      MEMBER(ConvSingleOutputX86), kChannelBlock1, kFuses, "single-output"),
  Row(X, kTierFma, [](const ConvQuery& q) {
        const ConvArgs& a = q.a;
        return a.C == 1 && a.Cin == 4 && (a.inStride == 0 || a.inStride == 4) && a.sw == 1 &&
               a.dw == 1;
      },
      MEMBER(ConvSingleOutputX86Pairs), kPlain, kFuses | kStrided, "single-output 4-channel pairs"),
  Declines(kTierFma, [](const ConvQuery& q) { return q.a.C < 2; }, "declines: one channel"),
  Row(X, kTierFma, [](const ConvQuery& q) { return q.a.sw == 1 && q.a.padL == 1 && q.a.dw == 1; },
      MEMBER(Conv3x3X86Block4), kBlock4, kFuses | kStrided, "3x3 block 4"),
  Declines(kTierFma, [](const ConvQuery& q) { return q.a.C > 4; }, "declines: 3x3 channels"),
  Row(X, kTierFma, [](const ConvQuery& q) { return q.a.sw == 2 && q.a.padL == 2 && q.a.dw == 2; },
      MEMBER(Conv3x3X86Block4S2D2), kBlock4, kFuses | kStrided, "3x3 block 4 stride 2 dilation 2"),
  Row(X, kTierFma, [](const ConvQuery&) { return true; },
      MEMBER(Conv3x3X86Block4General), kBlock4, kFuses | kStrided, "general 3x3 block 4"),
};

bool S1(const ConvArgs& a) { return a.kh == 3 && a.kw == 3 && a.sw == 1 && a.sh == 1; }
bool XDepthwise(const ConvArgs& a) {
  return a.kh == 3 && a.kw == 3 && (a.C % 16 == 0 || a.C % 24 == 0);
}

const ConvRow kDepthwiseRows[] = {
  // Portable: 3x3 stride 1, then the general members.
  Row(P, kTierAvx2, [](const ConvQuery& q) { return S1(q.a) && q.a.C % 16 == 0; },
      MEMBER(Depthwise3x3S1Fma16), kBlock16, kFuses, "3x3 stride-1 FMA 16"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return S1(q.a) && q.a.C % 8 == 0; },
      MEMBER(Depthwise3x3S1Fma8), kBlock8, kFuses, "3x3 stride-1 FMA 8"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return S1(q.a) && q.a.C % 4 == 0; },
      MEMBER(Depthwise3x3S1Sse4), kBlock4, kFuses, "3x3 stride-1 SSE 4"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return S1(q.a); },
      MEMBER(DepthwiseReference), kWholeBlock, 0, "reference"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return q.a.C % 16 == 0; },
      MEMBER(DepthwiseFma16), kBlock16, kFuses, "general FMA 16"),
  Row(P, kTierAvx2, [](const ConvQuery& q) { return q.a.C % 8 == 0; },
      MEMBER(DepthwiseFma8), kBlock8, kFuses, "general FMA 8"),
  Row(P, 0, [](const ConvQuery& q) { return S1(q.a) && q.a.C % 8 == 0; },
      MEMBER(Depthwise3x3S1Sse8), kBlock8, kFuses, "3x3 stride-1 SSE 8"),
  Row(P, 0, [](const ConvQuery& q) { return S1(q.a) && q.a.C % 4 == 0; },
      MEMBER(Depthwise3x3S1Sse4), kBlock4, kFuses, "3x3 stride-1 SSE 4"),
  Row(P, 0, [](const ConvQuery& q) { return S1(q.a); },
      MEMBER(DepthwiseReference), kWholeBlock, 0, "reference"),
  Row(P, 0, [](const ConvQuery& q) { return q.a.C % 8 == 0; },
      MEMBER(DepthwiseSse8), kBlock8, kFuses, "general SSE 8"),
  Row(P, 0, [](const ConvQuery& q) { return q.a.C % 4 == 0; },
      MEMBER(DepthwiseSse4), kBlock4, kFuses, "general SSE 4"),
  Row(P, 0, [](const ConvQuery&) { return true; },
      MEMBER(DepthwiseReference), kWholeBlock, 0, "reference"),

  // The x86 path: 3x3 with whole blocks of 16 or 24 channels.
  Declines(kTierFma, [](const ConvQuery& q) { return !XDepthwise(q.a); }, "declines: shape"),
  Row(X, kTierFma, [](const ConvQuery& q) { return q.a.C % 16 == 0 && q.a.sw == 1 && q.a.Wo >= 56; },
      MEMBER(DepthwiseX86WideRow), kBlock16, kFuses, "wide-row"),
  // Three blocks of 8 channels: 12 accumulators in flight instead of 8,
  // which hides the multiply-add latency.
  Row(X, kTierFma, [](const ConvQuery& q) { return q.a.C % 24 == 0; },
      MEMBER(DepthwiseX86Block24), kBlock24, kFuses, "block 24"),
  Row(X, kTierFma, [](const ConvQuery&) { return true; },
      MEMBER(DepthwiseX86General), kBlock16, kFuses, "general"),
};
// clang-format on

template <size_t N>
ConvMember Lookup(const ConvRow (&rows)[N], Path path, const ConvQuery& q, uint32_t features) {
  for (const ConvRow& row : rows)
    if (row.path == path && (row.requires & ~features) == 0 && row.when(q)) return row.member;
  return ConvMember{nullptr, 0, false, path == Path::kX86 ? "declines: no AVX+FMA" : "none"};
}

template <size_t N>
std::vector<ConvTableRow> Listing(const ConvRow (&rows)[N]) {
  std::vector<ConvTableRow> out;
  for (const ConvRow& row : rows)
    out.push_back({row.path == Path::kX86, row.requires, row.member});
  return out;
}

}  // namespace

std::vector<ConvTableRow> ConvTable() { return Listing(kConvRows); }
std::vector<ConvTableRow> DepthwiseTable() { return Listing(kDepthwiseRows); }

namespace simd {

ConvMember ChooseConvMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  return Lookup(kConvRows, Path::kPortable, {a, half, true}, half ? 0 : f.Mask());
}

ConvMember ChooseDepthwiseMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  return Lookup(kDepthwiseRows, Path::kPortable, {a, half, true}, half ? 0 : f.Mask());
}

}  // namespace simd

namespace x86 {

ConvMember ChooseConvMember(const ConvArgs& a, bool inputHasFloat, const KernelFeatures& f) {
  return Lookup(kConvRows, Path::kX86, {a, false, inputHasFloat}, f.Mask());
}

ConvMember ChooseDepthwiseMember(const ConvArgs& a, const KernelFeatures& f) {
  return Lookup(kDepthwiseRows, Path::kX86, {a, false, true}, f.Mask());
}

}  // namespace x86
}  // namespace TAVROMATTING
