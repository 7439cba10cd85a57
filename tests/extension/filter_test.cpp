#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <regex>
#include <string>
#include <thread>

#include "extension/diagnostics_route.h"
#include "extension/ref_counted_object.h"
#include "extension/seg_video_filter.h"
#include "sdk/sdk_host.h"
#include "tests/extension/fakes.h"

using tavro::RefCountedObject;
using tavro::SEGVideoFilter;
using tavro::VideoSegmentationWrapper;
using tavro_rtc::HostEventSink;
using tavro_rtc::HostVideoFrame;
using tavro_rtc::VideoFrame;
using tavro_test::CoutRecorder;
using tavro_test::FakeMatting;
using tavro_test::MattingLog;

namespace {

class FilterTest : public ::testing::Test {
 protected:
  FilterTest() {
    filter = new RefCountedObject<SEGVideoFilter>(
        std::unique_ptr<VideoSegmentationWrapper>(new VideoSegmentationWrapper(
            std::unique_ptr<tavro::MattingInterface>(new FakeMatting(&log)))));
    filter->addRef();
  }
  ~FilterTest() override {
    log.releaseWarmup();
    filter->release();
  }

  // Passes one w x h frame (host keeps its own reference); returns the
  // result and leaves the frame in *kept with one reference for the test.
  int32_t Push(int w, int h, HostVideoFrame** kept = nullptr) {
    HostVideoFrame* frame = HostVideoFrame::Create(w, h);
    VideoFrame* out = nullptr;
    frame->addRef();  // the by-value reference the filter releases
    int32_t r = filter->adaptVideoFrame(frame, &out);
    EXPECT_EQ(out, frame) << "the filter works in place";
    EXPECT_EQ(frame->refCount(), 2) << "ours + the one in out";
    if (out) out->release();
    if (kept)
      *kept = frame;
    else
      frame->release();
    return r;
  }
  void MakeReady() {
    filter->setEnabled(true);
    Push(8, 8);
    ASSERT_TRUE(out.waitFor("warmuped!"));
    out.take();
  }

  CoutRecorder out;
  MattingLog log;
  tavro_rtc::VideoFilter* filter;
};

}  // namespace

TEST_F(FilterTest, FreshFilterPassesFramesThroughUntilEnabled) {
  EXPECT_FALSE(filter->isEnabled());
  HostVideoFrame* frame;
  EXPECT_EQ(Push(16, 16, &frame), 1);
  EXPECT_EQ(frame->attachCount(), 0);
  EXPECT_EQ(log.initCalls, 0);
  EXPECT_EQ(out.take(), "");
  frame->release();
  filter->setEnabled(true);
  EXPECT_TRUE(filter->isEnabled());
  EXPECT_EQ(Push(16, 16), 0);
}

TEST_F(FilterTest, NoInputFrame) {
  VideoFrame* sentinel = reinterpret_cast<VideoFrame*>(0x1);
  VideoFrame* out = sentinel;
  EXPECT_EQ(filter->adaptVideoFrame(nullptr, &out), 2);
  EXPECT_EQ(out, sentinel);
}

TEST_F(FilterTest, OutSlotHoldingAnotherFrameIsReleased) {
  filter->setEnabled(true);
  HostVideoFrame* old = HostVideoFrame::Create(4, 4);
  HostVideoFrame* in = HostVideoFrame::Create(4, 4);
  old->addRef();
  VideoFrame* out = old;
  in->addRef();
  filter->adaptVideoFrame(in, &out);
  EXPECT_EQ(out, in);
  EXPECT_EQ(old->refCount(), 1);
  EXPECT_EQ(in->refCount(), 2);
  out->release();
  in->release();
  old->release();
}

TEST_F(FilterTest, WarmingFilterAttachesZeroMaskAndPrintsCostLine) {
  log.holdWarmup();
  filter->setEnabled(true);
  HostVideoFrame* frame;
  EXPECT_EQ(Push(7, 5, &frame), 0);
  ASSERT_EQ(frame->attachCount(), 1);
  EXPECT_EQ(frame->alpha(), std::vector<uint8_t>(35, 0));
  const tavro_rtc::FrameDataRecord& req = frame->lastRequest();
  EXPECT_EQ(req.bufferType, 2);
  EXPECT_EQ(req.pixelFormat, 2);
  EXPECT_EQ(req.memoryType, 2);
  EXPECT_EQ(req.rotation, 0);
  frame->release();

  std::string text = out.take();
  const std::string changed =
      "[VideoSegmentationWrapper::Process] resolution changed!\n";
  ASSERT_EQ(text.compare(0, changed.size(), changed), 0) << text;
  std::string line = text.substr(changed.size());
  // "Process" in 40 columns, " cost:  ", the ms left-aligned in 10, "ms".
  EXPECT_TRUE(std::regex_match(
      line, std::regex("Process {33} cost:  [0-9][0-9.e+-]* *ms\n")))
      << line;
  EXPECT_EQ(line.size(), 61u) << line;
  // Format flags were put back: later output is not padded or left-aligned.
  std::cout << std::setw(0) << 1.5 << '|' << 42;
  EXPECT_EQ(out.take(), "1.5|42");
}

