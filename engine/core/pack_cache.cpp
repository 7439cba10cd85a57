#include "engine/core/pack_cache.h"

#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {

namespace {

// Elements of the packed buffer: whole blocks along the blocked dimension.
uint64_t PackedCount(const Tensor& t, const PackRequest& req, uint32_t block) {
  if (req.swapNC) return uint64_t((t.c + block - 1) / block) * block * t.w * t.h * t.n;
  const uint32_t cp = req.padC4 ? (t.c + 3) / 4 * 4 : t.c;
  return uint64_t((t.n + block - 1) / block) * block * t.w * t.h * cp;
}

void Convert(const Tensor& t, const PackRequest& req, uint32_t block, float* dst) {
  const LayoutFormat lf = kLayoutFormats[req.code];
  layout::PackArgs pa;
  pa.src = t.floatData();
  pa.srcPlanar = t.format == kPlanarSource;
  pa.n = t.n;
  pa.h = t.h;
  pa.w = t.w;
  pa.c = t.c;
  pa.block = block;
  pa.interleave = lf.interleave;
  pa.swapNC = req.swapNC;
  pa.zeroPadLast = req.zeroPadLast;
  pa.padC4 = req.padC4 && !req.swapNC;
  pa.offsets = req.offsets;
  if (t.format == kPlanarSource && req.code == kRowChannelFilter) {
    layout::PackRowChannelFilter(pa, dst);
  } else if (req.code == kWholeBlock || (!lf.channelBlocked() && !lf.planar())) {
    layout::PackBlocked(pa, dst);
  } else if (lf.channelBlocked()) {
    layout::PackChannelBlocked(pa, dst);
  } else {
    layout::PackPlanar(pa, dst);
  }
}

}  // namespace

PackedLayout PackLayout(const Tensor& src, const PackRequest& req) {
  PackedLayout out;
  if (!src.floatData() || req.code >= uint32_t(kLayoutFormatCount)) return out;
  if (src.format != kPlain && src.format != kPlanarSource) return out;
  uint32_t block = kLayoutFormats[req.code].block;
  if (req.code == kWholeBlock) block = req.swapNC ? src.c : src.n;
  if (block == 0) block = 1;
  const uint64_t count = PackedCount(src, req, block);
  out.data = static_cast<float*>(AlignedAlloc(count * 4));
  if (!out.data) return out;
  Convert(src, req, block, out.data);
  out.n = req.swapNC ? src.c : src.n;
  out.c = req.swapNC ? src.n : src.c;
  out.count = count;
  return out;
}

PackCache::~PackCache() {
  for (Entry& e : entries_)
    if (e.owned) AlignedFree(e.packed.data);
}

const float* PackCache::Add(Tensor& src, const PackRequest& req) {
  if (const float* p = Find(req)) return p;
  Entry e;
  e.req = req;
  float* own = src.EnsureFloat();
  if (!own) return nullptr;
  if (req.code == src.format && req.swapNC == (src.swappedNC != 0)) {
    e.packed = {own, src.n, src.c, src.ElementCount()};
  } else {
    e.packed = PackLayout(src, req);
    if (!e.packed.data) return nullptr;
    e.owned = true;
  }
  try {
    entries_.push_back(e);
  } catch (...) {
    if (e.owned) AlignedFree(e.packed.data);
    return nullptr;
  }
  return e.packed.data;
}

const PackedLayout* PackCache::Shape(const PackRequest& req) const {
  for (const Entry& e : entries_)
    if (e.req == req) return &e.packed;
  return nullptr;
}

const float* PackCache::Find(const PackRequest& req) const {
  const PackedLayout* p = Shape(req);
  return p ? p->data : nullptr;
}

}  // namespace TAVROMATTING
