// MattingAdapter: sizes, warm-up, and the bokeh composite.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "blend/blend_i420.h"
#include "extension/matting_adapter.h"
#include "matting/matting_frame.h"
#include "tests/matting/test_frames.h"

using matting_test::I420Frame;
using tavro::FrameImage;
using tavro::MaskBuffer;
using tavro::MattingAdapter;
using tavro::SegmentationConfig;

namespace {

FrameImage Describe(I420Frame& f) {
  FrameImage img;
  img.width = f.w;
  img.height = f.h;
  img.strideY = f.w;
  img.strideU = img.strideV = f.w / 2;
  img.dataY = f.y.data();
  img.dataU = f.u.empty() ? f.y.data() : f.u.data();
  img.dataV = f.v.empty() ? f.y.data() : f.v.data();
  return img;
}

MaskBuffer MaskOf(std::vector<uint8_t>& data, int w, int h) {
  data.assign(size_t(w) * h, 0);
  MaskBuffer m;
  m.width = w;
  m.height = h;
  m.data = data.data();
  return m;
}

}  // namespace

TEST(MattingAdapter, InitRulesAndSizeChecks) {
  MattingAdapter a;
  EXPECT_EQ(a.warmup(), -1);  // nothing made yet
  EXPECT_EQ(a.init(0, 360, 640, 360), -1);
  EXPECT_EQ(a.init(640, 360, 640, -1), -1);
  EXPECT_EQ(a.warmup(), -1);

  SegmentationConfig efficient;
  efficient.netWidth = efficient.netHeight = 224;
  a.setConfig(efficient);
  EXPECT_EQ(a.netWidth(), 224);
  ASSERT_EQ(a.init(64, 48, 64, 48), 0);
  EXPECT_EQ(a.netWidth(), 320);  // init always starts from 320 x 224
  EXPECT_EQ(a.netHeight(), 224);
  EXPECT_EQ(a.warmup(), 0);

  I420Frame frame(64, 48), other(32, 48);
  std::vector<uint8_t> data;
  MaskBuffer mask = MaskOf(data, 64, 48);
  EXPECT_EQ(a.process(Describe(frame), mask), 0);
  EXPECT_EQ(a.process(Describe(other), mask), 1);
  MaskBuffer small = MaskOf(data, 32, 48);
  EXPECT_EQ(a.process(Describe(frame), small), 1);
}

TEST(MattingAdapter, BokehBlendsBlurredCopyBehindMaskAndDeliversOpaqueMask) {
  const int w = 320, h = 180;
  I420Frame original(w, h, 9);

  // The mask the pipeline makes for this frame, from an adapter without bokeh.
  MattingAdapter plain;
  ASSERT_EQ(plain.init(w, h, w, h), 0);
  I420Frame copy = original;
  std::vector<uint8_t> plainMask;
  MaskBuffer pm = MaskOf(plainMask, w, h);
  ASSERT_EQ(plain.process(Describe(copy), pm), 0);

  // The blurred copy, from a fresh pipeline.
  TavroMatting::MattingFrame* blurFrame = TavroMatting::CreateMattingFrame(320, 224);
  I420Frame blurred(w, h);
  auto src = original.Planar(), dst = blurred.Planar();
  ASSERT_EQ(TavroMatting::BlurMattingImage(blurFrame, &src, &dst), 0);
  TavroMatting::DestroyMattingFrame(blurFrame);

  I420Frame expected = original;
  tavro::blendI420(original.y.data(), w, original.u.data(), w / 2, original.v.data(), w / 2,
                   blurred.y.data(), w, blurred.u.data(), w / 2, blurred.v.data(), w / 2,
                   plainMask.data(), w, expected.y.data(), w, expected.u.data(), w / 2,
                   expected.v.data(), w / 2, w, h);

  MattingAdapter bokeh;
  ASSERT_EQ(bokeh.init(w, h, w, h), 0);
  SegmentationConfig cfg;
  cfg.settings.bokeh = true;
  cfg.netWidth = 320;
  bokeh.setConfig(cfg);
  I420Frame frame = original;
  std::vector<uint8_t> maskData;
  MaskBuffer mask = MaskOf(maskData, w, h);
  ASSERT_EQ(bokeh.process(Describe(frame), mask), 0);
  for (uint8_t b : maskData) ASSERT_EQ(b, 255);
  EXPECT_EQ(frame.y, expected.y);
  EXPECT_EQ(frame.u, expected.u);
  EXPECT_EQ(frame.v, expected.v);
}