// "diagnostics_to_log" sends the module's lines, whole and in order, to the
// host's log (level kLogDiagnostic) and none to standard output; false
// brings standard output back. Without a known control lines are dropped.
TEST_F(FilterTest, DiagnosticsGoToTheHostLogWhenAsked) {
  tavro_test::RecordingControl control;
  tavro::RememberHostControl(&control);
  filter->setProperty("configs", R"({"enable": true, "diagnostics_to_log": true})");
  log.holdWarmup();
  EXPECT_EQ(Push(8, 8), 0);
  log.releaseWarmup();
  ASSERT_TRUE(tavro_test::WaitFor([&] { return control.count() >= 3; }));
  EXPECT_EQ(out.take(), "");
  EXPECT_EQ(control.logs[0], "0:[VideoSegmentationWrapper::Process] resolution changed!");
  EXPECT_TRUE(std::regex_match(control.logs[1], std::regex("0:Process {33} cost:  [0-9.e+-]+ *ms")))
      << control.logs[1];
  EXPECT_EQ(control.logs[2], "0:[VideoSegmentationWrapper::doWarmupAsync] warmuped!");

  tavro::RememberHostControl(nullptr);
  EXPECT_EQ(Push(8, 8), 0);
  EXPECT_EQ(control.logs.size(), 3u);
  EXPECT_EQ(out.take(), "");

  filter->setProperty("configs", R"({"diagnostics_to_log": false})");
  EXPECT_EQ(Push(8, 8), 0);
  EXPECT_NE(out.take().find("Process"), std::string::npos);
}

TEST_F(FilterTest, ReadyFilterReadsContiguousI420) {
  MakeReady();
  struct Case { int w, h; ptrdiff_t u, v; int cs; };
  for (Case c : {Case{2, 2, 4, 5, 1}, Case{5, 3, 15, 18, 2}, Case{640, 360, 230400, 288000, 320}}) {
    HostVideoFrame* frame;
    EXPECT_EQ(Push(c.w, c.h, &frame), 0);
    tavro::FrameImage img = log.lastImage;
    uint8_t* p = frame->pixels();
    EXPECT_EQ(img.width, c.w);
    EXPECT_EQ(img.strideY, c.w);
    EXPECT_EQ(img.strideU, c.cs);
    EXPECT_EQ(img.strideV, c.cs);
    EXPECT_EQ(img.dataY, p);
    EXPECT_EQ(img.dataU - p, c.u);
    EXPECT_EQ(img.dataV - p, c.v);
    // The V plane as the filter reads it (after a gap behind U for odd
    // sizes) lies inside the host's buffer.
    EXPECT_LE(img.dataV + size_t(c.cs) * (c.h / 2), p + frame->i420().size());
    EXPECT_EQ(frame->alpha(), std::vector<uint8_t>(size_t(c.w) * c.h, 200));
    frame->release();
  }
}

TEST_F(FilterTest, StartKeepsOneSinkReferenceAndPostsStartEvent) {
  HostEventSink* sink = HostEventSink::Create(false);
  sink->addRef();
  EXPECT_EQ(filter->start(sink), 0);
  EXPECT_EQ(sink->refCount(), 2);
  sink->addRef();
  EXPECT_EQ(filter->start(sink), 0);
  EXPECT_EQ(sink->refCount(), 2) << "same sink: still one reference kept";
  auto events = sink->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].first, "log");
  EXPECT_EQ(events[1].second, "segmentation: SEGVideoFilter start");
  EXPECT_EQ(filter->start(nullptr), 0);
  EXPECT_EQ(sink->refCount(), 1);
  EXPECT_EQ(sink->events().size(), 2u);
  sink->release();
}

TEST_F(FilterTest, DestroyingFilterDropsTheSink) {
  HostEventSink* sink = HostEventSink::Create(false);
  sink->addRef();
  filter->start(sink);
  EXPECT_EQ(filter->release(), 0);
  filter = new RefCountedObject<SEGVideoFilter>();
  filter->addRef();
  EXPECT_EQ(sink->refCount(), 1);
  sink->release();
}

