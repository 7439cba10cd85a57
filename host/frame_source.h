// Where the host program's frames come from: a Y4M file, any video OpenCV
// can read, a folder of images, a webcam ("webcam:N") or the built-in demo.
#pragma once

#include <memory>
#include <string>

#include "host/i420_image.h"

namespace tavro_host {

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // The next frame; false at the end of the input.
  virtual bool next(I420Image& frame) = 0;
  // Number of frames when known, else -1.
  virtual int total() const { return -1; }
  virtual double fps() const { return 30.0; }
  // Whether progress can be shown (a file or folder of known length).
  bool hasKnownLength() const { return total() > 0; }
};

// "--demo" input.
std::unique_ptr<FrameSource> OpenDemoSource();
// Any other input: a .y4m file, a folder of images, "webcam:N", or a video
// file OpenCV can decode. Null with *error set when it cannot be opened.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& input,
                                             std::string* error);

}  // namespace tavro_host
