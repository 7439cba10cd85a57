// The tavroportrait element in GstHarness pipelines: each mode's caps and
// output, property and frame-size changes while frames flow, flushes,
// errors and many start/stop cycles (also under AddressSanitizer in CI).
// That the alpha equals tavro-host's mask is checked on a real clip by
// launch_e2e.sh.
#include <gtest/gtest.h>

#include <dirent.h>
#include <gst/check/gstharness.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "host/backdrop_picture.h"
#include "host/frame_source.h"
#include "host/gst/tavro_portrait.h"
#include "host/i420_image.h"
#include "tests/host/pipeline_mask.h"

using tavro_host::I420Image;

#if defined(__SANITIZE_ADDRESS__)
// GLib's library constructor allocates a block before main and keeps it for
// the life of the process. LeakSanitizer tells that one apart from a real
// leak only by its whole stack (the library initialiser), which needs the
// slow unwinder; every other leak is still reported.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() { return "leak:_dl_init\n"; }
#endif

namespace {

class GstEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    gst_init(nullptr, nullptr);
    // Registered from the test binary itself: GStreamer's plugin scanner
    // could not load an instrumented plugin file.
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
  return std::string("video/x-raw,format=") + format + ",width=" + std::to_string(w) + ",height=" + std::to_string(h) +
         ",framerate=30/1";
}

GstHarness* Harness(const std::string& properties, int w, int h,
                    const char* downstream = "video/x-raw", const char* format = "I420") {
  GstHarness* harness = gst_harness_new_parse(("tavroportrait " + properties).c_str());
  gst_harness_set_src_caps_str(harness, CapsFor(w, h, format).c_str());
  gst_harness_set_sink_caps_str(harness, downstream);
  return harness;
}

// Pushes frame in GStreamer's own I420 layout (rows padded to 4 bytes,
// chroma of (w + 1) / 2 x (h + 1) / 2, an odd last sample repeated).
GstFlowReturn Push(GstHarness* h, const I420Image& frame) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, frame.width, frame.height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstVideoFrame vf;
  gst_video_frame_map(&vf, &info, buffer, GST_MAP_WRITE);
  const uint8_t* planes[3] = {frame.y(), frame.u(), frame.v()};
  for (int p = 0; p < 3; ++p) {
    const int tw = p ? frame.chromaWidth() : frame.width, th = p ? frame.chromaHeight() : frame.height;
    auto* dst = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, p));
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&vf, p); ++y)
      for (int x = 0; x < GST_VIDEO_FRAME_COMP_WIDTH(&vf, p); ++x)
        dst[y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, p) + x] =
            planes[p][std::min(y, th - 1) * tw + std::min(x, tw - 1)];
  }
  gst_video_frame_unmap(&vf);
  return gst_harness_push(h, buffer);
}

// Pushes an even-sized frame as NV12 or YUY2 (each chroma row twice), which
// converts back to the same I420 frame.
GstFlowReturn PushAs(GstHarness* h, const I420Image& frame, GstVideoFormat format) {
  GstVideoInfo info;
  gst_video_info_set_format(&info, format, frame.width, frame.height);
  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&info), nullptr);
  GstVideoFrame vf;
  gst_video_frame_map(&vf, &info, buffer, GST_MAP_WRITE);
  auto* p0 = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, 0));
  const int s0 = GST_VIDEO_FRAME_PLANE_STRIDE(&vf, 0), cw = frame.chromaWidth();
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.width; ++x) {
      const uint8_t luma = frame.y()[y * frame.width + x];
      const int c = (y / 2) * cw + x / 2;
      if (format == GST_VIDEO_FORMAT_NV12) {
        p0[y * s0 + x] = luma;
        auto* uv = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, 1)) +
                   (y / 2) * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, 1);
        uv[(x / 2) * 2] = frame.u()[c];
        uv[(x / 2) * 2 + 1] = frame.v()[c];
      } else {
        uint8_t* pair = p0 + y * s0 + (x / 2) * 4;
        pair[(x % 2) * 2] = luma;
        pair[1] = frame.u()[c];
        pair[3] = frame.v()[c];
      }
    }
  gst_video_frame_unmap(&vf);
  return gst_harness_push(h, buffer);
}

