// A real clip through the adapter with optical flow and the media filter on;
// run under TSan and ASan to check the worker hand-shake and the buffers.
#include <gtest/gtest.h>

#include <libyuv/convert.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "extension/matting_adapter.h"

namespace {

// The datasets live beside the repository (../shared/data from its root);
// TAVRO_DATA points elsewhere.
std::string ClipFolder() {
  if (const char* data = std::getenv("TAVRO_DATA"))
    return std::string(data) + "/video/tennis/images";
  const char* src = std::getenv("TAVRO_SOURCE_DIR");
  return std::string(src ? src : ".") + "/../shared/data/video/tennis/images";
}

// Decodes a jpg straight to I420 with libyuv (no image library threads in
// the way of the race detector).
bool LoadI420(const std::string& path, int& w, int& h, std::vector<uint8_t>& i420) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> jpg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (jpg.empty() || libyuv::MJPGSize(jpg.data(), jpg.size(), &w, &h) != 0) return false;
  if (w < 2 || h < 2 || (w & 1) || (h & 1)) return false;
  i420.resize(size_t(w) * h * 3 / 2);
  uint8_t* y = i420.data();
  uint8_t* u = y + w * h;
  uint8_t* v = u + w * h / 4;
  return libyuv::MJPGToI420(jpg.data(), jpg.size(), y, w, u, w / 2, v, w / 2, w, h, w, h) == 0;
}

}  // namespace

TEST(ClipThroughPipeline, ThirtyFramesWithFlowAndMediaFilter) {
  struct stat st;
  const std::string clip = ClipFolder();
  if (stat(clip.c_str(), &st) != 0) GTEST_SKIP() << "clip not present: " << clip;
  tavro::MattingAdapter adapter;
  tavro::SegmentationConfig cfg;
  cfg.settings.enable_optical_flow = true;
  cfg.settings.enable_media_filter = true;
  bool initialised = false;
  int processed = 0;
  std::vector<uint8_t> i420, mask;
  for (int i = 0; i < 30; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/%05d.jpg", i);
    int w = 0, h = 0;
    if (!LoadI420(clip + name, w, h, i420)) continue;
    if (!initialised) {
      ASSERT_EQ(adapter.init(w, h, w, h), 0);
      adapter.setConfig(cfg);
      ASSERT_EQ(adapter.warmup(), 0);
      initialised = true;
    }
    // The last frames also composite the blurred background.
    cfg.settings.bokeh = i >= 25;
    adapter.setConfig(cfg);
    tavro::FrameImage img;
    img.width = w;
    img.height = h;
    img.strideY = w;
    img.strideU = img.strideV = w / 2;
    img.dataY = i420.data();
    img.dataU = img.dataY + w * h;
    img.dataV = img.dataU + w * h / 4;
    mask.assign(size_t(w) * h, 0);
    tavro::MaskBuffer m;
    m.width = w;
    m.height = h;
    m.data = mask.data();
    ASSERT_EQ(adapter.process(img, m), 0) << "frame " << i;
    if (cfg.settings.bokeh) {
      for (uint8_t b : mask) ASSERT_EQ(b, 255);
    }
    ++processed;
  }
  EXPECT_EQ(processed, 30);
}
