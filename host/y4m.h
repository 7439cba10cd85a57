// YUV4MPEG2 files: 4:2:0 colour (C420jpeg and its siblings) and grey (C mono).
// On disk a 4:2:0 chroma plane is ((w + 1) / 2) x ((h + 1) / 2); in memory
// it is (w / 2) x (h / 2): odd edges are dropped on reading and replicated
// on writing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "host/i420_image.h"

namespace tavro_host {

class Y4mReader {
 public:
  ~Y4mReader();
  // False with *error set when the file cannot be read as 4:2:0 or mono.
  bool open(const std::string& path, std::string* error);
  // Next frame (mono frames get neutral chroma); false at the end, and on a
  // frame that is cut short or has no FRAME header (error() says which).
  bool read(I420Image& frame);
  // Why the last read failed ("" at a clean end of the file).
  const std::string& error() const { return error_; }

  int width() const { return width_; }
  int height() const { return height_; }
  double fps() const { return fps_; }
  bool mono() const { return mono_; }

 private:
  std::FILE* file_ = nullptr;
  int width_ = 0, height_ = 0;
  double fps_ = 30.0;
  bool mono_ = false;
  int frames_ = 0;  // frames read so far
  std::string error_;
};

class Y4mWriter {
 public:
  ~Y4mWriter();
  // mono: grey frames (writeGrey); otherwise colour frames (write). A path
  // of "-" writes to standard output.
  bool open(const std::string& path, int width, int height, double fps,
            bool mono);
  bool write(const I420Image& frame);
  bool writeGrey(const uint8_t* pixels);
  void close();

  int width() const { return width_; }
  int height() const { return height_; }

 private:
  std::FILE* file_ = nullptr;
  int width_ = 0, height_ = 0;
  bool mono_ = false;
};

}  // namespace tavro_host
