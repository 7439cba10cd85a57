#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "extension/video_segmentation_wrapper.h"
#include "tests/extension/fakes.h"

using tavro::FrameImage;
using tavro::MaskBuffer;
using tavro::SegmentationConfig;
using tavro::VideoSegmentationWrapper;
using tavro_test::CoutRecorder;
using tavro_test::FakeMatting;
using tavro_test::MattingLog;
using tavro_test::WaitFor;

namespace {

const char kChanged[] = "[VideoSegmentationWrapper::Process] resolution changed!\n";
const char kInitFailed[] = "[VideoSegmentationWrapper::Process] init failed!\n";
const char kWarmed[] = "[VideoSegmentationWrapper::doWarmupAsync] warmuped!\n";
const char kWarmFailed[] = "[VideoSegmentationWrapper::doWarmupAsync] warmup failed!\n";
const char kNeedInit[] = "[VideoSegmentationWrapper::doWarmupAsync] need init first!\n";

struct Frame {
  Frame(int w, int h) : pixels(size_t(w) * h * 2), mask(size_t(w) * h) {
    image.width = w;
    image.height = h;
    image.strideY = w;
    image.strideU = image.strideV = w / 2;
    image.dataY = pixels.data();
    image.dataU = pixels.data() + w * h;
    image.dataV = image.dataU + w * h / 4;
    buffer.width = w;
    buffer.height = h;
    buffer.data = mask.data();
  }
  std::vector<uint8_t> pixels, mask;
  FrameImage image;
  MaskBuffer buffer;
};

class WrapperTest : public ::testing::Test {
 protected:
  // Warm-ups are held until FinishWarmup, so their messages never land in
  // the middle of a Run.
  WrapperTest()
      : wrapper(new VideoSegmentationWrapper(
            std::unique_ptr<tavro::MattingInterface>(new FakeMatting(&log)))) {
    log.holdWarmup();
  }
  ~WrapperTest() override {
    log.releaseWarmup();
    wrapper.reset();
  }

  // Processes one frame; *out gets what was printed meanwhile.
  int32_t Run(int w, int h, std::string* out = nullptr) {
    Frame f(w, h);
    out_.take();
    int32_t r = wrapper->Process(f.image, f.buffer);
    std::string text = out_.take();
    if (out) *out = text;
    lastMask = f.mask;
    return r;
  }
  // Lets the running warm-up finish and waits for its verdict.
  void FinishWarmup(const char* message) {
    log.releaseWarmup();
    ASSERT_TRUE(out_.waitFor(message));
    out_.take();
    log.holdWarmup();
  }

  CoutRecorder out_;  // outlives the wrapper and its threads
  MattingLog log;
  std::unique_ptr<VideoSegmentationWrapper> wrapper;
  std::vector<uint8_t> lastMask;
};

}  // namespace

