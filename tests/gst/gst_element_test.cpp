// The tavroportrait element in GstHarness pipelines: negotiation of each
// output, the masks it attaches against the module's own, changes of
// properties and frame size while frames flow, flushes, errors, and many
// start/stop cycles (run under AddressSanitizer in CI).
#include <gtest/gtest.h>

#include <dirent.h>
#include <gst/check/gstharness.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "host/frame_source.h"
#include "host/gst/tavro_portrait.h"
#include "host/i420_image.h"
#include "host/module_session.h"
#include "matting/matting_frame.h"

using tavro_host::I420Image;

namespace {

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    // Registered straight from the test binary (an instrumented plugin file
    // could not be loaded by GStreamer's scanner).
    ASSERT_TRUE(gst_tavro_portrait_register(nullptr));
  }
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new GstEnvironment);

std::vector<I420Image> DemoFrames(int count) {
  std::vector<I420Image> frames(count);
  auto source = tavro_host::OpenDemoSource();
  for (I420Image& f : frames) EXPECT_TRUE(source->next(f));
  return frames;
}

std::string CapsFor(int w, int h, const char* format = "I420") {
  return "video/x-raw,format=" + std::string(format) + ",width=" + std::to_string(w) +
         ",height=" + std::to_string(h) + ",framerate=30/1";
}

GstHarness* Harness(const std::string& properties, int w, int h,
                    const char* downstream = "video/x-raw") {
  GstHarness* h_ = gst_harness_new_parse(("tavroportrait " + properties).c_str());
  gst_harness_set_src_caps_str(h_, CapsFor(w, h).c_str());
  gst_harness_set_sink_caps_str(h_, downstream);
  return h_;
}

GstFlowReturn Push(GstHarness* h, const I420Image& frame) {
  // GStreamer's default I420 layout: rows padded to 4 bytes, chroma of
  // (w + 1) / 2 x (h + 1) / 2.
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, frame.width, frame.height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstVideoFrame vf;
  gst_video_frame_map(&vf, &info, buffer, GST_MAP_WRITE);
  const uint8_t* planes[3] = {frame.y(), frame.u(), frame.v()};
  for (int p = 0; p < 3; ++p) {
    const int pw = GST_VIDEO_FRAME_COMP_WIDTH(&vf, p), ph = GST_VIDEO_FRAME_COMP_HEIGHT(&vf, p);
    const int tw = p ? frame.chromaWidth() : frame.width, th = p ? frame.chromaHeight() : frame.height;
    auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, p));
    for (int y = 0; y < ph; ++y)
      for (int x = 0; x < pw; ++x)
        dst[y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, p) + x] =
            planes[p][std::min(y, th - 1) * tw + std::min(x, tw - 1)];
  }
  gst_video_frame_unmap(&vf);
  return gst_harness_push(h, buffer);
}

// One output frame: its format and its planes without row padding.
struct Output {
  std::string format;
  int width = 0, height = 0;
  std::vector<std::vector<uint8_t>> planes;
};

Output Pull(GstHarness* h) {
  Output out;
  GstBuffer* buffer = gst_harness_pull(h);
  EXPECT_NE(buffer, nullptr);
  if (!buffer) return out;
  GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
  GstVideoInfo info;
  EXPECT_TRUE(gst_video_info_from_caps(&info, caps));
  gst_caps_unref(caps);
  out.format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
  out.width = GST_VIDEO_INFO_WIDTH(&info);
  out.height = GST_VIDEO_INFO_HEIGHT(&info);
  GstVideoFrame vf;
  EXPECT_TRUE(gst_video_frame_map(&vf, &info, buffer, GST_MAP_READ));
  for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&vf); ++p) {
    const int pw = GST_VIDEO_FRAME_COMP_WIDTH(&vf, p), ph = GST_VIDEO_FRAME_COMP_HEIGHT(&vf, p);
    std::vector<uint8_t> plane(size_t(pw) * ph);
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, p));
    for (int y = 0; y < ph; ++y)
      std::copy_n(src + y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, p), pw, plane.data() + size_t(y) * pw);
    out.planes.push_back(std::move(plane));
  }
  gst_video_frame_unmap(&vf);
  gst_buffer_unref(buffer);
  return out;
}

std::vector<uint8_t> Luma(const I420Image& f) { return {f.y(), f.y() + f.lumaSize()}; }

bool AnyNonZero(const std::vector<uint8_t>& v) {
  return std::any_of(v.begin(), v.end(), [](uint8_t x) { return x != 0; });
}

