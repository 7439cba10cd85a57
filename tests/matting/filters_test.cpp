// Exact numbers of the mask filters, checked against direct formulas.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "matting/background_blur.h"
#include "matting/mask_filters.h"
#include "matting/median_blur.h"
#include "matting/skin_map.h"

using namespace TavroMatting;

namespace {

std::vector<uint8_t> RandomImage(int w, int h, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(size_t(w) * h);
  for (auto& b : v) b = uint8_t(rng() & 0xFF);
  return v;
}

std::vector<uint8_t> GaussRef(const std::vector<uint8_t>& s, int w, int h,
                              const std::vector<int>& k, int shift) {
  const int r = int(k.size()) / 2;
  std::vector<uint8_t> d(s.size());
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int sum = 0;
      for (int j = -r; j <= r; ++j)
        for (int i = -r; i <= r; ++i)
          sum += k[j + r] * k[i + r] *
                 s[size_t(Reflect101(y + j, h)) * w + Reflect101(x + i, w)];
      d[size_t(y) * w + x] = uint8_t((sum + (1 << (shift - 1))) >> shift);
    }
  return d;
}

uint8_t MedianRef(const std::vector<uint8_t>& s, int w, int h, int x, int y,
                  int k) {
  std::vector<uint8_t> win;
  for (int j = -k / 2; j <= k / 2; ++j)
    for (int i = -k / 2; i <= k / 2; ++i)
      win.push_back(s[size_t(std::clamp(y + j, 0, h - 1)) * w + std::clamp(x + i, 0, w - 1)]);
  std::nth_element(win.begin(), win.begin() + k * k / 2, win.end());
  return win[k * k / 2];
}

const int kSizes[][2] = {{1, 1}, {2, 3}, {3, 2}, {4, 4}, {5, 5}, {7, 9},
                         {17, 5}, {33, 21}, {320, 224}};

}  // namespace

TEST(GaussianFilters, MatchDirectFormulaOnAllSizes) {
  for (auto [w, h] : kSizes) {
    auto src = RandomImage(w, h, unsigned(w * 131 + h));
    std::vector<uint8_t> dst(src.size());
    std::vector<uint16_t> rows(5 * size_t(w));
    GaussianBlur3x3(src.data(), dst.data(), rows.data(), w, h);
    EXPECT_EQ(dst, GaussRef(src, w, h, {1, 2, 1}, 4)) << w << "x" << h;
    // The 5 x 5 works in place, as the pipeline uses it.
    auto inplace = src;
    GaussianBlur5x5(inplace.data(), inplace.data(), rows.data(), w, h);
    EXPECT_EQ(inplace, GaussRef(src, w, h, {1, 4, 6, 4, 1}, 8)) << w << "x" << h;
  }
}

TEST(GaussianFilters, ImpulseAndConstantImages) {
  const int w = 9, h = 9;
  std::vector<uint8_t> src(w * h, 0), dst(w * h);
  std::vector<uint16_t> rows(5 * w);
  src[4 * w + 4] = 255;
  GaussianBlur3x3(src.data(), dst.data(), rows.data(), w, h);
  EXPECT_EQ(dst[4 * w + 4], 64);
  EXPECT_EQ(dst[3 * w + 4], 32);
  EXPECT_EQ(dst[4 * w + 5], 32);
  EXPECT_EQ(dst[3 * w + 3], 16);
  EXPECT_EQ(dst[5 * w + 5], 16);
  GaussianBlur5x5(src.data(), dst.data(), rows.data(), w, h);
  EXPECT_EQ(dst[4 * w + 4], 36);

  std::vector<uint8_t> flat(w * h, 77);
  GaussianBlur3x3(flat.data(), dst.data(), rows.data(), w, h);
  EXPECT_EQ(dst, flat);
  GaussianBlur5x5(flat.data(), dst.data(), rows.data(), w, h);
  EXPECT_EQ(dst, flat);
}

