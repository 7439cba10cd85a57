#include "engine/core/tensor.h"

#include <cstdlib>
#include <cstring>

#include "impl_x86/half_float.h"
#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {

const LayoutFormat kLayoutFormats[kLayoutFormatCount] = {
    // block, interleave, flags (0x1 channel-blocked, 0x100 planar)
    {1, 1, 0x000},  {1, 1, 0x100},  {32, 1, 0x000}, {24, 1, 0x000}, {16, 1, 0x000},
    {8, 1, 0x000},  {4, 1, 0x000},  {2, 1, 0x000},  {1, 1, 0x000},  {16, 2, 0x000},
    {8, 2, 0x000},  {4, 4, 0x000},  {8, 4, 0x000},  {16, 4, 0x000}, {24, 1, 0x001},
    {16, 1, 0x001}, {12, 1, 0x001}, {8, 1, 0x001},  {4, 1, 0x001},  {2, 1, 0x001},
    {1, 1, 0x001},  {8, 2, 0x001},  {8, 4, 0x001},  {16, 4, 0x001}, {4, 1, 0x100},
    {8, 1, 0x100},  {1, 1, 0x000},  {1, 1, 0x000},  {0, 1, 0x000},  // 28: n or c
};

namespace {
constexpr uint64_t kSlack = 136;
const uint64_t kElementSize[kElementKinds] = {4, 2, 1, 1, 4, 2};
}  // namespace

void* AlignedAlloc(uint64_t bytes) {
  void* raw = std::calloc(1, bytes + kSlack);
  if (!raw) return nullptr;
  uintptr_t aligned = ((reinterpret_cast<uintptr_t>(raw) + 8) | 63) + 1;
  reinterpret_cast<void**>(aligned)[-1] = raw;
  return reinterpret_cast<void*>(aligned);
}

void AlignedFree(void* p) {
  if (p) std::free(reinterpret_cast<void**>(p)[-1]);
}

Tensor::Tensor() = default;

Tensor::~Tensor() {
  DropPacked();
  for (int k = 0; k < kElementKinds; ++k) Release(k);
}

uint64_t Tensor::ElementCount() const {
  if (count) return count;
  return static_cast<uint64_t>(static_cast<int64_t>(
      static_cast<int32_t>(n * h * w * c)));
}

void Tensor::SetShape(uint32_t n_, uint32_t h_, uint32_t w_, uint32_t c_, uint32_t format_) {
  n = n_;
  h = h_;
  w = w_;
  c = c_;
  format = format_;
  count = 0;
}

void Tensor::Release(int kind) {
  if (buffers[kind] && !borrowed[kind]) AlignedFree(buffers[kind]);
  buffers[kind] = nullptr;
  borrowed[kind] = 0;
}


void Tensor::Bind(int kind, void* p) {
  if (kind < 0 || kind >= kElementKinds) return;
  if (kind == kFloat32) DropPacked();
  Release(kind);
  buffers[kind] = p;
  borrowed[kind] = 1;
}

void Tensor::BindRecord(uint32_t n_, uint32_t h_, uint32_t w_, uint32_t c_, uint32_t format_,
                        int kind, const void* p) {
  n = n_;
  h = h_;
  w = w_;
  c = c_;
  format = format_;
  count = 0;
  swappedNC = 0;
  if (p) Bind(kind, const_cast<void*>(p));
}

float* Tensor::EnsureFloat() {
  if (!buffers[kFloat32]) {
    uint64_t elems = ElementCount();
    buffers[kFloat32] = AlignedAlloc(elems * 4);
    borrowed[kFloat32] = 0;
  }
  return floatData();
}

Tensor::View Tensor::Current() const {
  View v;
  v.buffer = floatData();
  v.n = n;
  v.c = c;
  v.format = format;
  v.count = count;
  v.swappedNC = swappedNC;
  return v;
}

void Tensor::Select(const View& v) {
  Release(kFloat32);
  buffers[kFloat32] = v.buffer;
  borrowed[kFloat32] = 1;
  n = v.n;
  c = v.c;
  format = v.format;
  count = v.count;
  swappedNC = v.swappedNC;
}

void Tensor::DropPacked() {
  for (Packed& p : packed_) {
    if (buffers[kFloat32] == p.view.buffer) buffers[kFloat32] = nullptr;
    AlignedFree(p.view.buffer);
  }
  packed_.clear();
  if (source_.buffer && sourceOwned_) {
    if (buffers[kFloat32] == source_.buffer) buffers[kFloat32] = nullptr;
    AlignedFree(source_.buffer);
  }
  source_ = View();
  sourceOwned_ = false;
}