// The masks ModuleSession (what tavro-host runs) gives for frames, with the
// first one held until the network is warm.
std::vector<std::vector<uint8_t>> SessionMasks(const std::vector<I420Image>& frames,
                                               const std::string& configs) {
  tavro_host::ModuleSession session;
  std::string error;
  EXPECT_TRUE(session.open(tavro_host::DefaultModulePath(), configs, &error)) << error;
  std::vector<std::vector<uint8_t>> masks;
  for (size_t i = 0; i < frames.size(); ++i) {
    I420Image copy = frames[i];
    std::vector<uint8_t> mask;
    int32_t r = session.process(copy, mask);
    if (i == 0) {
      const auto resend = [&](std::vector<uint8_t>& m) {
        copy = frames[0];
        return session.process(copy, m);
      };
      r = tavro_host::WaitForWarmup(resend, 10000, mask, r);
    }
    masks.push_back(mask);
  }
  return masks;
}

int ThreadCount() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

}  // namespace

TEST(TavroPortraitCaps, EachModeNegotiatesItsFormat) {
  const I420Image frame(64, 48);
  struct Case {
    const char* properties;
    const char* downstream;
    const char* format;
  } cases[] = {
      {"", "video/x-raw", "I420"},  // auto: the blurred frame first
      {"", "video/x-raw,format=A420", "A420"},
      {"", "video/x-raw,format=GRAY8", "GRAY8"},
      {"", "video/x-raw,format={RGB,GRAY8}", "GRAY8"},
      {"mode=mask", "video/x-raw", "GRAY8"},
      {"mode=alpha", "video/x-raw", "A420"},
      {"mode=bokeh", "video/x-raw,format={GRAY8,A420,I420}", "I420"},
  };
  for (const Case& c : cases) {
    GstHarness* h = Harness(c.properties, 64, 48, c.downstream);
    EXPECT_EQ(Push(h, frame), GST_FLOW_OK) << c.properties << " " << c.downstream;
    const Output out = Pull(h);
    EXPECT_EQ(out.format, c.format) << c.properties << " " << c.downstream;
    EXPECT_EQ(out.width, 64);
    gst_harness_teardown(h);
  }
  // A forced mode that downstream does not take does not negotiate.
  GstHarness* h = Harness("mode=alpha", 64, 48, "video/x-raw,format=I420");
  EXPECT_EQ(Push(h, frame), GST_FLOW_NOT_NEGOTIATED);
  gst_harness_teardown(h);
}

// The alpha and grey masks are the module's masks for the same frames, and
// the A420 colour planes are the input's.
TEST(TavroPortraitMasks, AlphaAndMaskEqualTheModulesMasks) {
  const std::vector<I420Image> frames = DemoFrames(4);
  const int w = frames[0].width, ht = frames[0].height;
  const auto expected = SessionMasks(frames, "{\"enable\":true}");
  for (const char* mode : {"mode=alpha", "mode=mask"}) {
    GstHarness* h = Harness(std::string(mode) + " warmup-wait=10000", w, ht);
    for (size_t i = 0; i < frames.size(); ++i) {
      ASSERT_EQ(Push(h, frames[i]), GST_FLOW_OK);
      const Output out = Pull(h);
      const std::vector<uint8_t>& mask = out.planes.back();
      EXPECT_TRUE(AnyNonZero(mask)) << mode << " frame " << i;
      EXPECT_TRUE(mask == expected[i]) << mode << " frame " << i;
      if (out.format == "A420") {
        EXPECT_TRUE(out.planes[0] == Luma(frames[i]));
      }
    }
    gst_harness_teardown(h);
  }
}

// Bokeh blurs the background into the frame; before the network is warm
// the frame passes unchanged.
TEST(TavroPortraitMasks, BokehChangesTheBackgroundOnlyOnceWarm) {
  const std::vector<I420Image> frames = DemoFrames(2);
  GstHarness* h = Harness("mode=bokeh", frames[0].width, frames[0].height);
  ASSERT_EQ(Push(h, frames[0]), GST_FLOW_OK);
  EXPECT_TRUE(Pull(h).planes[0] == Luma(frames[0])) << "a cold network changes nothing";
  gst_harness_teardown(h);

  h = Harness("mode=bokeh warmup-wait=10000", frames[0].width, frames[0].height);
  ASSERT_EQ(Push(h, frames[1]), GST_FLOW_OK);
  const Output out = Pull(h);
  EXPECT_EQ(out.format, "I420");
  EXPECT_FALSE(out.planes[0] == Luma(frames[1]));
  gst_harness_teardown(h);
}

