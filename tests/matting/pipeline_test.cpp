// MattingFrame: lifecycle, stage order per switch combination, buffer
// re-creation rules and bad input.
#include <gtest/gtest.h>

#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/x86/matting_net.h"
#include "matting/mask_filters.h"
#include "matting/matting_frame.h"
#include "matting/median_blur.h"
#include "matting/skin_map.h"
#include "matting/timing.h"
#include "tests/matting/test_frames.h"

using namespace TavroMatting;
using matting_test::I420Frame;
using matting_test::Settings;

namespace {

struct FrameOwner {
  MattingFrame* f;
  explicit FrameOwner(MattingFrame* frame) : f(frame) {}
  ~FrameOwner() { DestroyMattingFrame(f); }
};

int RunFrame(MattingFrame* f, I420Frame& img, std::vector<uint8_t>& mask, int mw, int mh,
        MattingSettings s) {
  mask.assign(size_t(mw) * mh, 0xAB);
  const PlanarImage p = img.Planar();
  const MaskView view{mask.data(), mw, mh};
  return ProcessMattingFrame(f, &p, &view, &s);
}

// The network's mask of a frame at work size w x h, computed outside the
// pipeline from the same building blocks.
std::vector<uint8_t> NetworkMask(I420Frame& img, int w, int h,
                                 std::vector<uint8_t>* workI420 = nullptr) {
  std::vector<uint8_t> i420(size_t(w) * h * 3 / 2), rgb(size_t(w) * h * 3), out(size_t(w) * h);
  uint8_t* wy = i420.data();
  uint8_t* wu = wy + w * h;
  uint8_t* wv = wu + w * h / 4;
  libyuv::I420Scale(img.y.data(), img.w, img.u.data(), img.w / 2, img.v.data(), img.w / 2,
                    img.w, img.h, wy, w, wu, w / 2, wv, w / 2, w, h, libyuv::kFilterBilinear);
  libyuv::I420ToRGB24(wy, w, wu, w / 2, wv, w / 2, rgb.data(), 3 * w, w, h);
  TAVROMATTING::Net* net = TAVROMATTING::CreateNet(0, 0);
  TAVROMATTING::RunMattingNet(net, rgb.data(), out.data(), w, h);
  TAVROMATTING::DestroyNet(net);
  if (workI420) *workI420 = i420;
  return out;
}

std::vector<uint8_t> ScaleOut(const std::vector<uint8_t>& m, int w, int h, int mw, int mh) {
  std::vector<uint8_t> out(size_t(mw) * mh);
  libyuv::ScalePlane(m.data(), w, w, h, out.data(), mw, mw, mh, libyuv::kFilterBilinear);
  return out;
}

std::vector<std::string> Labels() {
  std::vector<std::string> l;
  for (const auto& e : TimingEntries()) l.push_back(e.first);
  return l;
}

}  // namespace

TEST(MattingFrameLifecycle, CreateInitAndTimingBits) {
  FrameOwner plain(CreateMattingFrame(320, 224));
  ASSERT_NE(plain.f, nullptr);
  EXPECT_EQ(plain.f->workWidth(), 320);
  EXPECT_EQ(plain.f->workHeight(), 224);
  EXPECT_FALSE(plain.f->timing());
  EXPECT_TRUE(plain.f->firstFrame());
  EXPECT_FALSE(plain.f->needsInit());
  EXPECT_TRUE(plain.f->threadRunning());
  EXPECT_EQ(plain.f->flowLevel(), 3);
  EXPECT_EQ(plain.f->blurWidth(), 64);

  FrameOwner timed(CreateMattingFrame(320 | 0xF0000, 224));
  EXPECT_TRUE(timed.f->timing());
  EXPECT_EQ(timed.f->workWidth(), 320);

  // A second Init of the same size keeps the grey images and the thread.
  I420Frame img(640, 360);
  std::vector<uint8_t> mask;
  ASSERT_EQ(RunFrame(plain.f, img, mask, 640, 360, Settings(320, 224, 1, 1, 0)), 0);
  const uint8_t* gray = plain.f->curGray().data;
  const std::vector<uint8_t> before(gray, gray + 320 * 224);
  plain.f->Init(320, 224);
  EXPECT_EQ(plain.f->curGray().data, gray);
  EXPECT_EQ(std::vector<uint8_t>(gray, gray + 320 * 224), before);
  EXPECT_TRUE(plain.f->firstFrame());
  EXPECT_TRUE(plain.f->threadRunning());
}