TEST(StretchMask, MapsMidRangeOntoFullRange) {
  std::vector<uint8_t> src(256), dst(256);
  for (int i = 0; i < 256; ++i) src[i] = uint8_t(i);
  StretchMask(src.data(), dst.data(), 0.2f, 0.8f, 16, 16);
  for (int i = 0; i <= 51; ++i) EXPECT_EQ(dst[i], 0) << i;
  EXPECT_EQ(dst[52], 1);
  EXPECT_EQ(dst[53], 3);
  EXPECT_EQ(dst[128], 128);
  EXPECT_EQ(dst[203], 253);
  for (int i = 204; i < 256; ++i) EXPECT_EQ(dst[i], 255) << i;
  for (int i = 1; i < 256; ++i) EXPECT_GE(dst[i], dst[i - 1]);
}

TEST(CutBelow, ZeroesBelowLimitAndTouchesOnlyCount) {
  std::vector<uint8_t> v(300);
  for (size_t i = 0; i < v.size(); ++i) v[i] = uint8_t(i);
  CutBelow(v.data(), 256, 192);
  for (int i = 0; i < 192; ++i) EXPECT_EQ(v[i], 0) << i;
  for (int i = 192; i < 256; ++i) EXPECT_EQ(v[i], i);
  for (int i = 256; i < 300; ++i) EXPECT_EQ(v[i], uint8_t(i));  // beyond count
}

TEST(MedianBlur, EqualsBruteForceMedian) {
  for (int levels = 0; levels < 2; ++levels)
  for (auto [w, h] : kSizes) {
    auto img = RandomImage(w, h, unsigned(w + 7 * h));
    // Full range, and few levels so ties and equal runs are exercised too.
    if (levels)
      for (auto& b : img) b = uint8_t(b & 0xC3);
    std::vector<uint8_t> zeros(img.size(), 0), pad(size_t(w + 8) * h);
    auto out = img;
    SkinMedianBlur(out.data(), zeros.data(), pad.data(), w, h, 9);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(out[size_t(y) * w + x], MedianRef(img, w, h, x, y, 9))
            << w << "x" << h << " at " << x << "," << y;
  }
}

TEST(MedianBlur, KeepsSquareRemovesSpeck) {
  const int w = 40, h = 30;
  std::vector<uint8_t> img(w * h, 0), zeros(w * h, 0), pad((w + 8) * h);
  for (int y = 5; y < 14; ++y)
    for (int x = 5; x < 14; ++x) img[y * w + x] = 255;
  img[20 * w + 30] = 255;
  SkinMedianBlur(img.data(), zeros.data(), pad.data(), w, h, 9);
  EXPECT_EQ(img[9 * w + 9], 255);
  EXPECT_EQ(img[20 * w + 30], 0);
}

TEST(SkinMedianBlur, BoostsOnlyWeakSkinValues) {
  // A 1 x 1 image: the median of one value is that value, so the boost
  // is visible directly.
  uint8_t skin = 1, pad[9];
  const uint8_t in[] = {2, 3, 63, 64, 0};
  const uint8_t want[] = {2, 194, 254, 64, 0};
  for (int i = 0; i < 5; ++i) {
    uint8_t m = in[i];
    SkinMedianBlur(&m, &skin, pad, 1, 1, 9);
    EXPECT_EQ(m, want[i]) << int(in[i]);
  }
  uint8_t noSkin = 0, m = 30;
  SkinMedianBlur(&m, &noSkin, pad, 1, 1, 9);
  EXPECT_EQ(m, 30);
}

