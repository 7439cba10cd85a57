// Tensor buffers and the weight layout conversions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/core/pack_cache.h"
#include "engine/core/tensor.h"
#include "impl_x86/half_float.h"
#include "tests/engine/test_util.h"

using namespace TAVROMATTING;
using tavro_test::Pack;

namespace {

// Planar source weight whose value encodes (filter, channel, row, column).
std::vector<float> Coded(uint32_t n, uint32_t h, uint32_t w, uint32_t c) {
  std::vector<float> v(size_t(n) * h * w * c);
  for (uint32_t f = 0; f < n; ++f)
    for (uint32_t k = 0; k < c; ++k)
      for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
          v[((size_t(f) * c + k) * h + y) * w + x] = float(f * 1000 + k * 100 + y * 10 + x);
  return v;
}
float Code(uint32_t f, uint32_t k, uint32_t y, uint32_t x) {
  return float(f * 1000 + k * 100 + y * 10 + x);
}

}  // namespace

TEST(Tensor, FreshBufferIsAlignedZeroedAndStable) {
  Tensor t;
  t.SetShape(1, 224, 320, 3, kPlain);
  float* p = t.data();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u);
  EXPECT_EQ(t.ElementCount(), 215040u);
  for (uint64_t i = 0; i < t.ElementCount(); ++i) ASSERT_EQ(p[i], 0.f);
  p[7] = 3.f;
  EXPECT_EQ(t.data(), p);  // same layout: no copy
  EXPECT_EQ(t.data()[7], 3.f);
}

TEST(Tensor, BorrowedBufferIsLeftUntouchedByConversion) {
  std::vector<float> planar = Coded(24, 3, 3, 3);
  const std::vector<float> before = planar;
  float* converted;
  {
    Tensor t;
    t.BindRecord(24, 3, 3, 3, kPlanarSource, kFloat32, planar.data());
    EXPECT_EQ(t.data(kPlanarSource), planar.data());
    converted = t.data(kBlock8);
    EXPECT_NE(converted, planar.data());
  }  // destroying the tensor frees its copy, never the borrowed block
  EXPECT_EQ(planar, before);
}

TEST(PackCache, AnyLayoutInAnyOrderIsPackedOnceAndTheTensorStaysAsItWas) {
  // A layer whose members want different layouts of one weight gets each,
  // made once, with the shape that goes with it; the weight tensor keeps its
  // buffer, shape and format throughout.
  std::vector<float> planar = Coded(24, 3, 3, 3);
  Tensor ref8, ref4;
  ref8.BindRecord(24, 3, 3, 3, kPlanarSource, kFloat32, planar.data());
  ref4.BindRecord(24, 3, 3, 3, kPlanarSource, kFloat32, planar.data());
  const float* want8 = ref8.data(kBlock8);
  const float* want4 = ref4.data(kBlock4, /*swapNC=*/true);
  const uint64_t count8 = ref8.ElementCount(), count4 = ref4.ElementCount();

  Tensor t;
  t.BindRecord(24, 3, 3, 3, kPlanarSource, kFloat32, planar.data());
  PackCache cache;
  EXPECT_EQ(cache.Add(t, {kPlanarSource}), planar.data());  // already in that layout
  const float* b4 = cache.Add(t, {kBlock4, true});
  const float* b8 = cache.Add(t, {kBlock8});
  ASSERT_NE(b8, nullptr);
  ASSERT_NE(b4, nullptr);
  EXPECT_EQ(cache.Add(t, {kBlock8}), b8);
  EXPECT_EQ(cache.Find({kBlock4, true}), b4);
  EXPECT_EQ(cache.Find({kBlock4}), nullptr);
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.Shape({kBlock4, true})->n, 3u);
  EXPECT_EQ(cache.Shape({kBlock4, true})->c, 24u);
  ASSERT_EQ(cache.Shape({kBlock4, true})->count, count4);
  ASSERT_EQ(cache.Shape({kBlock8})->count, count8);
  EXPECT_EQ(std::vector<float>(b4, b4 + count4), std::vector<float>(want4, want4 + count4));
  EXPECT_EQ(std::vector<float>(b8, b8 + count8), std::vector<float>(want8, want8 + count8));
  EXPECT_EQ(t.floatData(), planar.data());
  EXPECT_EQ(t.n, 24u);
  EXPECT_EQ(t.c, 3u);
  EXPECT_EQ(t.format, uint32_t(kPlanarSource));
  EXPECT_EQ(t.ElementCount(), planar.size());
  EXPECT_EQ(planar, Coded(24, 3, 3, 3));
  // A tensor already packed (no source values) and an unknown code give null.
  EXPECT_EQ(cache.Add(ref8, {kBlock4}), nullptr);
  EXPECT_EQ(cache.Add(t, {kLayoutCodeCount}), nullptr);
}

TEST(WeightLayout, LastBlockMovesBackOrZeroFills) {
  // 24 filters in blocks of 16: block 1 holds filters 8..23, no zeros.
  {
    auto p = Pack(Coded(24, 1, 1, 2), 24, 1, 1, 2, kBlock16);
    ASSERT_EQ(p.size(), 32u * 2);
    for (uint32_t k = 0; k < 2; ++k)
      for (uint32_t m = 0; m < 16; ++m) {
        EXPECT_EQ(p[k * 16 + m], Code(m, k, 0, 0));
        EXPECT_EQ(p[32 + k * 16 + m], Code(8 + m, k, 0, 0));
      }
  }
  // 3 filters in a block of 8: filters 3..7 are zero at every position.
  {
    auto p = Pack(Coded(3, 2, 2, 2), 3, 2, 2, 2, kBlock8);
    ASSERT_EQ(p.size(), 8u * 2 * 2 * 2);
    for (size_t pos = 0; pos < 8; ++pos)
      for (uint32_t m = 0; m < 8; ++m) {
        const uint32_t y = pos / 4, x = pos / 2 % 2, k = pos % 2;
        EXPECT_EQ(p[pos * 8 + m], m < 3 ? Code(m, k, y, x) : 0.f);
      }
  }
  // padC4 sizes 3 input channels as 4 (zero filled).
  {
    Tensor t;
    t.SetShape(8, 3, 3, 3, kPlanarSource);
    std::vector<float> v = Coded(8, 3, 3, 3);
    std::copy(v.begin(), v.end(), t.EnsureFloat());
    const float* p = t.data(kBlock8, false, false, true);
    EXPECT_EQ(t.ElementCount(), 8u * 3 * 3 * 4);
    for (uint32_t m = 0; m < 8; ++m) EXPECT_EQ(p[3 * 8 + m], 0.f);  // y0 x0 k3
  }
}

