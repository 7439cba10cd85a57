#include "host/frame_source.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "host/backdrop_picture.h"
#include "host/demo_clip.h"
#include "host/quiet_stderr.h"
#include "host/y4m.h"

namespace tavro_host {

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class DemoSource final : public FrameSource {
 public:
  bool next(I420Image& frame) override {
    if (index_ >= kDemoFrames) return false;
    frame = BgrToI420(RenderDemoFrame(index_++));
    return true;
  }
  int total() const override { return kDemoFrames; }

 private:
  int index_ = 0;
};

class Y4mSource final : public FrameSource {
 public:
  bool open(const std::string& path, std::string* error) {
    if (!reader_.open(path, error)) return false;
    // The length follows from the file size when every frame header is bare.
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec);
    const size_t frameBytes =
        6 + size_t(reader_.width()) * reader_.height() +
        (reader_.mono() ? 0 : 2 * size_t((reader_.width() + 1) / 2) * ((reader_.height() + 1) / 2));
    if (!ec && frameBytes > 0) total_ = static_cast<int>(bytes / frameBytes);
    return true;
  }
  bool next(I420Image& frame) override { return reader_.read(frame); }
  int total() const override { return total_; }
  double fps() const override { return reader_.fps(); }
  std::string error() const override { return reader_.error(); }

 private:
  Y4mReader reader_;
  int total_ = -1;
};

// Video files and cameras through OpenCV. The decoders write their own
// messages to standard error; unless verbose, they are kept out of the way
// while OpenCV decodes, and the source says in one line what went wrong.
class CaptureSource final : public FrameSource {
 public:
  explicit CaptureSource(bool verbose) : verbose_(verbose) {}
  bool openFile(const std::string& path) {
    QuietStderr quiet(!verbose_);
    if (!capture_.open(path)) return false;
    const double n = capture_.get(cv::CAP_PROP_FRAME_COUNT);
    total_ = n > 0 ? static_cast<int>(n) : -1;
    return true;
  }
  bool openCamera(int index) {
    QuietStderr quiet(!verbose_);
    return capture_.open(index);
  }
  bool next(I420Image& frame) override {
    cv::Mat bgr;
    bool ok;
    {
      QuietStderr quiet(!verbose_);
      ok = capture_.read(bgr) && !bgr.empty();
    }
    if (!ok) {
      // A file that ends well before the length its header gives is cut
      // short or damaged.
      if (total_ > 0 && read_ + 2 < total_)
        error_ = "frame " + std::to_string(read_ + 1) + " of " + std::to_string(total_) +
                 " cannot be decoded: the video is cut short or damaged" +
                 (verbose_ ? "" : " (--verbose shows the decoder's messages)");
      return false;
    }
    ++read_;
    frame = BgrToI420(bgr);
    return true;
  }
  std::string error() const override { return error_; }
  int total() const override { return total_; }
  double fps() const override {
    const double f = capture_.get(cv::CAP_PROP_FPS);
    return f > 0 && f < 1000 ? f : 30.0;
  }

 private:
  mutable cv::VideoCapture capture_;
  int total_ = -1;
  int read_ = 0;
  bool verbose_;
  std::string error_;
};

class FolderSource final : public FrameSource {
 public:
  bool open(const std::string& dir, std::string* error) {
    static const char* kExt[] = {".png", ".jpg", ".jpeg", ".bmp", ".tif", ".tiff", ".webp"};
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
      if (!entry.is_regular_file()) continue;
      const std::string ext = Lower(entry.path().extension().string());
      if (std::find(std::begin(kExt), std::end(kExt), ext) != std::end(kExt))
        files_.push_back(entry.path().string());
    }
    std::sort(files_.begin(), files_.end());
    if (ec || files_.empty()) {
      *error = dir + ": no images found";
      return false;
    }
    return true;
  }
  bool next(I420Image& frame) override {
    if (index_ >= files_.size() || !error_.empty()) return false;
    cv::Mat picture;
    std::string why;
    if (!ReadPicture(files_[index_], &picture, &why)) {
      error_ = "frame " + std::to_string(index_ + 1) + ": " + why;
      return false;
    }
    ++index_;
    if (picture.channels() == 4) cv::cvtColor(picture, picture, cv::COLOR_BGRA2BGR);
    frame = BgrToI420(picture);
    return true;
  }
  int total() const override { return static_cast<int>(files_.size()); }
  std::string error() const override { return error_; }

 private:
  std::vector<std::string> files_;
  size_t index_ = 0;
  std::string error_;
};

}  // namespace

std::unique_ptr<FrameSource> OpenDemoSource() {
  return std::unique_ptr<FrameSource>(new DemoSource);
}

std::unique_ptr<FrameSource> OpenFrameSource(const std::string& input, std::string* error,
                                             bool verbose) {
  if (input.compare(0, 7, "webcam:") == 0) {
    const std::string num = input.substr(7);
    if (num.empty() || !std::all_of(num.begin(), num.end(), ::isdigit)) {
      *error = "bad camera index in " + input;
      return nullptr;
    }
    std::unique_ptr<CaptureSource> cam(new CaptureSource(verbose));
    if (!cam->openCamera(std::stoi(num))) {
      *error = "cannot open camera " + num;
      return nullptr;
    }
    return cam;
  }
  std::error_code ec;
  if (fs::is_directory(input, ec)) {
    std::unique_ptr<FolderSource> folder(new FolderSource);
    if (!folder->open(input, error)) return nullptr;
    return folder;
  }
  if (!fs::exists(input, ec)) {
    *error = "no such input: " + input;
    return nullptr;
  }
  if (Lower(fs::path(input).extension().string()) == ".y4m") {
    std::unique_ptr<Y4mSource> y4m(new Y4mSource);
    if (!y4m->open(input, error)) return nullptr;
    return y4m;
  }
  std::unique_ptr<CaptureSource> video(new CaptureSource(verbose));
  if (!video->openFile(input)) {
    *error = "cannot decode " + input +
             (verbose ? "" : " (--verbose shows the decoder's messages)");
    return nullptr;
  }
  return video;
}

}  // namespace tavro_host
