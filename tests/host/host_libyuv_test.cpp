// A host that uses libyuv itself (this program links the system's
// libyuv.so): its scaling calls give the same pixels before the module is
// loaded, while the module runs frames on another thread, and after the
// module is unloaded. The module brings its own libyuv and must neither
// patch nor use the host's.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <libyuv/scale.h>

#include "host/demo_clip.h"
#include "host/i420_image.h"
#include "host/module_session.h"

using namespace tavro_host;

namespace {

// 640x360 -> 300x170, bilinear: takes a row buffer from libyuv's malloc.
std::vector<uint8_t> HostScale() {
  std::vector<uint8_t> src(size_t(640) * 360), dst(size_t(300) * 170);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 31 + i / 640);
  libyuv::ScalePlane(src.data(), 640, 640, 360, dst.data(), 300, 300, 170,
                     libyuv::kFilterBilinear);
  return dst;
}

}  // namespace

TEST(HostLibyuv, ScalesTheSameBeforeWhileAndAfterTheModule) {
  const std::vector<uint8_t> before = HostScale();
  for (int cycle = 0; cycle < 3; ++cycle) {
    ModuleSession session;
    std::string error;
    ASSERT_TRUE(session.open(TAVRO_MODULE_PATH, "{\"enable\":true}", &error)) << error;
    // The host scales on its own thread while the module's video thread,
    // MattingThread and warm-up thread scale theirs.
    std::atomic<bool> stop{false};
    std::thread video([&] {
      std::vector<uint8_t> mask;
      for (int i = 0; !stop.load(); ++i) {
        I420Image frame = BgrToI420(RenderDemoFrame(i % 8, 320, 180));
        session.process(frame, mask);
      }
    });
    for (int i = 0; i < 200; ++i) ASSERT_EQ(HostScale(), before) << "while loaded, call " << i;
    stop = true;
    video.join();
    session.close();
    // After the unload libyuv still allocates through the host's own heap.
    for (int i = 0; i < 20; ++i) ASSERT_EQ(HostScale(), before) << "after unload " << cycle;
    // Other threads of the host too.
    std::thread([&] { EXPECT_EQ(HostScale(), before); }).join();
  }
}
