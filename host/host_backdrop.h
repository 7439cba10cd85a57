// What tavro-host puts behind the person with --background: the frame's own
// background blurred, a colour, a picture or a video (looped), composited
// from the module's mask by the shared compositor.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "host/backdrop_picture.h"
#include "host/composite/compositor.h"
#include "host/frame_source.h"
#include "host/i420_image.h"

namespace tavro_host {

// The planes of an I420 image as the compositor takes them.
PlanarFrame Planes(I420Image& f);

class HostBackdrop {
 public:
  // source: "blur", a colour (#RRGGBB, #AARRGGBB, a name), a picture file, or
  // a video or .y4m file. False with *error set when it cannot be used.
  bool open(const std::string& source, const CompositeSettings& settings, std::string* error);
  // Puts frame's person (mask: its luma size) over the backdrop, in place.
  // False with *error set when the video behind cannot be read.
  bool apply(I420Image& frame, const std::vector<uint8_t>& mask, std::string* error);

 private:
  bool nextVideoFrame(int width, int height, std::string* error);

  std::string source_;
  Compositor compositor_;
  Backdrop backdrop_;
  cv::Mat picture_;
  BackdropPicture scaled_;
  std::unique_ptr<FrameSource> video_;
  bool isVideo_ = false;
};

}  // namespace tavro_host