// One output frame: its format, width and planes without row padding.
struct Output {
  std::string format;
  int width = 0;
  std::vector<std::vector<uint8_t>> planes;
};

Output Pull(GstHarness* h) {
  Output out;
  GstBuffer* buffer = gst_harness_pull(h);
  GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
  GstVideoInfo info;
  EXPECT_TRUE(buffer && caps && gst_video_info_from_caps(&info, caps));
  if (caps) gst_caps_unref(caps);
  if (!buffer) return out;
  out.format = gst_video_format_to_string(GST_VIDEO_INFO_FORMAT(&info));
  out.width = GST_VIDEO_INFO_WIDTH(&info);
  GstVideoFrame vf;
  gst_video_frame_map(&vf, &info, buffer, GST_MAP_READ);
  for (guint p = 0; p < GST_VIDEO_FRAME_N_PLANES(&vf); ++p) {
    const int pw = GST_VIDEO_FRAME_COMP_WIDTH(&vf, p);
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&vf, p));
    out.planes.emplace_back();
    for (int y = 0; y < GST_VIDEO_FRAME_COMP_HEIGHT(&vf, p); ++y)
      out.planes.back().insert(out.planes.back().end(), src + y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, p),
                               src + y * GST_VIDEO_FRAME_PLANE_STRIDE(&vf, p) + pw);
  }
  gst_video_frame_unmap(&vf);
  gst_buffer_unref(buffer);
  return out;
}

// One frame through a fresh element with the network warm.
Output WarmOutput(const std::string& properties, const I420Image& frame) {
  GstHarness* h = Harness(properties + " warmup-wait=10000", frame.width, frame.height);
  EXPECT_EQ(Push(h, frame), GST_FLOW_OK);
  Output out = Pull(h);
  gst_harness_teardown(h);
  return out;
}

std::vector<uint8_t> Luma(const I420Image& f) { return {f.y(), f.y() + f.lumaSize()}; }

}  // namespace

TEST(TavroPortraitCaps, EachModeNegotiatesItsFormat) {
  const struct {
    const char *properties, *downstream, *format;
  } cases[] = {
      {"", "video/x-raw", "I420"},  // auto: the blurred frame first
      {"", "video/x-raw,format=A420", "A420"},
      {"", "video/x-raw,format={RGB,GRAY8}", "GRAY8"},
      {"mode=mask", "video/x-raw", "GRAY8"},
      {"mode=alpha", "video/x-raw", "A420"},
      {"mode=bokeh", "video/x-raw,format={GRAY8,A420,I420}", "I420"},
  };
  for (const auto& c : cases) {
    GstHarness* h = Harness(c.properties, 64, 48, c.downstream);
    EXPECT_EQ(Push(h, I420Image(64, 48)), GST_FLOW_OK);
    EXPECT_EQ(Pull(h).format, c.format) << c.properties << " " << c.downstream;
    gst_harness_teardown(h);
  }
  // A forced mode that downstream does not take does not negotiate.
  GstHarness* h = Harness("mode=alpha", 64, 48, "video/x-raw,format=I420");
  EXPECT_EQ(Push(h, I420Image(64, 48)), GST_FLOW_NOT_NEGOTIATED);
  gst_harness_teardown(h);
}