TEST_F(FilterTest, CostIsReportedEvery59thFrameAndAfterStop) {
  HostEventSink* sink = HostEventSink::Create(false);
  sink->addRef();
  filter->start(sink);
  filter->setEnabled(true);
  const std::string prefix =
      "segmentation: SEGVideoFilter adaptVideoFrame costtime: ";
  auto costEvents = [&] {
    int n = 0;
    for (auto& e : sink->events())
      if (e.first == "log" && e.second.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
  };
  auto* seg = static_cast<SEGVideoFilter*>(filter);
  for (int i = 1; i <= 58; ++i) Push(4, 4);
  EXPECT_EQ(seg->frameCounter(), 58);
  EXPECT_EQ(costEvents(), 0);
  Push(4, 4);
  EXPECT_EQ(seg->frameCounter(), 0);
  EXPECT_EQ(costEvents(), 1);
  EXPECT_EQ(filter->stop(), 0);
  EXPECT_EQ(seg->frameCounter(), -1);
  EXPECT_TRUE(filter->isEnabled()) << "stop leaves processing on";
  EXPECT_EQ(Push(4, 4), 0);
  EXPECT_EQ(costEvents(), 2);
  EXPECT_EQ(seg->frameCounter(), 0);
  sink->release();
}

TEST_F(FilterTest, FixedAnswersAndReleaseFrame) {
  EXPECT_TRUE(filter->hostQuery4());
  EXPECT_EQ(filter->hostQuery8(), 0);
  EXPECT_TRUE(filter->hostQuery9());
  EXPECT_TRUE(filter->hostQuery11());
  EXPECT_TRUE(filter->hostQuery12());
  int32_t mode = 7;
  bool flag = true;
  filter->getProcessingOptions(&mode, &flag);
  EXPECT_EQ(mode, 0);
  EXPECT_FALSE(flag);
  int32_t a = 7, b = 7;
  filter->getFrameRequirements(&a, &b);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  HostVideoFrame* frame = HostVideoFrame::Create(2, 2);
  frame->addRef();
  EXPECT_EQ(filter->releaseFrame(frame), 1);
  EXPECT_EQ(frame->refCount(), 1);
  frame->release();
}

// The host may configure and restart the filter from its own threads while
// frames run; nothing may be torn (run under the sanitizers).
TEST_F(FilterTest, PropertyAndStartCallsDuringFrames) {
  filter->setEnabled(true);
  std::atomic<bool> done{false};
  std::thread host([&] {
    for (int i = 0; !done.load() || i < 200; ++i) {
      filter->setProperty("configs", i % 2 ? "{\"bokeh\":true,\"prefer_efficiency\":true}"
                                           : "{\"bokeh\":false,\"prefer_efficiency\":false}");
      filter->start(HostEventSink::Create(false));  // the filter keeps it
      if (i > 100000) break;
    }
  });
  for (int i = 0; i < 600; ++i) Push(4 + 2 * (i % 3), 4);
  done.store(true);
  host.join();
  filter->setProperty("configs", "{\"bokeh\":true,\"prefer_efficiency\":true}");
  const tavro::SegmentationConfig c =
      static_cast<SEGVideoFilter*>(filter)->wrapper().config();
  EXPECT_TRUE(c.settings.bokeh);
  EXPECT_EQ(c.netWidth, 224);
}

// Two filters on two video threads: every cost line must come out whole and
// in the fixed layout, with no width or flags borrowed from the other.
TEST_F(FilterTest, CostLinesOfTwoStreamsStayWhole) {
  MattingLog otherLog;
  auto* other = new RefCountedObject<SEGVideoFilter>(
      std::unique_ptr<VideoSegmentationWrapper>(new VideoSegmentationWrapper(
          std::unique_ptr<tavro::MattingInterface>(new FakeMatting(&otherLog)))));
  other->addRef();
  filter->setEnabled(true);
  other->setEnabled(true);
  auto push = [](tavro_rtc::VideoFilter* f, int w) {
    for (int i = 0; i < 300; ++i) {
      HostVideoFrame* frame = HostVideoFrame::Create(w, 4);
      VideoFrame* outFrame = nullptr;
      frame->addRef();
      f->adaptVideoFrame(frame, &outFrame);
      if (outFrame) outFrame->release();
      frame->release();
    }
  };
  std::thread second([&] { push(other, 6); });
  push(filter, 4);
  second.join();
  other->release();
  const std::string text = out.take();
  const std::regex costLine("Process {33} cost:  ([0-9.e+-]+ *)ms");
  const std::regex wrapperLine("\\[VideoSegmentationWrapper::[A-Za-z]+\\] [a-z !]+");
  size_t costLines = 0, start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "unterminated line";
    const std::string line = text.substr(start, end - start);
    std::smatch m;
    if (std::regex_match(line, m, costLine)) {
      ++costLines;
      EXPECT_GE(m[1].length(), 10) << "number not padded: '" << line << "'";
    } else {
      EXPECT_TRUE(std::regex_match(line, wrapperLine)) << "garbled: '" << line << "'";
    }
    start = end + 1;
  }
  EXPECT_EQ(costLines, 600u);
}