// With a background picture, pixels the mask calls background take the
// picture's value; the person keeps the frame's.
TEST(TavroPortraitMasks, ReplacePutsThePictureBehindThePerson) {
  const std::vector<I420Image> frames = DemoFrames(1);
  const int w = frames[0].width, ht = frames[0].height;
  const std::string png = ::testing::TempDir() + "tavro_green.png";
  ASSERT_TRUE(cv::imwrite(png, cv::Mat(90, 160, CV_8UC3, cv::Scalar(0, 200, 0))));
  const I420Image green = tavro_host::BgrToI420(cv::Mat(ht, w, CV_8UC3, cv::Scalar(0, 200, 0)));
  const auto masks = SessionMasks(frames, "{\"enable\":true}");

  GstHarness* h = Harness("background-image=" + png + " warmup-wait=10000", w, ht);
  ASSERT_EQ(Push(h, frames[0]), GST_FLOW_OK);
  const Output out = Pull(h);
  EXPECT_EQ(out.format, "I420") << "auto with a picture replaces";
  // Every pixel lies between frame and picture, exactly the picture where
  // the mask is 0 and nearer the frame where the mask is mostly person.
  int background = 0, person = 0;
  for (size_t i = 0; i < frames[0].lumaSize(); ++i) {
    const int a = masks[0][i], f = frames[0].y()[i], g = green.y()[i], o = out.planes[0][i];
    ASSERT_GE(o, std::min(f, g) - 1) << i;
    ASSERT_LE(o, std::max(f, g) + 1) << i;
    if (a == 0) {
      ++background;
      ASSERT_EQ(o, g) << i;
    } else if (a >= 200) {
      ++person;
      ASSERT_LE(std::abs(o - f), std::abs(o - g) + 1) << i;
    }
  }
  EXPECT_GT(background, 0);
  EXPECT_GT(person, 0);
  gst_harness_teardown(h);
}

// Mode, switches and frame size change while frames flow; a property
// thread hammers the switches meanwhile (checked by the sanitizers).
TEST(TavroPortraitLive, PropertyAndSizeChangesWhilePlaying) {
  const std::vector<I420Image> frames = DemoFrames(2);
  GstHarness* h = Harness("mode=alpha", 64, 48);
  GstElement* element = gst_harness_find_element(h, "tavroportrait");
  std::atomic<bool> done{false};
  std::thread changer([&] {
    for (int i = 0; !done; ++i) {
      g_object_set(element, "optical-flow", i % 2 == 0, "media-filter", i % 3 == 0,
                   "prefer-efficiency", i % 5 == 0, nullptr);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  I420Image small(64, 48);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(Push(h, small), GST_FLOW_OK);
    EXPECT_EQ(Pull(h).format, "A420");
  }
  g_object_set(element, "mode", GST_TAVRO_PORTRAIT_MODE_MASK, nullptr);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Push(h, small), GST_FLOW_OK);
    EXPECT_EQ(Pull(h).format, "GRAY8") << "the mode renegotiates on the next frame";
  }
  gst_harness_set_src_caps_str(h, CapsFor(frames[0].width, frames[0].height).c_str());
  for (const I420Image& f : frames) {
    ASSERT_EQ(Push(h, f), GST_FLOW_OK);
    const Output out = Pull(h);
    EXPECT_EQ(out.width, f.width);
    EXPECT_EQ(out.planes[0].size(), f.lumaSize());
  }
  gst_harness_set_src_caps_str(h, CapsFor(33, 17).c_str());  // odd sizes too
  ASSERT_EQ(Push(h, I420Image(33, 17)), GST_FLOW_OK);
  EXPECT_EQ(Pull(h).planes[0].size(), 33u * 17u);
  done = true;
  changer.join();
  gst_object_unref(element);
  gst_harness_teardown(h);
}

namespace {

// The matting pipeline's own mask for frame at network size netW x 224,
// optical flow and media filter off (the last of three passes).
std::vector<uint8_t> PipelineMask(I420Image frame, int netW) {
  using namespace TavroMatting;
  MattingFrame* matting = CreateMattingFrame(320, 224);
  const int w = frame.width, h = frame.height;
  const PlanarImage image{{frame.y(), frame.u(), frame.v()},
                          {w, w / 2, w / 2}, {h, h / 2, h / 2}, {w, w / 2, w / 2}};
  std::vector<uint8_t> mask(frame.lumaSize());
  const MaskView view{mask.data(), w, h};
  for (int pass = 0; pass < 3; ++pass) {
    const MattingSettings settings{netW, 224, pass == 0 ? 1 : 0, 0, 0};
    EXPECT_EQ(ProcessMattingFrame(matting, &image, &view, &settings), 0);
  }
  DestroyMattingFrame(matting);
  return mask;
}

}  // namespace

