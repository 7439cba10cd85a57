// A video file played behind the person: a small pipeline of its own
// (filesrc, decodebin, conversion and scaling to the frame's size, appsink)
// that gives one picture per frame of the element, from the start again at
// its end.
#pragma once

#include <gst/gst.h>

#include <string>

#include <opencv2/core.hpp>

class BackgroundVideo {
 public:
  BackgroundVideo() = default;
  ~BackgroundVideo() { close(); }
  BackgroundVideo(const BackgroundVideo&) = delete;
  BackgroundVideo& operator=(const BackgroundVideo&) = delete;

  // Starts playing path at width x height. False with *error set when it
  // cannot be played.
  bool open(const std::string& path, int width, int height, std::string* error);
  bool isOpen() const { return pipeline_ != nullptr; }
  const std::string& path() const { return path_; }
  int width() const { return width_; }
  int height() const { return height_; }
  // The next picture (BGR, width x height). False with *error set when none
  // comes within a second.
  bool next(cv::Mat* bgr, std::string* error);
  void close();

 private:
  GstElement* pipeline_ = nullptr;
  GstElement* sink_ = nullptr;
  std::string path_;
  int width_ = 0, height_ = 0;
};