// Alpha keeps the frame and adds the mask, which mask mode gives alone;
// bokeh blurs, though not before the network is warm; with a picture, the
// background takes it and the person keeps the frame.
TEST(TavroPortraitModes, EachModeGivesItsPicture) {
  const I420Image frame = DemoFrames(1)[0];
  const Output alpha = WarmOutput("mode=alpha", frame);
  const std::vector<uint8_t>& mask = alpha.planes[3];
  EXPECT_TRUE(alpha.planes[0] == Luma(frame));
  EXPECT_GT(std::count(mask.begin(), mask.end(), 0), 1000);
  EXPECT_GT(std::count_if(mask.begin(), mask.end(), [](uint8_t a) { return a > 200; }), 1000);
  EXPECT_TRUE(WarmOutput("mode=mask", frame).planes[0] == mask);
  EXPECT_FALSE(WarmOutput("mode=bokeh", frame).planes[0] == Luma(frame));
  GstHarness* cold = Harness("mode=bokeh", frame.width, frame.height);
  ASSERT_EQ(Push(cold, frame), GST_FLOW_OK);
  EXPECT_TRUE(Pull(cold).planes[0] == Luma(frame));
  gst_harness_teardown(cold);

  const std::string png = ::testing::TempDir() + "tavro_green.png";
  const cv::Scalar green(0, 200, 0);
  ASSERT_TRUE(cv::imwrite(png, cv::Mat(90, 160, CV_8UC3, green)));
  const uint8_t g = tavro_host::BgrToI420(cv::Mat(2, 2, CV_8UC3, green)).y()[0];
  const Output replaced = WarmOutput("background-image=" + png, frame);
  EXPECT_EQ(replaced.format, "I420") << "auto with a picture replaces";
  for (size_t i = 0; i < mask.size(); ++i) {
    const int f = frame.y()[i], o = replaced.planes[0][i];
    if (mask[i] == 0 || mask[i] == 255) {
      ASSERT_EQ(o, mask[i] ? f : g) << i;
    }
    ASSERT_TRUE(o >= std::min<int>(f, g) - 1 && o <= std::max<int>(f, g) + 1) << i;
  }
}

// The new composite: with an opaque colour the background takes it
// exactly and the person keeps the frame; the blur changes the background
// only; bokeh stays the module's own, unlike the blur.
TEST(TavroPortraitModes, BlurAndColourComposite) {
  const I420Image frame = DemoFrames(1)[0];
  const std::vector<uint8_t> mask = WarmOutput("mode=mask", frame).planes[0];
  const Output green = WarmOutput("mode=blur background-color=0xff00ff00", frame);
  const Output blur = WarmOutput("mode=blur", frame);
  const Output bokeh = WarmOutput("mode=bokeh", frame);
  ASSERT_EQ(green.format, "I420");
  uint8_t g[4];
  tavro_host::ArgbToYuva(0xff00ff00, g);
  size_t changed = 0;
  for (size_t i = 0; i < mask.size(); ++i) {
    if (mask[i] == 0) {
      ASSERT_EQ(green.planes[0][i], g[0]) << i;
    }
    if (mask[i] == 255) {
      ASSERT_EQ(blur.planes[0][i], frame.y()[i]) << i;
    }
    changed += blur.planes[0][i] != frame.y()[i];
  }
  EXPECT_GT(changed, mask.size() / 10);
  EXPECT_FALSE(blur.planes[0] == bokeh.planes[0]);
}