TEST(WeightLayout, ElementOrders) {
  const uint32_t n = 5, h = 2, w = 3, c = 2;
  auto src = Coded(n, h, w, c);
  // Code 0: plain filter, row, column, channel.
  auto plain = Pack(src, n, h, w, c, kPlain);
  for (uint32_t f = 0; f < n; ++f)
    for (uint32_t y = 0; y < h; ++y)
      for (uint32_t x = 0; x < w; ++x)
        for (uint32_t k = 0; k < c; ++k)
          EXPECT_EQ(plain[((f * h + y) * w + x) * c + k], Code(f, k, y, x));
  // Code 18 (channel-blocked, block 4): block, y, k, x, m.
  auto cb = Pack(src, n, h, w, c, 18);
  ASSERT_EQ(cb.size(), 8u * h * w * c);
  EXPECT_EQ(cb[(((1 * h + 1) * c + 1) * w + 2) * 4 + 3], Code(1 + 3, 1, 1, 2));  // block 1 starts at 1
  // Code 24 (planar blocked): block, k, y, x, m.
  auto pl = Pack(src, n, h, w, c, kPlanarBlock4);
  EXPECT_EQ(pl[(((0 * c + 1) * h + 1) * w + 2) * 4 + 2], Code(2, 1, 1, 2));
  // Code 27: y, k, x, f.
  auto rcf = Pack(src, n, h, w, c, kRowChannelFilter);
  EXPECT_EQ(rcf[((1 * c + 1) * w + 2) * n + 4], Code(4, 1, 1, 2));
  // Code 28: y, x, k, f (one block of all filters).
  auto wb = Pack(src, n, h, w, c, kWholeBlock);
  ASSERT_EQ(wb.size(), size_t(n) * h * w * c);
  EXPECT_EQ(wb[((1 * w + 2) * c + 1) * n + 3], Code(3, 1, 1, 2));
  // Interleave 2 (kBlock8Interleave2, block 8): block, y, x, k-group, m, k-in-group.
  auto il = Pack(src, n, h, w, c, 10);
  EXPECT_EQ(il[((0 * h + 1) * w + 2) * c * 8 + 3 * 2 + 1], Code(3, 1, 1, 2));
}

TEST(WeightLayout, SwapRotatesTransposedWeights) {
  // Transposed-convolution weight: 8 input channels (n), 2x2, 4 outputs (c).
  const uint32_t n = 8, h = 2, w = 2, c = 4;
  auto src = Coded(n, h, w, c);
  Tensor t;
  t.SetShape(n, h, w, c, kPlanarSource);
  std::copy(src.begin(), src.end(), t.EnsureFloat());
  const float* p = t.data(kPlanarBlock4, true);
  EXPECT_EQ(t.n, 4u);  // n and c exchanged
  EXPECT_EQ(t.c, 8u);
  EXPECT_EQ(t.swappedNC, 1);
  // block 0, input channel k, position (0,0) holds the source at (1,1).
  for (uint32_t k = 0; k < n; ++k)
    for (uint32_t m = 0; m < 4; ++m) {
      EXPECT_EQ(p[((k * h + 0) * w + 0) * 4 + m], Code(k, m, 1, 1));
      EXPECT_EQ(p[((k * h + 1) * w + 0) * 4 + m], Code(k, m, 0, 1));
    }
}

TEST(HalfFloat, ScalarAndVectorConversionsAgree) {
  const float values[] = {0.f, -0.f, 1.f, -2.5f, 65504.f, 1e-5f, 6.1e-5f, 3.14159f, 1e6f, -7e-8f};
  for (float v : values) {
    const uint16_t h = FloatToHalfScalar(v);
    uint16_t hv;
    FloatToHalfArray(&v, &hv, 1);
    EXPECT_EQ(h, hv) << v;
    float back, backVec;
    back = HalfToFloatScalar(h);
    HalfToFloatArray(&h, &backVec, 1);
    EXPECT_EQ(back, backVec) << v;
    if (std::fabs(v) <= 65504.f && std::fabs(v) >= 6.2e-5f)
      EXPECT_NEAR(back, v, std::fabs(v) * 1e-3f);
  }
  EXPECT_EQ(FloatToHalfScalar(1e6f), 0x7c00);  // overflow to infinity
  // A batch longer than one vector step also agrees element by element.
  auto src = tavro_test::Random(37, 5, -100.f, 100.f);
  std::vector<uint16_t> hs(37);
  std::vector<float> back(37);
  FloatToHalfArray(src.data(), hs.data(), 37);
  HalfToFloatArray(hs.data(), back.data(), 37);
  for (size_t i = 0; i < 37; ++i) {
    EXPECT_EQ(hs[i], FloatToHalfScalar(src[i]));
    EXPECT_EQ(back[i], HalfToFloatScalar(hs[i]));
  }
}
