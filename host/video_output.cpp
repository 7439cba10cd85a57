#include "host/video_output.h"

#include <cctype>
#include <filesystem>

#include <opencv2/imgproc.hpp>

namespace tavro_host {

namespace {
std::string Extension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}
}  // namespace

VideoOutput::VideoOutput(std::string path, double fps, bool grey)
    : path_(std::move(path)), fps_(fps > 0 ? fps : 30.0), grey_(grey),
      y4m_(path_ == "-" || Extension(path_) == ".y4m") {}

VideoOutput::~VideoOutput() {
  if (cvWriter_.isOpened()) cvWriter_.release();
}

bool VideoOutput::openFor(int width, int height) {
  if (opened_) return ok();
  opened_ = true;
  width_ = width;
  height_ = height;
  if (y4m_) {
    if (!y4mWriter_.open(path_, width, height, fps_, grey_))
      error_ = "cannot write " + path_;
  } else {
    const std::string ext = Extension(path_);
    const int fourcc = ext == ".avi" ? cv::VideoWriter::fourcc('M', 'J', 'P', 'G')
                                     : cv::VideoWriter::fourcc('m', 'p', '4', 'v');
    if (!cvWriter_.open(path_, fourcc, fps_, cv::Size(width, height), true))
      error_ = "cannot open a video writer for " + path_ +
               " (use .y4m, .mp4 or .avi)";
  }
  return ok();
}

bool VideoOutput::writeBgr(const cv::Mat& bgr) {
  cv::Mat sized = bgr;
  if (bgr.cols != width_ || bgr.rows != height_)
    cv::resize(bgr, sized, cv::Size(width_, height_), 0, 0, cv::INTER_AREA);
  cvWriter_.write(sized);
  ++frames_;
  return true;
}

bool VideoOutput::writeFrame(const I420Image& frame) {
  if (!openFor(frame.width, frame.height)) return false;
  if (!y4m_) return writeBgr(I420ToBgr(frame));
  if (frame.width == width_ && frame.height == height_) {
    if (!y4mWriter_.write(frame)) error_ = "write failed: " + path_;
  } else {
    cv::Mat sized;
    cv::resize(I420ToBgr(frame), sized, cv::Size(width_, height_), 0, 0, cv::INTER_AREA);
    if (!y4mWriter_.write(BgrToI420(sized))) error_ = "write failed: " + path_;
  }
  if (ok()) ++frames_;
  return ok();
}

bool VideoOutput::writeMask(const uint8_t* mask, int width, int height) {
  if (!openFor(width, height)) return false;
  cv::Mat grey(height, width, CV_8UC1, const_cast<uint8_t*>(mask));
  if (!y4m_) {
    cv::Mat bgr;
    cv::cvtColor(grey, bgr, cv::COLOR_GRAY2BGR);
    return writeBgr(bgr);
  }
  cv::Mat sized = grey;
  if (width != width_ || height != height_)
    cv::resize(grey, sized, cv::Size(width_, height_), 0, 0, cv::INTER_LINEAR);
  if (!y4mWriter_.writeGrey(sized.ptr<uint8_t>(0))) error_ = "write failed: " + path_;
  if (ok()) ++frames_;
  return ok();
}

}  // namespace tavro_host