// prefer-efficiency set before the first frame runs the 224x224 network
// from the first warm frame on, and still after a change of frame size.
TEST(TavroPortraitLive, PreferEfficiencyHolds) {
  const std::vector<I420Image> frames = DemoFrames(1);
  const I420Image& f = frames[0];
  const std::vector<uint8_t> net224 = PipelineMask(f, 224);
  ASSERT_NE(net224, PipelineMask(f, 320));
  GstHarness* h = Harness("mode=mask optical-flow=false prefer-efficiency=true warmup-wait=10000",
                          f.width, f.height);
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(Push(h, f), GST_FLOW_OK);
    const Output out = Pull(h);
    if (i > 0) {
      EXPECT_TRUE(out.planes[0] == net224) << "frame " << i;
    }
  }
  gst_harness_set_src_caps_str(h, CapsFor(64, 48).c_str());
  ASSERT_EQ(Push(h, I420Image(64, 48)), GST_FLOW_OK);
  Pull(h);
  gst_harness_set_src_caps_str(h, CapsFor(f.width, f.height).c_str());
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Push(h, f), GST_FLOW_OK);
    const Output out = Pull(h);
    if (i > 0) {
      EXPECT_TRUE(out.planes[0] == net224) << "after the size change, frame " << i;
    }
  }
  gst_harness_teardown(h);
}

// After a flush (a seek) the next frame starts a new stream: its mask is
// the one a fresh element gives for it.
TEST(TavroPortraitLive, FlushStartsTheStreamAfresh) {
  const std::vector<I420Image> frames = DemoFrames(12);
  const int w = frames[0].width, ht = frames[0].height;
  GstHarness* fresh = Harness("mode=mask warmup-wait=10000", w, ht);
  ASSERT_EQ(Push(fresh, frames[11]), GST_FLOW_OK);
  const Output expected = Pull(fresh);
  gst_harness_teardown(fresh);

  GstHarness* h = Harness("mode=mask warmup-wait=10000", w, ht);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(Push(h, frames[i]), GST_FLOW_OK);
    Pull(h);
  }
  ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_flush_start()));
  ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_flush_stop(TRUE)));
  GstSegment segment;
  gst_segment_init(&segment, GST_FORMAT_TIME);
  ASSERT_TRUE(gst_harness_push_event(h, gst_event_new_segment(&segment)));
  ASSERT_EQ(Push(h, frames[11]), GST_FLOW_OK);
  EXPECT_TRUE(Pull(h).planes[0] == expected.planes[0]);
  gst_harness_teardown(h);
}

TEST(TavroPortraitErrors, MissingModuleAndPictureAreElementErrors) {
  GstElement* pipeline = gst_parse_launch(
      "videotestsrc num-buffers=1 ! tavroportrait module=/nonexistent/libnothing.so ! fakesink",
      nullptr);
  ASSERT_NE(pipeline, nullptr);
  EXPECT_EQ(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  ASSERT_NE(msg, nullptr);
  GError* err = nullptr;
  gst_message_parse_error(msg, &err, nullptr);
  EXPECT_NE(std::string(err->message).find("Cannot load the segmentation module"),
            std::string::npos) << err->message;
  g_error_free(err);
  gst_message_unref(msg);
  gst_object_unref(bus);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);

  GstHarness* h = Harness("mode=replace", 64, 48);
  bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  EXPECT_NE(Push(h, I420Image(64, 48)), GST_FLOW_OK);
  msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  ASSERT_NE(msg, nullptr) << "replace without a picture is an error";
  gst_message_unref(msg);
  gst_harness_teardown(h);
  gst_object_unref(bus);
}

// Repeated NULL -> PLAYING -> NULL leaves no thread behind (and, under
// AddressSanitizer, no leak).
TEST(TavroPortraitLive, ManyStartStopCyclesJoinEveryThread) {
  const I420Image frame(64, 48);
  GstHarness* h = Harness("mode=alpha", 64, 48);
  ASSERT_EQ(Push(h, frame), GST_FLOW_OK);
  gst_buffer_unref(gst_harness_pull(h));
  gst_harness_teardown(h);
  const int threads = ThreadCount();
  for (int cycle = 0; cycle < 20; ++cycle) {
    h = Harness(cycle % 2 ? "mode=alpha" : "mode=bokeh", 64, 48);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(Push(h, frame), GST_FLOW_OK);
      gst_buffer_unref(gst_harness_pull(h));
    }
    gst_harness_teardown(h);
  }
  EXPECT_EQ(ThreadCount(), threads);
}
