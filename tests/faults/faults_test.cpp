// Failures injected into the pipeline and the wrapper through the preloaded
// fault library: each allocation of a frame on the calling thread or on the
// MattingThread, and the creation of a warm-up thread.
#include <dlfcn.h>
#include <pthread.h>

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <memory>
#include <thread>
#include <vector>

#include "extension/ref_counted_object.h"
#include "extension/seg_video_filter.h"
#include "extension/video_segmentation_wrapper.h"
#include "sdk/sdk_host.h"
#include "matting/matting_frame.h"
#include "tests/extension/fakes.h"
#include "tests/faults/fault_shim.h"
#include "tests/matting/test_frames.h"

namespace {

using TavroMatting::MattingFrame;

struct Shim {
  decltype(&tavro_fault_arm) arm =
      reinterpret_cast<decltype(arm)>(dlsym(RTLD_DEFAULT, "tavro_fault_arm"));
  decltype(&tavro_fault_disarm) disarm =
      reinterpret_cast<decltype(disarm)>(dlsym(RTLD_DEFAULT, "tavro_fault_disarm"));
  decltype(&tavro_fault_counted) counted =
      reinterpret_cast<decltype(counted)>(dlsym(RTLD_DEFAULT, "tavro_fault_counted"));
  bool loaded() const { return arm && disarm && counted; }
};

class PipelineFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!shim.loaded()) GTEST_SKIP() << "libtavro_fault.so is not preloaded";
    pthread_setname_np(pthread_self(), "TavroCaller");
    frame.reset(TavroMatting::CreateMattingFrame(320, 224));
    ASSERT_TRUE(frame);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Run(), 0);
  }
  void TearDown() override {
    if (shim.loaded()) shim.disarm();
  }
  int32_t Run() {
    auto planar = image.Planar();
    const TavroMatting::MaskView view{mask.data(), 640, 360};
    const auto settings = matting_test::Settings(320, 224, 0, 1, 1);
    return TavroMatting::ProcessMattingFrame(frame.get(), &planar, &view, &settings);
  }
  // Allocations one frame makes on the thread named `thread`.
  long CountPerFrame(const char* thread) {
    shim.arm(kTavroFaultAlloc, thread, LONG_MAX, -1);
    EXPECT_EQ(Run(), 0);
    shim.disarm();
    return shim.counted();
  }
  // Fails every allocation on `thread` from the n-th of a frame on, for each
  // n in turn: the frame answers 0 or -1, leaves nothing owed by the
  // MattingThread, and the next frame without faults succeeds.
  void SweepThread(const char* thread) {
    const long perFrame = CountPerFrame(thread);
    ASSERT_GT(perFrame, 0);
    for (long n = 1; n <= perFrame + 1; ++n) {
      shim.arm(kTavroFaultAlloc, thread, n, -1);
      const int32_t r = Run();
      const bool owed = frame->threadShareOwed();
      shim.disarm();
      EXPECT_TRUE(r == 0 || r == -1) << "allocation " << n << ": result " << r;
      EXPECT_FALSE(owed) << "allocation " << n << ": returned with the share still owed";
      EXPECT_EQ(Run(), 0) << "no recovery after allocation " << n;
    }
  }

  Shim shim;
  std::unique_ptr<MattingFrame, void (*)(MattingFrame*)> frame{nullptr,
                                                                &TavroMatting::DestroyMattingFrame};
  matting_test::I420Frame image{640, 360};
  std::vector<uint8_t> mask = std::vector<uint8_t>(640 * 360);
};

TEST_F(PipelineFaults, EachCallerAllocationOfAFrameCanFail) { SweepThread("TavroCaller"); }

TEST_F(PipelineFaults, EachMattingThreadAllocationOfAFrameCanFail) {
  SweepThread("MattingThread");
}

// A warm-up thread that cannot be made is not a failed warm-up: the next
// frame, of the same size, tries again.
TEST(WrapperFaults, WarmupThreadCreationIsRetriedOnTheNextFrame) {
  Shim shim;
  if (!shim.loaded()) GTEST_SKIP() << "libtavro_fault.so is not preloaded";
  tavro_test::CoutRecorder out;
  tavro_test::MattingLog log;
  tavro::VideoSegmentationWrapper wrapper(
      std::unique_ptr<tavro::MattingInterface>(new tavro_test::FakeMatting(&log)));
  std::vector<uint8_t> pixels(64 * 48 * 3 / 2), maskData(64 * 48);
  tavro::FrameImage image{64, 48, 64, 32, 32, pixels.data(), pixels.data() + 64 * 48,
                          pixels.data() + 64 * 48 * 5 / 4};
  tavro::MaskBuffer mask{64, 48, 0, maskData.data()};

  shim.arm(kTavroFaultThread, nullptr, 1, 3);  // three creations fail
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(wrapper.Process(image, mask), 1);
    EXPECT_EQ(wrapper.state(), tavro::VideoSegmentationWrapper::kNotReady);
  }
  EXPECT_EQ(wrapper.warmupThreadCount(), 0u);
  EXPECT_EQ(wrapper.Process(image, mask), 1) << "the fourth try makes its thread";
  shim.disarm();
  EXPECT_EQ(wrapper.warmupThreadCount(), 1u);
  ASSERT_TRUE(tavro_test::WaitFor(
      [&] { return wrapper.state() == tavro::VideoSegmentationWrapper::kReady; }));
  EXPECT_EQ(wrapper.Process(image, mask), 0);
  const std::string text = out.take();
  size_t said = 0;
  for (size_t at = text.find("warmup failed!"); at != std::string::npos;
       at = text.find("warmup failed!", at + 1))
    ++said;
  EXPECT_EQ(said, 1u) << "said once per run of failures";
}

