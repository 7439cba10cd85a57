// The I420 background blend: formula, vector/scalar agreement, chroma alpha
// sampling and degenerate frames.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "blend/blend_i420.h"

using namespace tavro;

namespace {
uint8_t Formula(int s0, int s1, int a) { return uint8_t((s0 * a + s1 * (255 - a) + 255) >> 8); }
}  // namespace

TEST(BlendRow, EveryValueCombinationMatchesFormula) {
  // All 256 alphas against a sweep of source pairs; 256 pixels per call so
  // both the 16-pixel steps and (with n = 256 - 5) the scalar tail run.
  std::vector<uint8_t> s0(256), s1(256), a(256), dst(256), half(256 * 2);
  for (int v0 = 0; v0 < 256; v0 += 15)
    for (int v1 = 0; v1 < 256; v1 += 17) {
      for (int i = 0; i < 256; ++i) {
        s0[i] = uint8_t(v0 ^ (i & 7));
        s1[i] = uint8_t(v1 ^ (i & 3));
        a[i] = uint8_t(i);
      }
      for (int n : {256, 251}) {
        blendPlaneRow(s0.data(), s1.data(), a.data(), dst.data(), n);
        for (int i = 0; i < n; ++i)
          ASSERT_EQ(dst[i], Formula(s0[i], s1[i], a[i])) << i;
      }
      for (int i = 0; i < 256; ++i) {
        half[2 * i] = uint8_t(255 - i);  // even column must be ignored
        half[2 * i + 1] = uint8_t(i);
      }
      for (int n : {256, 243}) {
        blendPlaneRowHalfAlpha(s0.data(), s1.data(), half.data(), dst.data(), n);
        for (int i = 0; i < n; ++i)
          ASSERT_EQ(dst[i], Formula(s0[i], s1[i], i)) << i;
      }
    }
  uint8_t x0 = 200, x1 = 10, full = 255, none = 0, mid = 128, out;
  blendPlaneRow(&x0, &x1, &full, &out, 1);
  EXPECT_EQ(out, 200);
  blendPlaneRow(&x0, &x1, &none, &out, 1);
  EXPECT_EQ(out, 10);
  blendPlaneRow(&x0, &x1, &mid, &out, 1);
  EXPECT_EQ(out, (128 * 200 + 127 * 10 + 255) >> 8);
}

TEST(BlendI420, FiveByFiveTakesChromaAlphaFromOddColumnsOfEvenRows) {
  const int w = 5, h = 5;
  std::vector<uint8_t> y0(25, 200), y1(25, 0), alpha(25), u0(4, 100), u1(4, 0),
      v0(4, 50), v1(4, 250);
  std::mt19937 rng(3);
  for (auto& a : alpha) a = uint8_t(rng());
  std::vector<uint8_t> yd = y0, ud = u0, vd = v0;
  // A spare chroma byte after each plane shows the odd last column/row are
  // left alone.
  ud.push_back(77);
  vd.push_back(77);
  ASSERT_EQ(blendI420(y0.data(), w, u0.data(), 2, v0.data(), 2, y1.data(), w, u1.data(), 2,
                      v1.data(), 2, alpha.data(), w, yd.data(), w, ud.data(), 2, vd.data(), 2,
                      w, h),
            0);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(yd[i], Formula(200, 0, alpha[i]));
  for (int cy = 0; cy < 2; ++cy)
    for (int cx = 0; cx < 2; ++cx) {
      const int a = alpha[(2 * cy) * w + 2 * cx + 1];
      EXPECT_EQ(ud[cy * 2 + cx], Formula(100, 0, a));
      EXPECT_EQ(vd[cy * 2 + cx], Formula(50, 250, a));
    }
  EXPECT_EQ(ud[4], 77);
  EXPECT_EQ(vd[4], 77);
}

TEST(BlendI420, PaddedStridesBlendRowByRow) {
  const int w = 37, h = 6, sy = 48, sa = 40, sc = 24;
  std::vector<uint8_t> y0(sy * h, 90), y1(sy * h, 30), a(sa * h, 0), yd(sy * h, 1);
  std::vector<uint8_t> c0(sc * 3, 10), c1(sc * 3, 20), cd(sc * 3, 1), cd2(sc * 3, 1);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < sa; ++x) a[r * sa + x] = uint8_t(r * 40 + x);
  ASSERT_EQ(blendI420(y0.data(), sy, c0.data(), sc, c0.data(), sc, y1.data(), sy, c1.data(), sc,
                      c1.data(), sc, a.data(), sa, yd.data(), sy, cd.data(), sc, cd2.data(), sc,
                      w, h),
            0);
  for (int r = 0; r < h; ++r)
    for (int x = 0; x < sy; ++x)
      EXPECT_EQ(yd[r * sy + x], x < w ? Formula(90, 30, a[r * sa + x]) : 1) << r << "," << x;
  for (int r = 0; r < 3; ++r)
    for (int x = 0; x < sc; ++x)
      EXPECT_EQ(cd[r * sc + x], x < w / 2 ? Formula(10, 20, a[2 * r * sa + 2 * x + 1]) : 1);
}

TEST(BlendI420, DegenerateFrames) {
  std::vector<uint8_t> y0(8, 255), y1(8, 0), a(8, 128), yd(8, 9), c(4, 5), cd(4, 5);
  // One pixel wide: luma only, chroma untouched.
  ASSERT_EQ(blendI420(y0.data(), 1, c.data(), 0, c.data(), 0, y1.data(), 1, c.data(), 0,
                      c.data(), 0, a.data(), 1, yd.data(), 1, cd.data(), 0, cd.data(), 0, 1, 8),
            0);
  for (uint8_t v : yd) EXPECT_EQ(v, Formula(255, 0, 128));
  for (uint8_t v : cd) EXPECT_EQ(v, 5);
  EXPECT_EQ(blendI420(nullptr, 1, c.data(), 0, c.data(), 0, y1.data(), 1, c.data(), 0, c.data(),
                      0, a.data(), 1, yd.data(), 1, cd.data(), 0, cd.data(), 0, 1, 8),
            -1);
  EXPECT_EQ(blendI420(y0.data(), 1, c.data(), 0, c.data(), 0, y1.data(), 1, c.data(), 0,
                      c.data(), 0, a.data(), 1, yd.data(), 1, cd.data(), 0, cd.data(), 0, 0, 8),
            -1);
}