TEST(MattingFramePipeline, PlainNetworkMaskIsScaledBilinearly) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(1280, 720);
  std::vector<uint8_t> mask;
  ASSERT_EQ(RunFrame(f.f, img, mask, 1280, 720, Settings(320, 224, 0, 0, 0)), 0);
  EXPECT_EQ(mask, ScaleOut(NetworkMask(img, 320, 224), 320, 224, 1280, 720));
  // Mask size equal to the work size: a byte copy.
  ASSERT_EQ(RunFrame(f.f, img, mask, 320, 224, Settings(320, 224, 0, 0, 0)), 0);
  EXPECT_EQ(mask, NetworkMask(img, 320, 224));
  // The first frame with flow on is the plain network mask as well.
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 1, 1, 0)), 0);
  EXPECT_EQ(mask, ScaleOut(NetworkMask(img, 320, 224), 320, 224, 640, 360));
}

TEST(MattingFramePipeline, RefinedEdgesFollowTheFramesLuma) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(1280, 720, 5);
  std::vector<uint8_t> mask;
  MattingSettings s = Settings(320, 224, 0, 0, 0);
  s.switches.refine_edges = true;
  ASSERT_EQ(RunFrame(f.f, img, mask, 1280, 720, s), 0);
  std::vector<uint8_t> work;
  const auto m = NetworkMask(img, 320, 224, &work);
  std::vector<uint8_t> expected(size_t(1280) * 720);
  EdgeRefiner refiner;
  ASSERT_TRUE(refiner.Refine(m.data(), work.data(), 320, 224, img.y.data(), img.w,
                             expected.data(), 1280, 720));
  EXPECT_EQ(mask, expected);
  EXPECT_NE(mask, ScaleOut(m, 320, 224, 1280, 720));
  // A mask of another size than the frame has no luma to follow: plain scaling.
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, s), 0);
  EXPECT_EQ(mask, ScaleOut(m, 320, 224, 640, 360));
}

TEST(MattingFramePipeline, MediaFilterEqualsComposedFilters) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(640, 360, 7);
  std::vector<uint8_t> mask;
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 0, 0, 1)), 0);

  const int W = 320, H = 224;
  std::vector<uint8_t> work;
  auto m = NetworkMask(img, W, H, &work);
  std::vector<uint8_t> u(W * H), v(W * H), skin(W * H), rows(3 * W), pad((W + 8) * H);
  libyuv::ScalePlane(work.data() + W * H, W / 2, W / 2, H / 2, u.data(), W, W, H,
                     libyuv::kFilterBilinear);
  libyuv::ScalePlane(work.data() + W * H * 5 / 4, W / 2, W / 2, H / 2, v.data(), W, W, H,
                     libyuv::kFilterBilinear);
  DetectSkin(u.data(), v.data(), skin.data(), rows.data(), W, H, W);
  SkinMedianBlur(m.data(), skin.data(), pad.data(), W, H, 9);
  auto expected = ScaleOut(m, W, H, 640, 360);
  std::vector<uint16_t> outRows(5 * 640);
  CutBelow(expected.data(), expected.size(), 192);
  GaussianBlur5x5(expected.data(), expected.data(), outRows.data(), 640, 360);
  EXPECT_EQ(mask, expected);
}

TEST(MattingFramePipeline, StageOrderForEverySwitchCombination) {
  FrameOwner f(CreateMattingFrame(320 | 0xF0000, 224));
  I420Frame a(640, 360, 1), b(640, 360, 2);
  std::vector<uint8_t> mask;
  const std::vector<std::string> head = {"\nprocess start", "pre resize", "infer prepare",
                                         "inference"};
  const std::vector<std::string> flow = {"opt fusion", "opt gaussianf", "opt threshout"};
  const std::vector<std::string> tail = {"mask scaleout", "mask gf5x5", "totaltime"};
  for (int flowOn = 0; flowOn < 2; ++flowOn)
    for (int media = 0; media < 2; ++media) {
      // The first frame (reset) only seeds the flow; the second is fused.
      ASSERT_EQ(RunFrame(f.f, a, mask, 640, 360, Settings(320, 224, 1, flowOn, media)), 0);
      std::vector<std::string> first = head;
      if (media) first.push_back("skin mediablur");
      first.insert(first.end(), tail.begin(), tail.end());
      EXPECT_EQ(Labels(), first) << flowOn << media;

      ASSERT_EQ(RunFrame(f.f, b, mask, 640, 360, Settings(320, 224, 0, flowOn, media)), 0);
      std::vector<std::string> want = head;
      if (flowOn) want.insert(want.end(), flow.begin(), flow.end());
      if (media) want.push_back("skin mediablur");
      want.insert(want.end(), tail.begin(), tail.end());
      EXPECT_EQ(Labels(), want) << flowOn << media;
      EXPECT_EQ(TimingEntries().front().second, 0.0);
    }
}

