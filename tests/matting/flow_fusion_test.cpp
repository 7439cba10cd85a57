// Optical-flow fusion: flow conversion, consistency rule, warp and weights.
#include <gtest/gtest.h>

#include <vector>

#include "matting/flow_fusion.h"
#include "matting/flow_pair.h"

using namespace TavroMatting;

namespace {

// Runs the warp stage (steps after the flow) on constant flows.
struct WarpCase {
  int w, h;
  size_t m;
  std::vector<int16_t> fwdPlanes, bwdPlanes, fwd, bwd, bwdAt, tx, ty;
  std::vector<uint16_t> cols, rows;
  std::vector<uint8_t> valid, landed, warped, prev;
  std::vector<float> weight;

  WarpCase(int w_, int h_) : w(w_), h(h_), m(size_t(w_) * h_) {
    fwdPlanes.assign(2 * m, 0);
    bwdPlanes.assign(2 * m, 0);
    fwd.resize(2 * m);
    bwd.resize(2 * m);
    bwdAt.resize(2 * m);
    tx.resize(m);
    ty.resize(m);
    for (int x = 0; x < w; ++x) cols.push_back(uint16_t(x));
    for (int y = 0; y < h; ++y) rows.push_back(uint16_t(y));
    valid.assign(m, 1);
    landed.assign(m, 0);
    warped.assign(m, 0);
    prev.assign(m, 0);
    weight.assign(m, kMovingWeight);
  }
  void SetFlow(int fx, int fy, int bx, int by) {
    std::fill(fwdPlanes.begin(), fwdPlanes.begin() + m, int16_t(fx));
    std::fill(fwdPlanes.begin() + m, fwdPlanes.end(), int16_t(fy));
    std::fill(bwdPlanes.begin(), bwdPlanes.begin() + m, int16_t(bx));
    std::fill(bwdPlanes.begin() + m, bwdPlanes.end(), int16_t(by));
  }
  void Run() {
    InterleaveFlow(fwdPlanes.data(), fwd.data(), w, h);
    InterleaveFlow(bwdPlanes.data(), bwd.data(), w, h);
    FlowTargets(fwdPlanes.data(), cols.data(), valid.data(), tx.data(), w, h, w, FlowAxis::kX);
    FlowTargets(fwdPlanes.data() + m, rows.data(), valid.data(), ty.data(), w, h, h, FlowAxis::kY);
    SampleBackwardFlow(bwd.data(), bwdAt.data(), tx.data(), ty.data(), valid.data(), w, h);
    WarpPreviousMask(fwd.data(), bwdAt.data(), prev.data(), warped.data(), valid.data(),
                     landed.data(), tx.data(), ty.data(), weight.data(),
                     kConsistencyThreshold, w, h);
  }
  std::vector<uint8_t> Fuse(const std::vector<uint8_t>& current) {
    std::vector<uint8_t> out(m);
    FuseFlowMask(current.data(), warped.data(), landed.data(), weight.data(), out.data(), w, h);
    return out;
  }
};

}  // namespace

TEST(FlowFusion, MotionlessPixelsBlendStronglyTowardsPrevious) {
  WarpCase c(8, 6);
  for (size_t i = 0; i < c.m; ++i) c.prev[i] = uint8_t(i * 5);
  c.Run();
  std::vector<uint8_t> cur(c.m);
  for (size_t i = 0; i < c.m; ++i) cur[i] = uint8_t(255 - i * 3);
  auto out = c.Fuse(cur);
  for (size_t i = 0; i < c.m; ++i) {
    EXPECT_EQ(c.weight[i], kStillWeight);
    EXPECT_EQ(out[i], uint8_t(0.7 * c.prev[i] + 0.3 * cur[i])) << i;
  }
  WarpCase one(1, 1);
  one.prev[0] = 255;
  one.Run();
  EXPECT_EQ(one.Fuse({0})[0], 178);
}

