// Loads the built module through the stand-in SDK, as a host application
// does, and runs frames through its filter.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/frame_source.h"
#include "host/i420_image.h"
#include "host/module_session.h"
#include "tests/host/pipeline_mask.h"

using namespace tavro_host;

namespace {

I420Image Grey(int w, int h, uint8_t level) {
  I420Image img(w, h);
  std::fill(img.data.begin(), img.data.end(), level);
  return img;
}

}  // namespace

TEST(ModuleEndToEnd, FramesOfChangingAndOddSizesGetMasks) {
  ModuleSession session;
  std::string error;
  ASSERT_TRUE(session.open(TAVRO_MODULE_PATH, "{\"enable\":true}", &error)) << error;
  EXPECT_EQ(session.version(), "\"matting_release_2.0.5\"");
  const std::pair<int, int> sizes[] = {{640, 360}, {2, 2}, {33, 17}, {1, 1},
                                       {7, 5}, {640, 360}, {320, 180}, {3, 2}};
  std::vector<uint8_t> mask;
  for (int round = 0; round < 3; ++round) {
    for (auto [w, h] : sizes) {
      I420Image frame = Grey(w, h, 100);
      EXPECT_EQ(session.process(frame, mask), 0) << w << "x" << h;
      EXPECT_EQ(mask.size(), size_t(w) * h);
      EXPECT_EQ(frame.data.size(), I420Image::SizeFor(w, h));
    }
  }
  session.close();
  // The module can be loaded again after a clean unload.
  ASSERT_TRUE(session.open(TAVRO_MODULE_PATH, "{\"enable\":false}", &error)) << error;
  I420Image frame = Grey(16, 16, 50);
  EXPECT_EQ(session.process(frame, mask), 0) << "the host enables after configuring";
  // Without bokeh the picture comes back unchanged, also for odd sizes whose
  // host frame keeps a gap between the U and V planes.
  I420Image odd(7, 5);
  for (size_t i = 0; i < odd.data.size(); ++i) odd.data[i] = uint8_t(i * 7 + 1);
  const std::vector<uint8_t> before = odd.data;
  EXPECT_EQ(session.process(odd, mask), 0);
  EXPECT_EQ(odd.data, before);
}

// With bokeh the filter writes the blurred background into all three planes
// of the host's frame; an odd-sized frame must take that in its own bytes
// (checked under AddressSanitizer) and come back with an opaque mask.
TEST(ModuleEndToEnd, BokehOnOddFrameStaysInsideTheFrame) {
  ModuleSession session;
  std::string error;
  ASSERT_TRUE(session.open(TAVRO_MODULE_PATH, "{\"enable\":true,\"bokeh\":true}",
                           &error))
      << error;
  std::vector<uint8_t> mask;
  bool opaque = false;
  for (int i = 0; i < 200 && !opaque; ++i) {  // until the warm-up is done
    I420Image frame = Grey(33, 17, 90);
    ASSERT_EQ(session.process(frame, mask), 0);
    ASSERT_EQ(frame.data.size(), I420Image::SizeFor(33, 17));
    opaque = mask == std::vector<uint8_t>(size_t(33) * 17, 255);
    if (!opaque) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_TRUE(opaque) << "the warm-up did not finish in 10 s";
}

TEST(ModuleEndToEnd, BadModulePathIsReported) {
  ModuleSession session;
  std::string error;
  EXPECT_FALSE(session.open("/nonexistent/libnothing.so", "{}", &error));
  EXPECT_NE(error.find("cannot load"), std::string::npos);
  I420Image frame = Grey(4, 4, 0);
  std::vector<uint8_t> mask;
  EXPECT_EQ(session.process(frame, mask), 2);
}

namespace {

// The module's mask for the third pass of frame after the warm-up, after
// laterConfigs (when given) and a frame of another size (with resize).
std::vector<uint8_t> SessionMask(const I420Image& frame, const std::string& configs,
                                 const std::string& laterConfigs = "", bool resize = false) {
  ModuleSession session;
  std::string error;
  EXPECT_TRUE(session.open(TAVRO_MODULE_PATH, configs, &error)) << error;
  std::vector<uint8_t> mask;
  const auto send = [&](std::vector<uint8_t>& m) {
    I420Image copy = frame;
    return session.process(copy, m);
  };
  EXPECT_EQ(WaitForWarmup(send, 10000, mask, send(mask)), 0);
  EXPECT_TRUE(session.sawMask()) << "the warm-up did not finish in 10 s";
  if (!laterConfigs.empty()) {
    session.setConfigs(laterConfigs);
    send(mask);
    WaitForWarmup(send, 10000, mask, send(mask));  // a new size warms up again
  }
  if (resize) {  // the module initialises again for another frame size
    I420Image other = Grey(64, 48, 90);
    session.process(other, mask);
  }
  for (int pass = 0; pass < 3; ++pass) send(mask);
  return mask;
}

}  // namespace

// "prefer_efficiency" chooses the 224x224 network. It must hold whether the
// host gives it before the first frame (the module's initialisation puts the
// network back to 320x224), while frames run (the module warms up again) or
// across a change of frame size (the module initialises again).
TEST(ModuleEndToEnd, PreferEfficiencyHoldsFromStartAndMidStream) {
  I420Image frame;
  ASSERT_TRUE(OpenDemoSource()->next(frame));
  const std::vector<uint8_t> net224 = PipelineMask(frame, 224);
  const std::vector<uint8_t> net320 = PipelineMask(frame, 320);
  ASSERT_NE(net224, net320) << "the frame cannot tell the network sizes apart";

  const std::string noFlow = "{\"enable\":true,\"enable_optical_flow\":false";
  EXPECT_TRUE(SessionMask(frame, noFlow + "}") == net320);
  EXPECT_TRUE(SessionMask(frame, noFlow + ",\"prefer_efficiency\":true}") == net224);
  EXPECT_TRUE(SessionMask(frame, noFlow + "}", "{\"prefer_efficiency\":true}") == net224);
  EXPECT_TRUE(SessionMask(frame, noFlow + ",\"prefer_efficiency\":true}",
                          "{\"prefer_efficiency\":false}") == net320);
  EXPECT_TRUE(SessionMask(frame, noFlow + ",\"prefer_efficiency\":true}", "", true) == net224);
}

// Two sessions of one process share the loaded module; closing one leaves
// the other working, and a third can open afterwards.
TEST(ModuleEndToEnd, SessionsShareTheModule) {
  std::string error;
  ModuleSession a, b, c;
  ASSERT_TRUE(a.open(TAVRO_MODULE_PATH, "{}", &error)) << error;
  ASSERT_TRUE(b.open(TAVRO_MODULE_PATH, "{}", &error)) << error;
  a.close();
  ASSERT_TRUE(c.open(TAVRO_MODULE_PATH, "{}", &error)) << error;
  I420Image frame = Grey(32, 32, 80);
  std::vector<uint8_t> mask;
  EXPECT_EQ(b.process(frame, mask), 0);
  EXPECT_EQ(c.process(frame, mask), 0);
  EXPECT_EQ(mask.size(), 32u * 32u);
}
