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
  // Why next() returned false when the input is damaged (a frame cut
  // short, an image that cannot be read), naming the frame; "" at a clean
  // end.
  virtual std::string error() const { return ""; }
  // Whether progress can be shown (a file or folder of known length).
  bool hasKnownLength() const { return total() > 0; }
};

// "--demo" input.
std::unique_ptr<FrameSource> OpenDemoSource();
// Any other input: a .y4m file, a folder of images, "webcam:N", or a video
// file OpenCV can decode. Null with *error set when it cannot be opened.
// verbose: let the video decoders' own messages through.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& input, std::string* error,
                                             bool verbose = false);

}  // namespace tavro_host
