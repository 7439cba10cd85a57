#include "host/host_backdrop.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace tavro_host {

namespace {

bool IsVideo(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  for (char& c : ext) c = char(std::tolower(uint8_t(c)));
  static const char* kVideo[] = {".y4m", ".mp4", ".avi", ".mkv", ".webm", ".mov", ".m4v"};
  return std::find(std::begin(kVideo), std::end(kVideo), ext) != std::end(kVideo);
}

}  // namespace

PlanarFrame Planes(I420Image& f) {
  PlanarFrame p;
  p.plane[0] = {f.y(), f.width, f.height, f.width};
  p.plane[1] = {f.u(), f.chromaWidth(), f.chromaHeight(), f.chromaWidth()};
  p.plane[2] = {f.v(), f.chromaWidth(), f.chromaHeight(), f.chromaWidth()};
  return p;
}


bool HostBackdrop::open(const std::string& source, const CompositeSettings& settings,
                        std::string* error) {
  source_ = source;
  compositor_.setSettings(settings);
  backdrop_ = Backdrop();
  if (source == "blur") return true;
  if (ParseColour(source, backdrop_.colour)) return true;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(source, ec)) {
    *error = "--background " + source + ": not blur, a colour, or a file";
    return false;
  }
  if (IsVideo(source)) {
    isVideo_ = true;
    video_ = OpenFrameSource(source, error);
    if (!video_) {
      *error = "--background: " + *error;
      return false;
    }
    return true;
  }
  if (!ReadPicture(source, &picture_, error)) {
    *error = "--background: " + *error;
    return false;
  }
  return true;
}

// The next frame of the background video at the frame's size; the video
// starts again at its end.
bool HostBackdrop::nextVideoFrame(int width, int height, std::string* error) {
  I420Image frame;
  if (!video_->next(frame)) {
    video_ = OpenFrameSource(source_, error);
    if (!video_ || !video_->next(frame)) {
      *error = "--background " + source_ + ": no frame to show";
      return false;
    }
  }
  scaled_.set(I420ToBgr(frame), width, height);
  return true;
}

bool HostBackdrop::apply(I420Image& frame, const std::vector<uint8_t>& mask,
                         std::string* error) {
  if (mask.size() != frame.lumaSize()) return true;
  if (isVideo_) {
    if (!nextVideoFrame(frame.width, frame.height, error)) return false;
  } else if (!picture_.empty() && (scaled_.empty() || scaled_.width() != frame.width ||
                                   scaled_.height() != frame.height)) {
    scaled_.set(picture_, frame.width, frame.height);
  }
  if (!scaled_.empty()) {
    backdrop_.picture = &scaled_.planes();
    backdrop_.pictureAlpha = scaled_.alpha();
  }
  compositor_.composite(Planes(frame), mask.data(), frame.width, backdrop_);
  return true;
}

}  // namespace tavro_host
