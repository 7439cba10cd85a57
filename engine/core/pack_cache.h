// A tensor's floats in the layouts the kernels read, each made once (when
// the layer that reads the weight is prepared) and kept beside the tensor's
// own buffer, which keeps its layout and shape: Tensor::Pack owns one.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/core/tensor.h"

namespace TAVROMATTING {

// A layout request: the arguments of Tensor::data.
struct PackRequest {
  uint32_t code = kPlain;
  bool swapNC = false;
  bool zeroPadLast = false;
  bool padC4 = false;
  const float* offsets = nullptr;
  bool operator==(const PackRequest& o) const {
    return code == o.code && swapNC == o.swapNC && zeroPadLast == o.zeroPadLast &&
           padC4 == o.padC4 && offsets == o.offsets;
  }
};

// A tensor's floats in another layout: an AlignedAlloc buffer the caller
// frees, with the n and c fields (exchanged under the swap) and element
// count that describe it.
struct PackedLayout {
  float* data = nullptr;
  uint32_t n = 0, c = 0;
  uint64_t count = 0;
};

// Packs src's float buffer, which must be in the plain or the planar source
// layout, into the requested one. data is null when src has no floats, is in
// any other layout, the code is unknown or the allocation fails.
PackedLayout PackLayout(const Tensor& src, const PackRequest& req);

class PackCache {
 public:
  PackCache() = default;
  ~PackCache();
  PackCache(const PackCache&) = delete;
  PackCache& operator=(const PackCache&) = delete;

  // The floats of `src` in the requested layout, packed on the first call
  // (src's own buffer when it is already in that layout). Null when packing
  // failed; a later call tries again.
  const float* Add(Tensor& src, const PackRequest& req);
  // What Add made for the request, or null.
  const float* Find(const PackRequest& req) const;
  // The shape of what Add made, or null.
  const PackedLayout* Shape(const PackRequest& req) const;
  size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    PackRequest req;
    PackedLayout packed;
    bool owned = false;
  };
  std::vector<Entry> entries_;
};

}  // namespace TAVROMATTING