// A background video: its pictures behind the person, one per frame,
// from the start again after its last (5 pictures, 8 frames).
TEST(TavroPortraitModes, BackgroundVideoLoops) {
  const std::string video = ::testing::TempDir() + "tavro_red.avi";
  GstElement* writer = gst_parse_launch(
      ("videotestsrc num-buffers=5 pattern=red ! video/x-raw,width=64,height=48 ! jpegenc "
       "! avimux ! filesink location=" + video).c_str(), nullptr);
  ASSERT_NE(writer, nullptr);
  gst_element_set_state(writer, GST_STATE_PLAYING);
  GstBus* wbus = gst_element_get_bus(writer);
  gst_message_unref(gst_bus_timed_pop_filtered(
      wbus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
  gst_object_unref(wbus);
  gst_element_set_state(writer, GST_STATE_NULL);
  gst_object_unref(writer);

  const I420Image frame = DemoFrames(1)[0];
  const std::vector<uint8_t> mask = WarmOutput("mode=mask", frame).planes[0];
  uint8_t red[4];
  tavro_host::ArgbToYuva(0xffff0000, red);
  GstHarness* h = Harness("mode=replace warmup-wait=10000 background-video=" + video,
                          frame.width, frame.height);
  for (int i = 0; i < 8; ++i) {
    ASSERT_EQ(Push(h, frame), GST_FLOW_OK) << i;
    const Output out = Pull(h);
    for (size_t p = 0; p < mask.size(); p += 97)
      if (mask[p] == 0) {
        ASSERT_NEAR(out.planes[0][p], red[0], 6) << i << " " << p;
      }
  }
  gst_harness_teardown(h);
}

// Camera formats without videoconvert: NV12 and YUY2 give the mask I420
// gives, and the picture modes keep the input's format.
TEST(TavroPortraitCaps, Nv12AndYuy2GiveTheI420Mask) {
  const I420Image frame = DemoFrames(1)[0];
  const std::vector<uint8_t> mask = WarmOutput("mode=mask", frame).planes[0];
  for (const auto& [format, name] : {std::pair{GST_VIDEO_FORMAT_NV12, "NV12"},
                                     std::pair{GST_VIDEO_FORMAT_YUY2, "YUY2"}}) {
    GstHarness* h = Harness("mode=mask warmup-wait=10000", frame.width, frame.height,
                            "video/x-raw", name);
    ASSERT_EQ(PushAs(h, frame, format), GST_FLOW_OK);
    EXPECT_TRUE(Pull(h).planes[0] == mask) << name;
    gst_harness_teardown(h);
    for (const char* mode : {"mode=blur", "mode=bokeh", "mode=alpha"}) {
      h = Harness(std::string(mode) + " warmup-wait=10000", frame.width, frame.height,
                  "video/x-raw", name);
      ASSERT_EQ(PushAs(h, frame, format), GST_FLOW_OK);
      const Output out = Pull(h);
      EXPECT_EQ(out.format, std::string(mode) == "mode=alpha" ? "A420" : name) << mode;
      if (std::string(mode) == "mode=alpha") {
        EXPECT_TRUE(out.planes[3] == mask) << name;
      }
      gst_harness_teardown(h);
    }
  }
}

// Mode, switches and frame size change while frames flow; a property
// thread changes the switches meanwhile (checked by the sanitizers).
TEST(TavroPortraitLive, PropertyAndSizeChangesWhilePlaying) {
  const I420Image big = DemoFrames(1)[0];
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
  const struct {
    int w, h;
    const char* format;
  } steps[] = {{64, 48, "A420"}, {64, 48, "GRAY8"}, {big.width, big.height, "GRAY8"},
               {33, 17, "GRAY8"}};
  for (const auto& step : steps) {
    if (std::string(step.format) == "GRAY8")
      g_object_set(element, "mode", GST_TAVRO_PORTRAIT_MODE_MASK, nullptr);
    gst_harness_set_src_caps_str(h, CapsFor(step.w, step.h).c_str());
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(Push(h, step.w == big.width ? big : I420Image(step.w, step.h)), GST_FLOW_OK);
      const Output out = Pull(h);
      EXPECT_EQ(out.format, step.format);
      EXPECT_EQ(out.planes[0].size(), size_t(step.w) * step.h);
    }
  }
  done = true;
  changer.join();
  gst_object_unref(element);
  gst_harness_teardown(h);
}

// prefer-efficiency given before the first frame runs the 224x224 network
// from the first warm frame on.
TEST(TavroPortraitLive, PreferEfficiencyHolds) {
  const I420Image frame = DemoFrames(1)[0];
  const std::vector<uint8_t> net224 = PipelineMask(frame, 224);
  ASSERT_NE(net224, PipelineMask(frame, 320));
  EXPECT_TRUE(WarmOutput("mode=mask optical-flow=false prefer-efficiency=true refine-edges=false",
                         frame)
                  .planes[0] == net224);
}

// After a flush (a seek) the next frame starts a new stream: its mask is
// the one a fresh element gives for it.
TEST(TavroPortraitLive, FlushStartsTheStreamAfresh) {
  const std::vector<I420Image> frames = DemoFrames(12);
  const Output fresh = WarmOutput("mode=mask", frames[11]);
  GstHarness* h = Harness("mode=mask warmup-wait=10000", frames[0].width, frames[0].height);
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
  EXPECT_TRUE(Pull(h).planes[0] == fresh.planes[0]);
  gst_harness_teardown(h);
}

TEST(TavroPortraitErrors, MissingModuleAndPictureAreElementErrors) {
  const auto errorText = [](GstBus* bus) {
    GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    GError* err = nullptr;
    if (msg) gst_message_parse_error(msg, &err, nullptr);
    const std::string text = err ? err->message : "";
    if (err) g_error_free(err);
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    return text;
  };
  GstElement* pipeline = gst_parse_launch(
      "videotestsrc num-buffers=1 ! tavroportrait module=/nonexistent/libnothing.so ! fakesink",
      nullptr);
  EXPECT_EQ(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
  EXPECT_NE(errorText(gst_element_get_bus(pipeline)).find("Cannot load the segmentation module"),
            std::string::npos);
  gst_element_set_state(pipeline, GST_STATE_NULL);
  gst_object_unref(pipeline);

  GstHarness* h = Harness("mode=replace", 64, 48);
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  EXPECT_NE(Push(h, I420Image(64, 48)), GST_FLOW_OK);
  EXPECT_NE(errorText(bus).find("background-image"), std::string::npos);
  gst_harness_teardown(h);
}

// A config the module would ignore without a word gives a warning on the
// bus naming the problem; a good one gives none. A cut-short JPEG as
// background is an error.
TEST(TavroPortraitErrors, BadConfigWarnsAndCutPictureFails) {
  const struct {
    const char* config;
    const char* says;
  } cases[] = {{"{bad", "not JSON"},
               {"{\"blur\":true}", "unknown configs key \"blur\""},
               {"{\"bokeh\":\"yes\"}", "\"bokeh\" must be true or false"},
               {"[1,2]", "must be an object"},
               {"{\"enable_optical_flow\":false}", nullptr}};
  for (const auto& c : cases) {
    GstHarness* h = Harness("mode=mask", 64, 48);
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(h->element, bus);
    GstElement* element = gst_harness_find_element(h, "tavroportrait");
    g_object_set(element, "config", c.config, nullptr);
    gst_object_unref(element);
    ASSERT_EQ(Push(h, I420Image(64, 48)), GST_FLOW_OK);
    gst_buffer_unref(gst_harness_pull(h));
    GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_WARNING);
    if (!c.says) {
      EXPECT_EQ(msg, nullptr) << c.config;
    } else {
      ASSERT_NE(msg, nullptr) << c.config;
      GError* err = nullptr;
      gst_message_parse_warning(msg, &err, nullptr);
      EXPECT_NE(std::string(err->message).find(c.says), std::string::npos) << err->message;
      g_error_free(err);
    }
    if (msg) gst_message_unref(msg);
    gst_object_unref(bus);
    gst_harness_teardown(h);
  }

  const std::string cut = ::testing::TempDir() + "tavro_cut.jpg";
  std::vector<uchar> jpeg;
  ASSERT_TRUE(cv::imencode(".jpg", cv::Mat(48, 64, CV_8UC3, cv::Scalar(9, 99, 199)), jpeg));
  FILE* f = std::fopen(cut.c_str(), "wb");
  std::fwrite(jpeg.data(), 1, jpeg.size() / 2, f);
  std::fclose(f);
  GstHarness* h = Harness("mode=blur background-image=" + cut, 64, 48);
  GstBus* bus = gst_bus_new();
  gst_element_set_bus(h->element, bus);
  EXPECT_NE(Push(h, I420Image(64, 48)), GST_FLOW_OK);
  GstMessage* msg = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
  ASSERT_NE(msg, nullptr);
  GError* err = nullptr;
  gchar* debug = nullptr;
  gst_message_parse_error(msg, &err, &debug);
  EXPECT_NE(std::string(debug ? debug : "").find("cut short"), std::string::npos);
  g_error_free(err);
  g_free(debug);
  gst_message_unref(msg);
  gst_object_unref(bus);
  gst_harness_teardown(h);
}

// Repeated NULL -> PLAYING -> NULL leaves no thread behind (and, under
// AddressSanitizer, no leak).
TEST(TavroPortraitLive, ManyStartStopCyclesJoinEveryThread) {
  const auto threads = [] {
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
    closedir(dir);
    return n;
  };
  int before = 0;
  for (int cycle = 0; cycle <= 20; ++cycle) {
    if (cycle == 1) before = threads();  // after GStreamer's own first start
    GstHarness* h = Harness(cycle % 2 ? "mode=alpha" : "mode=bokeh", 64, 48);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(Push(h, I420Image(64, 48)), GST_FLOW_OK);
      gst_buffer_unref(gst_harness_pull(h));
    }
    gst_harness_teardown(h);
  }
  EXPECT_EQ(threads(), before);
}