TEST(FlowFusion, ShiftedFlowMovesPreviousMaskAndLeavesUncoveredPixels) {
  WarpCase c(40, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 40; ++x) c.prev[y * 40 + x] = uint8_t(x * 6);
  c.SetFlow(16, 0, -16, 0);
  c.Run();
  std::vector<uint8_t> cur(c.m, 100);
  auto out = c.Fuse(cur);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 40; ++x) {
      const size_t i = size_t(y) * 40 + x;
      if (x >= 24) {
        EXPECT_EQ(c.valid[i], 0) << x;
      }
      if (x < 16) {
        EXPECT_EQ(c.landed[i], 0);
        EXPECT_EQ(out[i], 100);
      } else {
        EXPECT_EQ(c.weight[i], kMovingWeight);
        EXPECT_EQ(out[i], uint8_t(0.1 * c.prev[i - 16] + 0.9 * 100)) << x;
      }
    }
  WarpCase moving(17, 1);
  moving.prev[0] = 255;
  moving.SetFlow(16, 0, -16, 0);
  moving.Run();
  EXPECT_EQ(moving.Fuse(std::vector<uint8_t>(17, 0))[16], 25);
}

TEST(FlowFusion, ForwardBackwardMismatchOfLengthSquaredEightIsRejected) {
  // forward (4, 3), backward at target (-2, -1): residual (2, 2) -> rejected.
  WarpCase rejected(16, 16);
  rejected.SetFlow(4, 3, -2, -1);
  rejected.Run();
  EXPECT_EQ(rejected.landed[5 * 16 + 6], 0);
  EXPECT_EQ(rejected.valid[2 * 16 + 2], 0);
  // residual (2, 1): squared length 5 passes.
  WarpCase passed(16, 16);
  passed.SetFlow(4, 3, -2, -2);
  passed.Run();
  EXPECT_EQ(passed.landed[5 * 16 + 6], 1);
  EXPECT_EQ(passed.valid[2 * 16 + 2], 1);
  EXPECT_EQ(passed.weight[5 * 16 + 6], kMovingWeight);
}

TEST(FlowFusion, TargetsWrapInSixteenBitsAndStayInBounds) {
  WarpCase c(10, 10);
  c.SetFlow(-32768, 0, 0, 0);
  c.Run();
  for (size_t i = 0; i < c.m; ++i) {
    EXPECT_EQ(c.valid[i], 0);
    EXPECT_EQ(c.landed[i], 0);
  }
  // Extreme vectors must not overflow the residual computation.
  WarpCase big(4, 4);
  big.SetFlow(32767, 32767, 32767, 32767);
  big.Run();
  for (size_t i = 0; i < big.m; ++i) EXPECT_EQ(big.landed[i], 0);
}

TEST(FlowPair, UpscaleRoundsHalfToEvenAndSaturates) {
  // A 1 x 1 level flow clamps every position to its only sample (fraction
  // 0), so each output is exactly value * 8 rounded.
  const float values[][2] = {{0.3125f, -0.3125f}, {0.4375f, -0.4375f}, {1e6f, -1e6f}};
  const int16_t want[][2] = {{2, -2}, {4, -4}, {32767, -32768}};
  for (int t = 0; t < 3; ++t) {
    cv::Mat level(1, 1, CV_32FC2, cv::Scalar(values[t][0], values[t][1]));
    std::vector<int16_t> planes(2 * 6 * 4);
    UpscaleFlow(level, 3, planes.data(), 6, 4);
    for (int i = 0; i < 24; ++i) {
      EXPECT_EQ(planes[i], want[t][0]);
      EXPECT_EQ(planes[24 + i], want[t][1]);
    }
  }
  // A horizontal ramp: column d samples s = (d + 0.5) / 8 - 0.5.
  cv::Mat ramp(1, 4, CV_32FC2);
  for (int x = 0; x < 4; ++x) ramp.at<cv::Vec2f>(0, x) = cv::Vec2f(float(x), 0.f);
  std::vector<int16_t> planes(2 * 32);
  UpscaleFlow(ramp, 3, planes.data(), 32, 1);
  EXPECT_EQ(planes[0], 0);    // clamped to column 0
  EXPECT_EQ(planes[8], 4);    // s = 0.5625 -> 4.5 -> 4 (ties to even)
  EXPECT_EQ(planes[12], 8);   // s = 1.0625 -> 8.5 -> 8
  EXPECT_EQ(planes[31], 24);  // clamped to the last column
}

