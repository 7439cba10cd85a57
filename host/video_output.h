// One output video: colour frames or grey masks, written as Y4M (.y4m) or
// through OpenCV's video writer (.mp4, .avi, ...); "-" is Y4M on standard
// output. Opened on the first frame;
// later frames of another size are scaled to the first size.
#pragma once

#include <memory>
#include <string>

#include <opencv2/videoio.hpp>

#include "host/i420_image.h"
#include "host/y4m.h"

namespace tavro_host {

class VideoOutput {
 public:
  VideoOutput(std::string path, double fps, bool grey);
  ~VideoOutput();

  bool writeFrame(const I420Image& frame);
  bool writeMask(const uint8_t* mask, int width, int height);
  // False once opening or writing failed; error() says why.
  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  int framesWritten() const { return frames_; }

 private:
  bool openFor(int width, int height);
  bool writeBgr(const cv::Mat& bgr);

  std::string path_;
  double fps_;
  bool grey_;
  bool y4m_;
  int width_ = 0, height_ = 0;
  bool opened_ = false;
  Y4mWriter y4mWriter_;
  cv::VideoWriter cvWriter_;
  std::string error_;
  int frames_ = 0;
};

}  // namespace tavro_host
