// Weight layout conversions from the planar source layout (filters, channels,
// rows, columns) or the plain layout (filters, rows, columns, channels) into
// the blocked layouts the kernels read.
//
// M is the blocked dimension (n, or c under the n-c swap), K the other one.
// Blocks of b along M are visited in order; a last block that would run past
// M starts at M - b instead (overlapping the one before); when M < b the one
// block is padded with zero filters. Under the swap the kernel is rotated by
// 180 degrees (transposed convolution weights become correlation weights).
#pragma once

#include <cstdint>

namespace TAVROMATTING {
namespace layout {

struct PackArgs {
  const float* src = nullptr;
  bool srcPlanar = true;  // kPlanarSource source, else kPlain
  uint32_t n = 0, h = 0, w = 0, c = 0;
  uint32_t block = 1;
  uint32_t interleave = 1;
  bool swapNC = false;
  bool zeroPadLast = false;  // last block at its nominal start, zero padded
  bool padC4 = false;        // K rounded up to a multiple of 4 with zeros
  const float* offsets = nullptr;  // per-filter value subtracted, optional
};

// Start of block `blk` along a dimension of size m under the last-block rule.
inline uint32_t BlockStart(uint32_t blk, uint32_t b, uint32_t m, bool zeroPadLast = false) {
  uint32_t s = blk * b;
  if (!zeroPadLast && m >= b && s + b > m) s = m - b;
  if (m < b) s = 0;
  return s;
}

// block, y, x, k, m (interleave 1) or block, y, x, k-group, m, k-in-group.
void PackBlocked(const PackArgs& a, float* dst);
// block, y, k, x, m (the kChannelBlock layouts).
void PackChannelBlocked(const PackArgs& a, float* dst);
// block, k, y, x, m (kPlanarSource, kPlanarBlock4, kPlanarBlock8).
void PackPlanar(const PackArgs& a, float* dst);
// y, k, x, f: all filters innermost (kRowChannelFilter).
void PackRowChannelFilter(const PackArgs& a, float* dst);

}  // namespace layout
}  // namespace TAVROMATTING