TEST(FlowPair, LevelAndIdenticalImages) {
  EXPECT_EQ(FlowLevelForSize(64, 64), 1);
  EXPECT_EQ(FlowLevelForSize(161, 100), 2);
  EXPECT_EQ(FlowLevelForSize(161, 161), 3);
  EXPECT_EQ(FlowLevelForSize(320, 224), 3);
  EXPECT_EQ(FlowLevelForSize(224, 224), 3);

  const int w = 320, h = 224;
  std::vector<uint8_t> img(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) img[y * w + x] = uint8_t((x * 7 + y * 3) ^ (x * y));
  auto dis = CreateFlowObject(3);
  ASSERT_TRUE(dis);
  FlowScratch scratch;
  std::vector<int16_t> fwd(2 * w * h, 99), bwd(2 * w * h, 99);
  ComputeFlowPair(*dis, 3, img.data(), img.data(), w, h, fwd.data(), bwd.data(), scratch);
  for (size_t i = 0; i < fwd.size(); ++i) {
    ASSERT_EQ(fwd[i], 0) << i;
    ASSERT_EQ(bwd[i], 0) << i;
  }
  EXPECT_EQ(dis->getFinestScale(), 3);
  // Level images smaller than a patch give zero flow instead of failing.
  std::vector<int16_t> tiny(2 * 16, 5);
  std::vector<uint8_t> g(16, 1);
  ComputeFlowPair(*dis, 3, g.data(), g.data(), 4, 4, tiny.data(), tiny.data(), scratch);
  for (int16_t v : tiny) EXPECT_EQ(v, 0);
}

TEST(FlowPair, EachSearchIgnoresWhatTheScratchHeldBefore) {
  // A textured picture and the same picture moved 5 columns right: the pair
  // computed with a scratch flow that holds a wrong field must equal the pair
  // computed with a fresh scratch, and the backward search must not start
  // from the forward one.
  const int w = 320, h = 224;
  std::vector<uint8_t> a(w * h), b(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      a[y * w + x] = uint8_t((x * 7 + y * 3) ^ (x * y >> 3));
      const int sx = x - 5 < 0 ? 0 : x - 5;
      b[y * w + x] = uint8_t((sx * 7 + y * 3) ^ (sx * y >> 3));
    }
  auto dis = CreateFlowObject(3);
  ASSERT_TRUE(dis);
  std::vector<int16_t> fwd(2 * w * h), bwd(2 * w * h), fwd2(2 * w * h), bwd2(2 * w * h);
  FlowScratch fresh;
  ComputeFlowPair(*dis, 3, a.data(), b.data(), w, h, fwd.data(), bwd.data(), fresh);
  FlowScratch stale;
  stale.levelFlow.create(h >> 3, w >> 3, CV_32FC2);
  stale.levelFlow.setTo(cv::Scalar(-7.f, 9.f));
  ComputeFlowPair(*dis, 3, a.data(), b.data(), w, h, fwd2.data(), bwd2.data(), stale);
  EXPECT_EQ(fwd, fwd2);
  EXPECT_EQ(bwd, bwd2);
  // The same pair again on the used scratch: the same answer.
  ComputeFlowPair(*dis, 3, a.data(), b.data(), w, h, fwd2.data(), bwd2.data(), fresh);
  EXPECT_EQ(fwd, fwd2);
  EXPECT_EQ(bwd, bwd2);
}