// Every allocation of the frame that follows a network-size change (a
// re-initialisation and the start of a warm-up) fails from the n-th on, for
// each n: once the heap gives again, masks come back by themselves, at the
// same sizes. (A diagnostic line that threw once left the wrapper "warming
// up" with no warm-up running, for good.)
TEST(WrapperFaults, EachAllocationOfANetworkSizeChangeCanFailAndFramesComeBack) {
  Shim shim;
  if (!shim.loaded()) GTEST_SKIP() << "libtavro_fault.so is not preloaded";
  pthread_setname_np(pthread_self(), "TavroCaller");
  std::vector<uint8_t> pixels(64 * 48 * 3 / 2), maskData(64 * 48);
  tavro::FrameImage image{64, 48, 64, 32, 32, pixels.data(), pixels.data() + 64 * 48,
                          pixels.data() + 64 * 48 * 5 / 4};
  tavro::MaskBuffer mask{64, 48, 0, maskData.data()};
  auto changeUnder = [&](long failFrom) {
    tavro_test::MattingLog log;
    tavro::VideoSegmentationWrapper wrapper(
        std::unique_ptr<tavro::MattingInterface>(new tavro_test::FakeMatting(&log)));
    wrapper.Process(image, mask);
    EXPECT_TRUE(tavro_test::WaitFor(
        [&] { return wrapper.state() == tavro::VideoSegmentationWrapper::kReady; }));
    tavro::SegmentationConfig config;
    config.netWidth = 224;
    wrapper.setConfig(config);
    shim.arm(kTavroFaultAlloc, "TavroCaller", failFrom, -1);
    wrapper.Process(image, mask);
    shim.disarm();
    const long counted = shim.counted();
    bool back = false;
    for (int i = 0; i < 500 && !back; ++i) {
      back = wrapper.Process(image, mask) == 0;
      if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(back) << "allocation " << failFrom << ": no frame handed on again";
    return counted;
  };
  const long perFrame = changeUnder(LONG_MAX);
  ASSERT_GT(perFrame, 0);
  for (long n = 1; n <= perFrame + 1; ++n) changeUnder(n);
}

// Every allocation of a processed frame in the filter fails in turn, on the
// frame that also posts the periodic cost report to the host's sink (whose
// own allocations fail with it): the answer is 0 with the alpha buffer
// attached, or 2 with nothing attached, never a mix.
TEST(FilterFaults, EachAllocationOfAFrameGivesADefinedAnswer) {
  Shim shim;
  if (!shim.loaded()) GTEST_SKIP() << "libtavro_fault.so is not preloaded";
  pthread_setname_np(pthread_self(), "TavroCaller");
  tavro_test::CoutRecorder out;
  tavro_test::MattingLog log;
  auto* filter = new tavro::RefCountedObject<tavro::SEGVideoFilter>(
      std::unique_ptr<tavro::VideoSegmentationWrapper>(new tavro::VideoSegmentationWrapper(
          std::unique_ptr<tavro::MattingInterface>(new tavro_test::FakeMatting(&log)))));
  filter->addRef();
  filter->setEnabled(true);
  filter->start(tavro_rtc::HostEventSink::Create(false));  // the report goes here
  auto push = [&](long failFrom, bool* attached) {
    auto* frame = tavro_rtc::HostVideoFrame::Create(32, 24);
    frame->reserveAlpha(32 * 24);
    frame->addRef();  // the by-value reference the filter releases
    tavro_rtc::VideoFrame* outFrame = frame;  // already holds it: no swap
    frame->addRef();
    if (failFrom > 0) shim.arm(kTavroFaultAlloc, "TavroCaller", failFrom, -1);
    const int32_t r = filter->adaptVideoFrame(frame, &outFrame);
    shim.disarm();
    *attached = frame->attachCount() > 0;
    outFrame->release();
    frame->release();
    return r;
  };
  bool attached = false;
  ASSERT_EQ(push(0, &attached), 0);
  ASSERT_TRUE(tavro_test::WaitFor([&] { return log.warmupCalls == 2; }));
  filter->stop();  // the next frame's counter is 0: it composes the report
  ASSERT_EQ(push(LONG_MAX, &attached), 0);
  const long perFrame = shim.counted();
  ASSERT_GT(perFrame, 0);
  for (long n = 1; n <= perFrame + 1; ++n) {
    filter->stop();
    const int32_t r = push(n, &attached);
    EXPECT_TRUE((r == 0 && attached) || (r == 2 && !attached))
        << "allocation " << n << ": result " << r << (attached ? " with" : " without")
        << " an alpha buffer";
  }
  filter->release();
}

}  // namespace
