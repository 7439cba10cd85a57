#include "impl_x86/weight_layout.h"

namespace TAVROMATTING {
namespace layout {
namespace {

// Reads the source element of (filter role f over M, channel role k over K,
// row y, column x), applying the swap and its rotation.
struct Source {
  const PackArgs& a;
  uint32_t M, K;
  explicit Source(const PackArgs& args)
      : a(args), M(args.swapNC ? args.c : args.n), K(args.swapNC ? args.n : args.c) {}

  float at(uint32_t m, uint32_t k, uint32_t y, uint32_t x) const {
    uint32_t f = m, ch = k;
    if (a.swapNC) {
      f = k;
      ch = m;
      y = a.h - 1 - y;
      x = a.w - 1 - x;
    }
    uint64_t idx = a.srcPlanar ? ((uint64_t(f) * a.c + ch) * a.h + y) * a.w + x
                               : ((uint64_t(f) * a.h + y) * a.w + x) * a.c + ch;
    float v = a.src[idx];
    if (a.offsets) v -= a.offsets[m];
    return v;
  }
};

uint32_t PaddedK(const PackArgs& a, uint32_t K) { return a.padC4 ? (K + 3) / 4 * 4 : K; }

}  // namespace

void PackBlocked(const PackArgs& a, float* dst) {
  Source s(a);
  const uint32_t b = a.block, M = s.M, K = s.K, Kp = PaddedK(a, K);
  const uint32_t il = a.interleave ? a.interleave : 1;
  const uint32_t blocks = (M + b - 1) / b;
  for (uint32_t blk = 0; blk < blocks; ++blk) {
    uint32_t m0 = BlockStart(blk, b, M, a.zeroPadLast);
    for (uint32_t y = 0; y < a.h; ++y)
      for (uint32_t x = 0; x < a.w; ++x) {
        float* base = dst + ((uint64_t(blk) * a.h + y) * a.w + x) * Kp * b;
        for (uint32_t k = 0; k < Kp; ++k) {
          uint32_t g = k / il * il;              // first k of this group
          uint32_t gs = Kp - g < il ? Kp - g : il;  // size of a partial group
          for (uint32_t m = 0; m < b; ++m) {
            float v = (m0 + m < M && k < K) ? s.at(m0 + m, k, y, x) : 0.f;
            base[uint64_t(g) * b + uint64_t(m) * gs + (k - g)] = v;
          }
        }
      }
  }
}

void PackChannelBlocked(const PackArgs& a, float* dst) {
  Source s(a);
  const uint32_t b = a.block, M = s.M, K = s.K, Kp = PaddedK(a, K);
  const uint32_t blocks = (M + b - 1) / b;
  for (uint32_t blk = 0; blk < blocks; ++blk) {
    uint32_t m0 = BlockStart(blk, b, M, a.zeroPadLast);
    for (uint32_t y = 0; y < a.h; ++y)
      for (uint32_t k = 0; k < Kp; ++k)
        for (uint32_t x = 0; x < a.w; ++x) {
          float* d = dst + (((uint64_t(blk) * a.h + y) * Kp + k) * a.w + x) * b;
          for (uint32_t m = 0; m < b; ++m)
            d[m] = (m0 + m < M && k < K) ? s.at(m0 + m, k, y, x) : 0.f;
        }
  }
}

void PackPlanar(const PackArgs& a, float* dst) {
  Source s(a);
  const uint32_t b = a.block, M = s.M, K = s.K, Kp = PaddedK(a, K);
  const uint32_t blocks = (M + b - 1) / b;
  for (uint32_t blk = 0; blk < blocks; ++blk) {
    uint32_t m0 = BlockStart(blk, b, M, a.zeroPadLast);
    for (uint32_t k = 0; k < Kp; ++k)
      for (uint32_t y = 0; y < a.h; ++y)
        for (uint32_t x = 0; x < a.w; ++x) {
          float* d = dst + (((uint64_t(blk) * Kp + k) * a.h + y) * a.w + x) * b;
          for (uint32_t m = 0; m < b; ++m)
            d[m] = (m0 + m < M && k < K) ? s.at(m0 + m, k, y, x) : 0.f;
        }
  }
}

void PackRowChannelFilter(const PackArgs& a, float* dst) {
  Source s(a);
  const uint32_t M = s.M, K = s.K;
  for (uint32_t y = 0; y < a.h; ++y)
    for (uint32_t k = 0; k < K; ++k)
      for (uint32_t x = 0; x < a.w; ++x)
        for (uint32_t f = 0; f < M; ++f)
          dst[((uint64_t(y) * K + k) * a.w + x) * M + f] = s.at(f, k, y, x);
}

}  // namespace layout
}  // namespace TAVROMATTING
