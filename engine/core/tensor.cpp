#include "engine/core/tensor.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "engine/core/pack_cache.h"
#include "impl_x86/half_float.h"

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
  packs_.reset();
  for (int k = 0; k < kElementKinds; ++k) Release(k);
}

uint64_t Tensor::ElementCount() const {
  if (count) return count;
  // The product is taken in 32-bit signed arithmetic and then widened: the
  // element count of the record format is defined that way.
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
  if (kind == kFloat32) packs_.reset();
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

float* Tensor::data(uint32_t fmt, bool swapNC, bool zeroPadLast, bool padC4,
                    const float* offsets) {
  float* src = EnsureFloat();
  if (!src) return nullptr;
  if (fmt == format && (swappedNC != 0) == swapNC) return src;
  const PackedLayout packed = PackLayout(*this, {fmt, swapNC, zeroPadLast, padC4, offsets});
  if (!packed.data) return nullptr;
  packs_.reset();
  Release(kFloat32);
  buffers[kFloat32] = packed.data;
  n = packed.n;
  c = packed.c;
  count = packed.count;
  format = fmt;
  swappedNC = swapNC ? 1 : 0;
  return packed.data;
}

const float* Tensor::Pack(const PackRequest& req) {
  if (!packs_) packs_.reset(new (std::nothrow) PackCache());
  return packs_ ? packs_->Add(*this, req) : nullptr;
}

const float* Tensor::Packed(const PackRequest& req) const {
  return packs_ ? packs_->Find(req) : nullptr;
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
