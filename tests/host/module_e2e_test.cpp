// Loads the built module through the stand-in SDK, as a host application
// does, and runs frames through its filter.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/i420_image.h"
#include "host/module_session.h"

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