TEST(MattingAdapter, BokehOnOnePixelWideFrame) {
  MattingAdapter a;
  ASSERT_EQ(a.init(1, 8, 1, 8), 0);
  SegmentationConfig cfg;
  cfg.settings.bokeh = true;
  cfg.settings.enable_media_filter = true;
  a.setConfig(cfg);
  EXPECT_EQ(a.warmup(), 0);
  I420Frame frame(1, 8);
  std::vector<uint8_t> data;
  MaskBuffer mask = MaskOf(data, 1, 8);
  EXPECT_EQ(a.process(Describe(frame), mask), 0);
  for (uint8_t b : data) EXPECT_EQ(b, 255);
}

TEST(MattingAdapter, BokehWithMaskSmallerThanFrameLeavesPixels) {
  MattingAdapter a;
  ASSERT_EQ(a.init(64, 48, 32, 24), 0);
  SegmentationConfig cfg;
  cfg.settings.bokeh = true;
  a.setConfig(cfg);
  I420Frame frame(64, 48), original(64, 48);
  std::vector<uint8_t> data;
  MaskBuffer mask = MaskOf(data, 32, 24);
  EXPECT_EQ(a.process(Describe(frame), mask), 0);
  EXPECT_EQ(frame.y, original.y);
  for (uint8_t b : data) EXPECT_EQ(b, 255);
}

TEST(MattingAdapter, ResetsThePipelineOnFirstFrameAfterInitAndWarmup) {
  // Mirror the adapter with a pipeline driven by hand: reset on the first
  // frame after init and after warm-up, not on the others.
  const int w = 160, h = 96;
  I420Frame a(w, h, 1), b(w, h, 2);
  MattingAdapter adapter;
  ASSERT_EQ(adapter.init(w, h, w, h), 0);
  TavroMatting::MattingFrame* ref = TavroMatting::CreateMattingFrame(320, 224);
  auto refRun = [&](I420Frame& f, int reset) {
    std::vector<uint8_t> m(size_t(w) * h);
    const auto p = f.Planar();
    const TavroMatting::MaskView v{m.data(), w, h};
    const TavroMatting::MattingSettings s =
        TavroMatting::MakeMattingSettings(320, 224, reset, true, false);
    EXPECT_EQ(TavroMatting::ProcessMattingFrame(ref, &p, &v, &s), 0);
    return m;
  };
  auto run = [&](I420Frame& f) {
    std::vector<uint8_t> data;
    MaskBuffer m = MaskOf(data, w, h);
    EXPECT_EQ(adapter.process(Describe(f), m), 0);
    return data;
  };
  EXPECT_EQ(run(a), refRun(a, 1));
  EXPECT_EQ(run(b), refRun(b, 0));
  EXPECT_EQ(run(a), refRun(a, 0));
  ASSERT_EQ(adapter.warmup(), 0);
  I420Frame blank(w, h);
  std::fill(blank.y.begin(), blank.y.end(), 0);
  std::fill(blank.u.begin(), blank.u.end(), 0);
  std::fill(blank.v.begin(), blank.v.end(), 0);
  refRun(blank, 0);
  EXPECT_EQ(run(b), refRun(b, 1));
  EXPECT_EQ(run(a), refRun(a, 0));
  TavroMatting::DestroyMattingFrame(ref);
}

// The host's property thread changes the switches while frames run; each
// pipeline call takes them as they are when it starts (run under the
// sanitizers: nothing may be torn).
TEST(MattingAdapter, SwitchesChangeWhileFramesRun) {
  MattingAdapter a;
  ASSERT_EQ(a.init(48, 32, 48, 32), 0);
  std::atomic<bool> done{false};
  std::thread property([&] {
    SegmentationConfig c;
    for (int i = 0; !done.load(); ++i) {
      c.settings.bokeh = i % 2 == 0;
      c.settings.enable_optical_flow = i % 3 == 0;
      c.settings.enable_media_filter = i % 5 == 0;
      a.setConfig(c);
      std::this_thread::yield();
    }
  });
  I420Frame frame(48, 32);
  std::vector<uint8_t> data;
  for (int i = 0; i < 6; ++i) {
    MaskBuffer mask = MaskOf(data, 48, 32);
    EXPECT_EQ(a.process(Describe(frame), mask), 0);
  }
  done.store(true);
  property.join();
  SegmentationConfig bokeh;
  bokeh.settings.bokeh = true;
  a.setConfig(bokeh);
  MaskBuffer mask = MaskOf(data, 48, 32);
  EXPECT_EQ(a.process(Describe(frame), mask), 0);
  EXPECT_EQ(data, std::vector<uint8_t>(data.size(), 255));
}