TEST_F(WrapperTest, FirstFrameStartsWarmupAndFramesFlowWhenReady) {
  std::string out;
  EXPECT_EQ(Run(640, 360, &out), 1);
  EXPECT_EQ(out, kChanged);
  EXPECT_EQ(log.initCalls, 1);
  EXPECT_EQ(wrapper->state(), VideoSegmentationWrapper::kWarmingUp);
  EXPECT_EQ(wrapper->warmupThreadCount(), 1u);
  EXPECT_EQ(Run(640, 360, &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(log.processCalls, 0);
  FinishWarmup(kWarmed);
  EXPECT_EQ(log.warmupCalls, 2);
  EXPECT_EQ(wrapper->state(), VideoSegmentationWrapper::kReady);
  EXPECT_EQ(Run(640, 360, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(lastMask[0], 200);
  EXPECT_EQ(log.processCalls, 1);
}

TEST_F(WrapperTest, SizeChangeWhileReadyReinitsAndProcessesAtOnce) {
  EXPECT_EQ(Run(64, 48), 1);
  FinishWarmup(kWarmed);
  std::string out;
  EXPECT_EQ(Run(33, 17, &out), 0);
  EXPECT_EQ(out, kChanged);
  EXPECT_EQ(log.initCalls, 2);
  EXPECT_EQ(log.processCalls, 1);
  EXPECT_EQ(wrapper->warmupThreadCount(), 1u);
  EXPECT_EQ(wrapper->config().inWidth, 33);
  EXPECT_EQ(wrapper->config().outHeight, 17);
}

TEST_F(WrapperTest, SizeChangeDuringWarmupIsDeferred) {
  EXPECT_EQ(Run(640, 360), 1);
  std::string out;
  EXPECT_EQ(Run(320, 180, &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(log.initCalls, 1);
  FinishWarmup(kWarmed);
  EXPECT_EQ(Run(320, 180, &out), 0);
  EXPECT_EQ(out, kChanged);
  EXPECT_EQ(log.initCalls, 2);
}

TEST_F(WrapperTest, FailedWarmupIsRetriedAtTheSameSizeAfterItsBackOff) {
  log.warmupResult = -1;
  EXPECT_EQ(Run(64, 48), 1);
  FinishWarmup(kWarmFailed);
  // The failure is printed before the state drops back to -1.
  ASSERT_TRUE(WaitFor([&] { return wrapper->state() == VideoSegmentationWrapper::kNotReady; }));
  EXPECT_EQ(log.warmupCalls, 2) << "both warm-up runs always happen";
  std::string out;
  for (int i = 1; i < VideoSegmentationWrapper::kWarmupRetryFrames; ++i) {
    EXPECT_EQ(Run(64, 48, &out), 1);
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(wrapper->warmupThreadCount(), 1u) << "retried before its back-off";
  EXPECT_EQ(Run(64, 48, &out), 1);
  EXPECT_EQ(wrapper->warmupThreadCount(), 2u) << "not retried after its back-off";
  EXPECT_EQ(log.initCalls, 1) << "a warm-up retry needs no re-initialisation";
  FinishWarmup(kWarmFailed);
  ASSERT_TRUE(WaitFor([&] { return wrapper->state() == VideoSegmentationWrapper::kNotReady; }));
  // Failing again: the same back-off, then a warm-up that succeeds.
  log.warmupResult = 0;
  for (int i = 0; i < VideoSegmentationWrapper::kWarmupRetryFrames; ++i) EXPECT_EQ(Run(64, 48), 1);
  EXPECT_EQ(wrapper->warmupThreadCount(), 3u);
  FinishWarmup(kWarmed);
  EXPECT_EQ(Run(64, 48), 0);
  EXPECT_EQ(log.processCalls, 1);
}

TEST_F(WrapperTest, InitFailureMessages) {
  // First frame: init fails, the warm-up still starts and says so.
  log.initResult = -1;
  std::string out;
  EXPECT_EQ(Run(64, 48, &out), 1);
  EXPECT_EQ(out, std::string(kChanged) + kNeedInit);
  FinishWarmup(kWarmed);
  EXPECT_EQ(Run(64, 48), 1) << "not initialised";
  EXPECT_EQ(log.initCalls, 2) << "a failed init is tried again with the next frame";
  // Ready but init fails on a size change: "init failed!", nothing handed on;
  // the retries with the next frames are silent.
  EXPECT_EQ(Run(32, 32, &out), 1);
  EXPECT_EQ(out, std::string(kChanged) + kInitFailed);
  EXPECT_EQ(Run(32, 32, &out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(log.initCalls, 4);
  // The retry that succeeds hands its frame on, at the same size.
  log.initResult = 0;
  EXPECT_EQ(Run(32, 32), 0);
  EXPECT_EQ(log.initCalls, 5);
  EXPECT_EQ(log.processCalls, 1);
  EXPECT_EQ(wrapper->warmupThreadCount(), 1u) << "ready before: no new warm-up";
}

TEST_F(WrapperTest, FailedFirstInitIsRetriedThenWarmedUp) {
  // No pipeline on the first frame, and the warm-up that starts anyway fails.
  log.initResult = -1;
  log.warmupResult = -1;
  EXPECT_EQ(Run(64, 48), 1);
  FinishWarmup(kWarmFailed);
  ASSERT_TRUE(WaitFor([&] { return wrapper->state() == VideoSegmentationWrapper::kNotReady; }));
  log.initResult = 0;
  log.warmupResult = 0;
  // The next frame makes the pipeline and starts a warm-up at once.
  EXPECT_EQ(Run(64, 48), 1);
  EXPECT_EQ(log.initCalls, 2);
  EXPECT_EQ(wrapper->warmupThreadCount(), 2u);
  FinishWarmup(kWarmed);
  EXPECT_EQ(Run(64, 48), 0);
}

TEST_F(WrapperTest, SwitchChangeDoesNotReinitButNetworkSizeDoes) {
  EXPECT_EQ(Run(64, 48), 1);
  FinishWarmup(kWarmed);
  SegmentationConfig c = wrapper->config();
  c.settings.enable_optical_flow = false;
  c.inWidth = 999;  // frame sizes are not taken from the caller
  wrapper->setConfig(c);
  EXPECT_EQ(wrapper->config().inWidth, 64);
  EXPECT_EQ(wrapper->config().settings.enable_optical_flow, 0);
  EXPECT_FALSE(log.lastConfig.settings.enable_optical_flow);
  EXPECT_EQ(Run(64, 48), 0);
  EXPECT_EQ(log.initCalls, 1);

  c.netWidth = 224;
  wrapper->setConfig(c);
  std::string out;
  EXPECT_EQ(Run(64, 48, &out), 1);
  EXPECT_EQ(out, kChanged);
  EXPECT_EQ(log.initCalls, 2);
  FinishWarmup(kWarmed);
  EXPECT_EQ(wrapper->warmupThreadCount(), 2u);
  EXPECT_EQ(Run(64, 48), 0);
  EXPECT_EQ(log.lastConfig.netWidth, 224);
}

TEST_F(WrapperTest, DestructionJoinsRunningWarmup) {
  EXPECT_EQ(Run(8, 8), 1);
  std::thread opener([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    log.releaseWarmup();
  });
  wrapper.reset();
  EXPECT_EQ(log.warmupCalls, 2) << "the destructor waited for the warm-up";
  opener.join();
}

TEST_F(WrapperTest, VersionComesFromTheAdapter) {
  EXPECT_STREQ(wrapper->version(), "fake");
}

// Every network-size change starts a warm-up thread; those that have ended
// are joined when the next one starts, so the threads held stay few however
// many changes come (the running one, plus at most two that have given
// their verdict but not yet returned).
TEST_F(WrapperTest, FinishedWarmupThreadsAreJoinedAsNewOnesStart) {
  EXPECT_EQ(Run(16, 16), 1);
  FinishWarmup(kWarmed);
  SegmentationConfig c = wrapper->config();
  // A warm-up that has said its last word may not have ended yet when the
  // next one starts (on a loaded machine it can lose the processor for a
  // while), so a few may be held at once; without the joining all 101 are.
  constexpr size_t kFewHeld = 8;
  for (int i = 0; i < 100; ++i) {
    c.netWidth = i % 2 ? 320 : 224;
    wrapper->setConfig(c);
    EXPECT_EQ(Run(16, 16), 1);
    EXPECT_LE(wrapper->heldWarmupThreadCount(), kFewHeld);
    FinishWarmup(kWarmed);
    EXPECT_EQ(Run(16, 16), 0);
  }
  EXPECT_EQ(wrapper->warmupThreadCount(), 101u);
  EXPECT_LE(wrapper->heldWarmupThreadCount(), kFewHeld);
}