TEST(MattingFramePipeline, WorkSizeChangeReinitialisesAndKeepsThread) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(640, 360);
  std::vector<uint8_t> mask;
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 1, 1, 1)), 0);
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 0, 1, 1)), 0);
  EXPECT_FALSE(f.f->firstFrame());
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(224, 224, 0, 1, 1)), 0);
  EXPECT_EQ(f.f->workWidth(), 224);
  EXPECT_EQ(f.f->curGray().cols, 224);
  EXPECT_TRUE(f.f->threadRunning());
  // The re-initialised frame had no previous mask: it only seeded the flow.
  EXPECT_FALSE(f.f->firstFrame());
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 0, 1, 1)), 0);
  EXPECT_EQ(f.f->workWidth(), 320);
}

TEST(MattingFramePipeline, OutRowsRemadeOnlyOnMaskWidthChange) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(640, 360);
  std::vector<uint8_t> mask;
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 0, 0, 0)), 0);
  EXPECT_EQ(f.f->outRowsWidth(), 0);  // made on the first media-filter frame
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 360, Settings(320, 224, 0, 0, 1)), 0);
  EXPECT_EQ(f.f->outRowsWidth(), 640);
  const uint16_t* rows = f.f->outRows();
  ASSERT_EQ(RunFrame(f.f, img, mask, 640, 480, Settings(320, 224, 0, 0, 1)), 0);
  EXPECT_EQ(f.f->outRows(), rows);
  ASSERT_EQ(RunFrame(f.f, img, mask, 320, 480, Settings(320, 224, 0, 0, 1)), 0);
  EXPECT_EQ(f.f->outRowsWidth(), 320);
}

TEST(MattingFrameBadInput, RejectsMissingArgumentsAndEmptyWorkSize) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame img(64, 48);
  std::vector<uint8_t> mask;
  EXPECT_EQ(RunFrame(f.f, img, mask, 64, 48, Settings(0, 224, 0, 1, 1)), -1);
  for (uint8_t b : mask) ASSERT_EQ(b, 0xAB);
  EXPECT_EQ(RunFrame(f.f, img, mask, 64, 48, Settings(320, -5, 0, 1, 1)), -1);
  EXPECT_EQ(RunFrame(f.f, img, mask, 64, 48, Settings(70000, 224, 0, 1, 1)), -1);
  EXPECT_EQ(RunFrame(f.f, img, mask, 0, 48, Settings(320, 224, 0, 1, 1)), -1);
  EXPECT_EQ(f.f->workWidth(), 320);

  const PlanarImage p = img.Planar();
  const MaskView view{mask.data(), 64, 48};
  const MattingSettings s = Settings(320, 224, 0, 0, 0);
  EXPECT_EQ(ProcessMattingFrame(nullptr, &p, &view, &s), -1);
  EXPECT_EQ(ProcessMattingFrame(f.f, nullptr, &view, &s), -1);
  EXPECT_EQ(ProcessMattingFrame(f.f, &p, nullptr, &s), -1);
  EXPECT_EQ(ProcessMattingFrame(f.f, &p, &view, nullptr), -1);
  const MaskView noData{nullptr, 64, 48};
  EXPECT_EQ(ProcessMattingFrame(f.f, &p, &noData, &s), -1);
  PlanarImage noPlane = p;
  noPlane.data[1] = nullptr;
  EXPECT_EQ(ProcessMattingFrame(f.f, &noPlane, &view, &s), -1);
  EXPECT_EQ(BlurMattingImage(f.f, nullptr, &p), -1);
  EXPECT_EQ(BlurMattingImage(nullptr, &p, &p), -1);
  DestroyMattingFrame(nullptr);
}

