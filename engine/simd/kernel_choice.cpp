// Dispatch tables of the forward passes other than convolution and
// depthwise (conv_table.cpp). Each table is read top to bottom and the first
// matching row wins; the AVX2+FMA (or AVX) members apply when the
// half-precision flag is clear and the features are present. The pooling
// and activation rows carry their requires masks like the convolution rows.
#include "engine/simd/kernel_choice.h"

#include "engine/core/tensor.h"
#include "cpu/cpu_info.h"
#include "impl_x86/conv_kernels.h"
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {

KernelFeatures KernelFeatures::Current() {
  const CpuInfo& cpu = CpuInfo::Get();
  KernelFeatures f;
  f.avx = cpu.HasAvx();
  f.avx2 = cpu.HasAvx2();
  f.fma = cpu.HasFma();
  return f;
}

namespace simd {
namespace {

// Sets the features a member's code needs.
ConvMember Needs(uint32_t features, ConvMember m) {
  m.requires = features;
  return m;
}
constexpr uint32_t kTierAvx2 = kFeatureAvx | kFeatureAvx2 | kFeatureFma;

}  // namespace

ConvMember ChooseGroupedMember(int perGroup, bool half, const KernelFeatures& f) {
  if (!half && f.Avx2Fma()) {
    if (perGroup % 16 == 0)
      return Needs(kTierAvx2, {ConvDirectFma16, kBlock16, true, "grouped FMA 16"});
    if (perGroup % 8 == 0)
      return Needs(kTierAvx2, {ConvDirectFma8, kBlock8, true, "grouped FMA 8"});
  } else if (perGroup % 8 == 0) {
    return {ConvDirectSse8, kBlock8, true, "grouped SSE 8"};
  }
  if (perGroup % 4 == 0) return {ConvDirectSse4, kBlock4, true, "grouped SSE 4"};
  return {};
}

ConvMember ChooseDeconvMember(const ConvArgs& a, bool half, const KernelFeatures& f) {
  const bool avx2 = !half && f.Avx2Fma();
  const int C = a.C, Cin = a.Cin;
  if (a.kh == 5 && a.kw == 5 && a.sw == 2 && a.sh == 2 && a.padL == 1 && a.padR == 2) {
    if (a.W % 2 == 1) return {Deconv5x5S2SseByInput, kPlain, false, "5x5 stride-2 general"};
    if (avx2 && C % 8 == 0)
      return Needs(kTierAvx2, {Deconv5x5S2Fma8, kPlanarBlock8, true, "5x5 stride-2 FMA 8"});
    if (C % 4 == 0) return {Deconv5x5S2Sse4, kPlanarBlock4, true, "5x5 stride-2 SSE 4"};
    if (avx2 && Cin % 8 == 0)
      return Needs(kTierAvx2, {Deconv5x5S2FmaByInput, kPlain, false, "5x5 stride-2 FMA by input"});
    if (Cin % 4 == 0) return {Deconv5x5S2SseByInput, kPlain, false, "5x5 stride-2 SSE by input"};
  }
  if (a.sw != 2 || a.sh != 2 || a.Wo % 4 != 0) return {DeconvReference, kPlain, false, "reference"};
  if (C == 2) {
    if (avx2 && Cin % 8 == 0)
      return Needs(kTierAvx2, {DeconvTwoOutputFma, kPlain, false, "two-output FMA"});
    if (Cin % 4 == 0) return {DeconvTwoOutputSse, kPlain, false, "two-output SSE"};
  }
  if (avx2 && C == 4 && a.kh == 2 && a.kw == 2 && a.padT == 0 && a.padL == 0)
    return Needs(kTierAvx2, {DeconvStride2PairsFma, kBlock4, true, "stride-2 FMA pairs", true});
  if (avx2 && C % 8 == 0)
    return Needs(kTierAvx2, {DeconvStride2Fma8, kBlock8, true, "stride-2 FMA 8", true});
  return {DeconvStride2Sse4, kBlock4, true, "stride-2 SSE 4", true};
}

namespace {

// The pooling table: global average, then 3x3 stride-2 max, then the
// windowed members; the first row whose features are present and whose
// condition holds wins (an SSE row after an AVX one runs when the features
// lack AVX, or under the half-precision flag).
struct PoolQuery {
  bool global;
  PoolOp op;
  const ConvArgs& a;
};
struct PoolRow {
  bool (*when)(const PoolQuery&);
  PoolMember member;
};

bool Global(const PoolQuery& q) { return q.global; }
bool Fixed(const PoolQuery& q) {
  const ConvArgs& a = q.a;
  return !q.global && q.op == PoolOp::kMax && a.kh == 3 && a.kw == 3 && a.sw == 2 && a.padL == 1;
}
constexpr PoolMember Windowed(void (*k)(const ConvArgs&, PoolOp), const char* symbol,
                              const char* name, uint32_t requires) {
  return {k, nullptr, nullptr, name, requires, symbol};
}
constexpr PoolMember FixedMax(void (*k)(const ConvArgs&), const char* symbol, const char* name,
                              uint32_t requires) {
  return {nullptr, k, nullptr, name, requires, symbol};
}
constexpr PoolMember GlobalAverage(void (*k)(const float*, int, int, float*), const char* symbol,
                                   const char* name, uint32_t requires) {
  return {nullptr, nullptr, k, name, requires, symbol};
}
#define POOL(fn) fn, #fn

// clang-format off
const PoolRow kPoolRows[] = {
  {[](const PoolQuery& q) { return Global(q) && q.a.C % 16 == 0; },
   GlobalAverage(POOL(GlobalAverageAvx16), "global AVX 16", kFeatureAvx)},
  {[](const PoolQuery& q) { return Global(q) && q.a.C >= 8; },
   GlobalAverage(POOL(GlobalAverageAvx8), "global AVX 8", kFeatureAvx)},
  {[](const PoolQuery& q) { return Global(q) && q.a.C % 8 == 0; },
   GlobalAverage(POOL(GlobalAverageSse8), "global SSE 8", 0)},
  {[](const PoolQuery& q) { return Global(q) && q.a.C >= 4; },
   GlobalAverage(POOL(GlobalAverageSse4), "global SSE 4", 0)},
  {Global, GlobalAverage(POOL(GlobalAverageReference), "global reference", 0)},
  {[](const PoolQuery& q) { return Fixed(q) && q.a.C % 16 == 0; },
   FixedMax(POOL(MaxPool3x3S2Avx16), "max 3x3 s2 AVX 16", kFeatureAvx)},
  {[](const PoolQuery& q) { return Fixed(q) && q.a.C % 8 == 0; },
   FixedMax(POOL(MaxPool3x3S2Avx8), "max 3x3 s2 AVX 8", kFeatureAvx)},
  {[](const PoolQuery& q) { return Fixed(q) && q.a.C % 8 == 0; },
   FixedMax(POOL(MaxPool3x3S2Sse8), "max 3x3 s2 SSE 8", 0)},
  {[](const PoolQuery& q) { return Fixed(q) && q.a.C % 4 == 0; },
   FixedMax(POOL(MaxPool3x3S2Sse4), "max 3x3 s2 SSE 4", 0)},
  {[](const PoolQuery& q) { return q.a.C % 16 == 0; },
   Windowed(POOL(PoolAvx16), "pool AVX 16", kFeatureAvx)},
  {[](const PoolQuery& q) { return q.a.C % 8 == 0; },
   Windowed(POOL(PoolAvx8), "pool AVX 8", kFeatureAvx)},
  {[](const PoolQuery& q) { return q.a.C % 8 == 0; }, Windowed(POOL(PoolSse8), "pool SSE 8", 0)},
  {[](const PoolQuery& q) { return q.a.C % 4 == 0; }, Windowed(POOL(PoolSse4), "pool SSE 4", 0)},
  {[](const PoolQuery&) { return true; }, Windowed(POOL(PoolReference), "pool reference", 0)},
};

// The activation table: the x86 path's rows for kinds 5 and 7 (the flag
// ignored), then the portable ones.
struct ActivationRow {
  bool x86;
  ActivationMember member;
};
const ActivationRow kActivationRows[] = {
  {true, {ActivationAvx2Fma, "AVX2+FMA", kTierAvx2, "ActivationAvx2Fma"}},
  {true, {ActivationAvx, "AVX", kFeatureAvx, "ActivationAvx"}},
  {true, {ActivationSse, "SSE", 0, "ActivationSse"}},
  {false, {ActivationAvx2Fma, "AVX2+FMA", kTierAvx2, "ActivationAvx2Fma"}},
  {false, {ActivationSse, "SSE", 0, "ActivationSse"}},
};
// clang-format on

}  // namespace

PoolMember ChoosePoolMember(bool global, PoolOp op, const ConvArgs& a, bool half,
                            const KernelFeatures& f) {
  const uint32_t features = half ? 0 : f.Mask();
  const PoolQuery q{global, op, a};
  for (const PoolRow& row : kPoolRows)
    if ((row.member.requires & ~features) == 0 && row.when(q)) return row.member;
  return {};
}

std::vector<PoolMember> PoolTable() {
  std::vector<PoolMember> out;
  for (const PoolRow& row : kPoolRows) out.push_back(row.member);
  return out;
}

ActivationMember ChooseActivationMember(bool x86, uint32_t kind, bool half,
                                        const KernelFeatures& f) {
  const bool x86Rows = x86 && (kind == kActSigmoid || kind == kActSwish);
  const uint32_t features = half && !x86Rows ? 0 : f.Mask();
  for (const ActivationRow& row : kActivationRows)
    if (row.x86 == x86Rows && (row.member.requires & ~features) == 0) return row.member;
  return {};
}

std::vector<ActivationMember> ActivationTable() {
  std::vector<ActivationMember> out;
  for (const ActivationRow& row : kActivationRows) out.push_back(row.member);
  return out;
}

namespace {

#define ELEMENTWISE(fn) fn, #fn
template <class K>
constexpr ElementwiseMember<K> Row(K kernel, const char* symbol, uint32_t requires,
                                   int channelMultiple) {
  return {kernel, requires, channelMultiple, symbol};
}

// clang-format off
const ElementwiseMember<BatchnormKernel> kBatchnormRows[] = {
  Row<BatchnormKernel>(ELEMENTWISE(BatchnormAvx2), kTierAvx2, 8),
  Row<BatchnormKernel>(ELEMENTWISE(BatchnormSse), 0, 0),
};
const ElementwiseMember<ResizeKernel> kResizeRows[] = {
  Row<ResizeKernel>(ELEMENTWISE(ResizeBilinearAvx2), kTierAvx2, 8),
  Row<ResizeKernel>(ELEMENTWISE(ResizeBilinearSse), 0, 0),
};
const ElementwiseMember<ConcatKernel> kConcatRows[] = {
  Row<ConcatKernel>(ELEMENTWISE(ConcatAvx), kFeatureAvx, 0),
  Row<ConcatKernel>(TAVROMATTING::Concat, "Concat", 0, 0),
};
const ElementwiseMember<MmaKernel> kMmaRows[] = {
  Row<MmaKernel>(ELEMENTWISE(MmaAvx), kFeatureAvx, 8),
  Row<MmaKernel>(ELEMENTWISE(MmaSse), 0, 4),
  Row<MmaKernel>(ELEMENTWISE(MmaReference), 0, 0),
};
// clang-format on

template <class K, size_t N>
ElementwiseMember<K> FirstFitting(const ElementwiseMember<K> (&rows)[N], int C, bool half,
                                  const KernelFeatures& f) {
  const uint32_t features = half ? 0 : f.Mask();
  for (const ElementwiseMember<K>& row : rows)
    if ((row.requires & ~features) == 0 &&
        (row.channelMultiple == 0 || C % row.channelMultiple == 0))
      return row;
  return rows[N - 1];
}

template <class K, size_t N>
void List(const ElementwiseMember<K> (&rows)[N], std::vector<ElementwiseRow>& out) {
  for (const ElementwiseMember<K>& row : rows) out.push_back({row.symbol, row.requires});
}

}  // namespace

ElementwiseMember<BatchnormKernel> ChooseBatchnormMember(int C, bool half,
                                                         const KernelFeatures& f) {
  return FirstFitting(kBatchnormRows, C, half, f);
}
ElementwiseMember<ResizeKernel> ChooseResizeMember(int C, bool half, const KernelFeatures& f) {
  return FirstFitting(kResizeRows, C, half, f);
}
ElementwiseMember<ConcatKernel> ChooseConcatMember(bool half, const KernelFeatures& f) {
  return FirstFitting(kConcatRows, 0, half, f);
}
ElementwiseMember<MmaKernel> ChooseMmaMember(int C, bool half, const KernelFeatures& f) {
  return FirstFitting(kMmaRows, C, half, f);
}

std::vector<ElementwiseRow> ElementwiseTable() {
  std::vector<ElementwiseRow> out;
  List(kBatchnormRows, out);
  List(kResizeRows, out);
  List(kConcatRows, out);
  List(kMmaRows, out);
  return out;
}

}  // namespace simd
}  // namespace TAVROMATTING
