// The guided edge refinement: flat guides leave a flat mask alone, a blurred
// mask edge snaps onto the frame's luma edge, and tiny or odd sizes give a
// mask in range without reading or writing out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "matting/edge_refine.h"

namespace TavroMatting {
namespace {

TEST(EdgeRefiner, KeepsFlatMasksAndSnapsEdgesOntoTheFrame) {
  const int W = 160, H = 96, OW = 640, OH = 384;
  EdgeRefiner refiner;
  std::vector<uint8_t> out(size_t(OW) * OH);

  // A constant mask under any guide stays constant: a decided one exactly,
  // a half-transparent one with its contrast about one half raised.
  std::vector<uint8_t> mask(size_t(W) * H, 200), luma(size_t(W) * H);
  std::vector<uint8_t> full(size_t(OW) * OH);
  for (size_t i = 0; i < luma.size(); ++i) luma[i] = uint8_t(std::rand() & 255);
  for (size_t i = 0; i < full.size(); ++i) full[i] = uint8_t(std::rand() & 255);
  ASSERT_TRUE(refiner.Refine(mask.data(), luma.data(), W, H, full.data(), OW, out.data(), OW, OH));
  for (uint8_t v : out) ASSERT_NEAR(v, 127.5 + 1.5 * (200 - 127.5), 1);
  for (uint8_t level : {0, 255}) {
    std::fill(mask.begin(), mask.end(), level);
    ASSERT_TRUE(refiner.Refine(mask.data(), luma.data(), W, H, full.data(), OW, out.data(), OW, OH));
    for (uint8_t v : out) ASSERT_EQ(v, level);
  }

  // The person (bright) ends at x = 100 of the output; the network's mask
  // ends 8 output pixels early and ramps over 24 pixels. Refined, the mask
  // must end nearer the frame's edge than the mask scaled up alone, with a
  // step where the frame has one.
  const int edge = 100;
  for (int y = 0; y < OH; ++y)
    for (int x = 0; x < OW; ++x) full[size_t(y) * OW + x] = x < edge ? 210 : 40;
  std::vector<uint8_t> raw(size_t(OW) * OH);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const float ox = (x + 0.5f) * OW / W;
      luma[size_t(y) * W + x] = ox < edge ? 210 : 40;
      const float t = (ox - (edge - 8 - 12)) / 24.0f;
      mask[size_t(y) * W + x] = uint8_t(255 * (t < 0 ? 1 : t > 1 ? 0 : 1 - t));
    }
  // The unrefined mask at the output size: the same ramp, evaluated there.
  for (int y = 0; y < OH; ++y)
    for (int x = 0; x < OW; ++x) {
      const float t = (x + 0.5f - (edge - 8 - 12)) / 24.0f;
      raw[size_t(y) * OW + x] = uint8_t(255 * (t < 0 ? 1 : t > 1 ? 0 : 1 - t));
    }
  ASSERT_TRUE(refiner.Refine(mask.data(), luma.data(), W, H, full.data(), OW, out.data(), OW, OH));
  auto lastPerson = [&](const std::vector<uint8_t>& m, int y) {
    int last = -1;
    for (int x = 0; x < OW; ++x)
      if (m[size_t(y) * OW + x] >= 128) last = x;
    return last;
  };
  auto stepAtEdge = [&](const std::vector<uint8_t>& m, int y) {
    return int(m[size_t(y) * OW + edge - 1]) - int(m[size_t(y) * OW + edge]);
  };
  for (int y = 0; y < OH; y += 17) {
    EXPECT_LT(std::abs(lastPerson(out, y) - (edge - 1)), std::abs(lastPerson(raw, y) - (edge - 1)))
        << "row " << y;
    EXPECT_GT(stepAtEdge(out, y), 4 * stepAtEdge(raw, y)) << "row " << y;
  }
}

TEST(EdgeRefiner, TinyAndOddSizesStayInBounds) {
  EdgeRefiner refiner;
  const int sizes[][4] = {{1, 1, 1, 1}, {1, 1, 7, 5}, {3, 5, 2, 2}, {5, 3, 641, 361}, {2, 1, 3, 1}};
  for (const auto& s : sizes) {
    const int W = s[0], H = s[1], OW = s[2], OH = s[3];
    std::vector<uint8_t> mask(size_t(W) * H, 255), luma(size_t(W) * H, 90);
    // The full luma has a stride wider than the output.
    std::vector<uint8_t> full(size_t(OW + 3) * OH, 90), out(size_t(OW) * OH, 7);
    ASSERT_TRUE(refiner.Refine(mask.data(), luma.data(), W, H, full.data(), OW + 3,
                               out.data(), OW, OH));
    for (uint8_t v : out) ASSERT_EQ(v, 255) << W << "x" << H << " -> " << OW << "x" << OH;
  }
  uint8_t one = 0;
  EXPECT_FALSE(refiner.Refine(nullptr, &one, 1, 1, &one, 1, &one, 1, 1));
  EXPECT_FALSE(refiner.Refine(&one, &one, 0, 1, &one, 1, &one, 1, 1));
}

}  // namespace
}  // namespace TavroMatting
