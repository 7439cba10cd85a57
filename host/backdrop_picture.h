// Pictures and colours for behind the person, made ready for the
// compositor (host/composite/compositor.h) at a frame's size. Shared by
// tavro-host and the GStreamer element.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "host/composite/plane.h"
#include "host/i420_image.h"

namespace tavro_host {

// Reads a picture file with its transparency (BGR or BGRA). False with
// *error set when it cannot be read or is cut short (a JPEG without its end
// marker, which the decoder would fill with grey).
bool ReadPicture(const std::string& path, cv::Mat* picture, std::string* error);

// A picture scaled to a frame's size: its I420 planes (chroma of
// (width + 1) / 2 x (height + 1) / 2, which covers both the module's and
// GStreamer's layouts) and, when it has any transparency, its opacity.
class BackdropPicture {
 public:
  // picture: BGR or BGRA; an empty picture makes an empty backdrop.
  void set(const cv::Mat& picture, int width, int height);
  bool empty() const { return image_.data.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }
  const PlanarFrame& planes() const { return planes_; }
  // width x height, or null when the picture is opaque.
  const uint8_t* alpha() const { return alpha_.empty() ? nullptr : alpha_.data(); }

 private:
  I420Image image_;
  PlanarFrame planes_;
  std::vector<uint8_t> alpha_;
  int width_ = 0, height_ = 0;
};

// "#RRGGBB", "#AARRGGBB", "0xRRGGBB" or a few names (black, white, green,
// blue, grey) to Y, U, V and opacity (BT.601 studio range). False when the
// text is none of these.
bool ParseColour(const std::string& text, uint8_t yuva[4]);
// 0xAARRGGBB to Y, U, V and opacity.
void ArgbToYuva(uint32_t argb, uint8_t yuva[4]);

}  // namespace tavro_host