TEST(SkinMap, ChromaBoundsAndCrossDilation) {
  const int w = 7, h = 6;
  std::vector<uint8_t> u(w * h, 110), v(w * h, 100), map(w * h), rows(3 * w);
  v[2 * w + 3] = 141;  // one skin pixel in the middle
  v[0] = 174;          // one at the top-left corner
  DetectSkin(u.data(), v.data(), map.data(), rows.data(), w, h, w);
  int count = 0;
  for (uint8_t b : map) count += b;
  EXPECT_EQ(count, 5 + 3);
  for (int p : {2 * w + 3, 1 * w + 3, 3 * w + 3, 2 * w + 2, 2 * w + 4, 0, 1, w})
    EXPECT_EQ(map[p], 1) << p;

  const uint8_t us[] = {100, 101, 119, 120, 119, 110};
  const uint8_t vs[] = {150, 150, 141, 150, 175, 140};
  const uint8_t skin[] = {0, 1, 1, 0, 0, 0};
  for (int i = 0; i < 6; ++i) {
    uint8_t one, r[3];
    DetectSkin(&us[i], &vs[i], &one, r, 1, 1, 1);
    EXPECT_EQ(one, skin[i]) << i;
  }
}

TEST(GaussianKernel, TableShapeAndRejectedSizes) {
  std::vector<float> t(16 * 15, -1.f);
  ASSERT_EQ(MakeGaussianKernel2D(t.data(), 15, 0.f), 0);
  double sum = 0;
  float peak = 0;
  for (int y = 0; y < 15; ++y) {
    EXPECT_EQ(t[y * 16 + 15], 0.f);
    for (int x = 0; x < 15; ++x) {
      sum += t[y * 16 + x];
      peak = std::max(peak, t[y * 16 + x]);
      EXPECT_EQ(t[y * 16 + x], t[x * 16 + y]);
      EXPECT_EQ(t[y * 16 + x], t[(14 - y) * 16 + (14 - x)]);
    }
  }
  EXPECT_EQ(peak, t[7 * 16 + 7]);
  EXPECT_NEAR(sum, 1.0, 1e-5);
  std::vector<float> explicitSigma(16 * 15);
  MakeGaussianKernel2D(explicitSigma.data(), 15, 2.6f);
  EXPECT_EQ(explicitSigma, t);  // the automatic sigma for 15 is 2.6

  std::vector<float> untouched(40 * 40, 3.f);
  for (int k : {14, 33, 0, -1})
    EXPECT_EQ(MakeGaussianKernel2D(untouched.data(), k, 0.f), -1) << k;
  EXPECT_EQ(MakeGaussianKernel2D(nullptr, 15, 0.f), -1);
  for (float f : untouched) ASSERT_EQ(f, 3.f);
}

TEST(Filter2D, ConstantPlaneAndInPlaceUse) {
  std::vector<float> kernel(16 * 15);
  MakeGaussianKernel2D(kernel.data(), 15, 0.f);
  const int w = 64, h = 36;
  std::vector<uint8_t> flat(w * h, 200), out(w * h), rows((w + 1 + 15) * 15);
  ASSERT_EQ(Filter2D(kernel.data(), 15, flat.data(), w, h, w, out.data(), w, rows.data()), 0);
  for (uint8_t b : out) ASSERT_TRUE(b == 199 || b == 200);

  auto img = RandomImage(w, h, 5);
  std::vector<uint8_t> separate(w * h);
  Filter2D(kernel.data(), 15, img.data(), w, h, w, separate.data(), w, rows.data());
  // Direct formula with replicated borders, same summation order.
  for (int y = 0; y < h; y += 5)
    for (int x = 0; x < w; x += 3) {
      float acc = 0.f;
      for (int j = 0; j < 15; ++j)
        for (int i = 0; i < 15; ++i)
          acc += kernel[j * 16 + i] *
                 float(img[size_t(std::clamp(y + j - 7, 0, h - 1)) * w +
                           std::clamp(x + i - 7, 0, w - 1)]);
      ASSERT_EQ(separate[y * w + x], uint8_t(std::min(acc, 255.f))) << x << "," << y;
    }
  Filter2D(kernel.data(), 15, img.data(), w, h, w, img.data(), w, rows.data());
  EXPECT_EQ(img, separate);

  EXPECT_EQ(Filter2D(kernel.data(), 14, flat.data(), w, h, w, out.data(), w, rows.data()), -1);
  EXPECT_EQ(Filter2D(nullptr, 15, flat.data(), w, h, w, out.data(), w, rows.data()), -1);
}
