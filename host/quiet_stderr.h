// Keeps what third-party code writes to standard error (video decoders'
// messages) out of the way for the life of the object, when asked to.
#pragma once

namespace tavro_host {

class QuietStderr {
 public:
  explicit QuietStderr(bool quiet);
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;  // the real standard error while it is redirected
};

// Asks OpenCV's FFmpeg backend to keep FFmpeg's own log quiet (it may
// write from decoder threads at any time); call before the first capture.
// A value the user set in OPENCV_FFMPEG_LOGLEVEL wins.
void QuietDecoderLogs();

}  // namespace tavro_host