TEST(MattingFrameBadInput, TinyOddAndChangingFrameSizes) {
  // Two pipelines see the same frames with masks pre-filled differently:
  // equal results mean every mask byte was written.
  FrameOwner f0(CreateMattingFrame(320, 224)), f1(CreateMattingFrame(320, 224));
  const int sizes[][2] = {{1, 1}, {1, 7}, {3, 3}, {5, 5}, {2, 2}, {641, 359},
                          {7, 1}, {1280, 720}, {33, 17}, {4, 6}};
  for (int round = 0; round < 2; ++round)
    for (auto [w, h] : sizes) {
      I420Frame img(w, h, unsigned(w + h));
      const int mw = round ? w : h, mh = round ? h : w;  // masks of other shapes too
      const MattingSettings s = Settings(320, 224, 0, 1, 1);
      const PlanarImage p = img.Planar();
      std::vector<uint8_t> m0(size_t(mw) * mh, 0x00), m1(size_t(mw) * mh, 0xFF);
      const MaskView v0{m0.data(), mw, mh}, v1{m1.data(), mw, mh};
      ASSERT_EQ(ProcessMattingFrame(f0.f, &p, &v0, &s), 0) << w << "x" << h;
      ASSERT_EQ(ProcessMattingFrame(f1.f, &p, &v1, &s), 0) << w << "x" << h;
      ASSERT_EQ(m0, m1) << w << "x" << h;
    }
}

TEST(MattingFrameBlur, ConstantPlanesAndPortraitWidthCap) {
  FrameOwner f(CreateMattingFrame(320, 224));
  I420Frame portrait(720, 1280);
  std::fill(portrait.y.begin(), portrait.y.end(), 200);
  I420Frame out(720, 1280);
  PlanarImage src = portrait.Planar(), dst = out.Planar();
  ASSERT_EQ(BlurMattingImage(f.f, &src, &dst), 0);
  for (uint8_t b : out.y) ASSERT_TRUE(b == 199 || b == 200);
  EXPECT_EQ(f.f->blurWidth(), 44);
  // A landscape frame afterwards keeps the reduced width.
  I420Frame land(1280, 720), landOut(1280, 720);
  src = land.Planar();
  dst = landOut.Planar();
  ASSERT_EQ(BlurMattingImage(f.f, &src, &dst), 0);
  EXPECT_EQ(f.f->blurWidth(), 44);
  // Init restores the default width.
  f.f->Init(320, 224);
  ASSERT_EQ(BlurMattingImage(f.f, &src, &dst), 0);
  EXPECT_EQ(f.f->blurWidth(), 64);
}

TEST(MattingFrameWithoutThread, CallingThreadDoesTheWorkersShare) {
  // Without a running MattingThread the pipeline must neither wait forever
  // nor change its result: the worker's share runs on the calling thread.
  FrameOwner threaded(CreateMattingFrame(320, 224));
  FrameOwner inline_(CreateMattingFrame(320, 224));
  inline_.f->StopMattingThread();
  ASSERT_FALSE(inline_.f->threadRunning());
  I420Frame a(640, 360, 1), b(640, 360, 2), c(640, 360, 3);
  std::vector<uint8_t> m1, m2;
  I420Frame* frames[] = {&a, &b, &c, &a};
  for (int i = 0; i < 4; ++i) {
    const MattingSettings s = Settings(320, 224, i == 0, 1, 1);
    ASSERT_EQ(RunFrame(threaded.f, *frames[i], m1, 640, 360, s), 0);
    ASSERT_EQ(RunFrame(inline_.f, *frames[i], m2, 640, 360, s), 0);
    EXPECT_EQ(m1, m2) << "frame " << i;
    EXPECT_EQ(std::vector<uint8_t>(threaded.f->prevMask(), threaded.f->prevMask() + 320 * 224),
              std::vector<uint8_t>(inline_.f->prevMask(), inline_.f->prevMask() + 320 * 224));
  }
}

// Two streams, each with its own MattingFrame and MattingThread, processed at
// the same time on two threads give the masks each gives alone: nothing in
// the pipeline or the engine is shared between them unguarded (the
// ThreadSanitizer build runs this too).
TEST(MattingFrameStreams, TwoStreamsOnTwoThreadsMatchTheirSoloRuns) {
  const MattingSettings settings = Settings(224, 224, 0, 1, 1);
  auto stream = [&](unsigned seed, std::vector<std::vector<uint8_t>>* masks) {
    FrameOwner f(CreateMattingFrame(320, 224));
    std::vector<uint8_t> mask;
    for (int i = 0; i < 4; ++i) {
      I420Frame img(160 + 2 * seed, 120, seed + unsigned(i));
      if (RunFrame(f.f, img, mask, 96, 72, settings) != 0) return;
      masks->push_back(mask);
    }
  };
  std::vector<std::vector<uint8_t>> soloA, soloB, bothA, bothB;
  stream(1, &soloA);
  stream(7, &soloB);
  std::thread other([&] { stream(7, &bothB); });
  stream(1, &bothA);
  other.join();
  ASSERT_EQ(soloA.size(), 4u);
  ASSERT_EQ(soloB.size(), 4u);
  EXPECT_EQ(bothA, soloA);
  EXPECT_EQ(bothB, soloB);
}