float* Tensor::data(uint32_t fmt, bool swapNC, bool zeroPadLast, bool padC4,
                    const float* offsets) {
  float* src = EnsureFloat();
  if (!src) return nullptr;
  if (fmt == format && (swappedNC != 0) == swapNC) return src;
  if (fmt >= kLayoutFormatCount) return nullptr;

  if (source_.buffer) {
    // Packed before: back to the source values, or to a cached layout.
    if (fmt == source_.format && !swapNC) {
      Select(source_);
      return floatData();
    }
    for (const Packed& p : packed_) {
      if (p.view.format == fmt && (p.view.swappedNC != 0) == swapNC &&
          p.zeroPadLast == zeroPadLast && p.padC4 == padC4 && p.offsets == offsets) {
        Select(p.view);
        return floatData();
      }
    }
    Select(source_);
    src = floatData();
  } else if (format != kPlain && format != kPlanarSource) {
    return nullptr;  // bound already packed: no source values to start from
  }

  LayoutFormat lf = kLayoutFormats[fmt];
  bool whole = fmt == kWholeBlock;
  uint32_t block = whole ? (swapNC ? c : n) : lf.block;
  if (block == 0) block = 1;
  uint64_t newCount;
  if (swapNC) {
    newCount = uint64_t((c + block - 1) / block) * block * w * h * n;
  } else {
    uint32_t cp = padC4 ? (c + 3) / 4 * 4 : c;
    newCount = uint64_t((n + block - 1) / block) * block * w * h * cp;
  }
  float* dst = static_cast<float*>(AlignedAlloc(newCount * 4));
  if (!dst) return nullptr;
  try {
    packed_.reserve(packed_.size() + 1);
  } catch (...) {
    AlignedFree(dst);
    return nullptr;
  }
  if (!source_.buffer) {
    // First packing: the float buffer becomes the cache's source.
    source_ = Current();
    sourceOwned_ = !borrowed[kFloat32];
    borrowed[kFloat32] = 1;
  }

  layout::PackArgs pa;
  pa.src = src;
  pa.srcPlanar = format == kPlanarSource;
  pa.n = n;
  pa.h = h;
  pa.w = w;
  pa.c = c;
  pa.block = block;
  pa.interleave = lf.interleave;
  pa.swapNC = swapNC;
  pa.zeroPadLast = zeroPadLast;
  pa.padC4 = padC4 && !swapNC;
  pa.offsets = offsets;
  if (format == kPlanarSource && fmt == kRowChannelFilter) {
    layout::PackRowChannelFilter(pa, dst);
  } else if (whole || (!lf.channelBlocked() && !lf.planar())) {
    layout::PackBlocked(pa, dst);
  } else if (lf.channelBlocked()) {
    layout::PackChannelBlocked(pa, dst);
  } else {
    layout::PackPlanar(pa, dst);
  }

  Packed p;
  p.view.buffer = dst;
  p.view.n = swapNC ? c : n;
  p.view.c = swapNC ? n : c;
  p.view.format = fmt;
  p.view.count = newCount;
  p.view.swappedNC = swapNC ? 1 : 0;
  p.zeroPadLast = zeroPadLast;
  p.padC4 = padC4;
  p.offsets = offsets;
  packed_.push_back(p);
  Select(p.view);
  return dst;
}

void Tensor::CopyTo(Tensor& dst) const {
  dst.n = n;
  dst.h = h;
  dst.w = w;
  dst.c = c;
  dst.format = format;
  dst.swappedNC = swappedNC;
  uint64_t elems = ElementCount();
  dst.count = count;
  Tensor& self = const_cast<Tensor&>(*this);
  dst.DropPacked();
  dst.Release(kFloat32);
  float* s = self.EnsureFloat();
  float* d = dst.EnsureFloat();
  if (s && d) std::memcpy(d, s, elems * 4);
}

void Tensor::HalfToFloat() {
  if (!buffers[kHalf]) return;
  float* f = EnsureFloat();
  if (f) HalfToFloatArray(halfData(), f, ElementCount());
}

void Tensor::FloatToHalf() {
  if (!buffers[kFloat32]) return;
  uint64_t elems = ElementCount();
  if (!buffers[kHalf]) {
    buffers[kHalf] = AlignedAlloc(elems * kElementSize[kHalf]);
    borrowed[kHalf] = 0;
  }
  if (buffers[kHalf]) FloatToHalfArray(floatData(), halfData(), elems);
}

}  // namespace TAVROMATTING
