#include "host/backdrop_picture.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace tavro_host {

namespace {

// A JPEG ends with the marker FF D9 (a few bytes of padding may follow).
bool JpegIsWhole(const std::vector<char>& bytes) {
  const size_t from = bytes.size() > 64 ? bytes.size() - 64 : 0;
  for (size_t i = bytes.size(); i-- > from + 1;)
    if (uint8_t(bytes[i - 1]) == 0xFF && uint8_t(bytes[i]) == 0xD9) return true;
  return false;
}

}  // namespace

bool ReadPicture(const std::string& path, cv::Mat* picture, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) bytes.clear();
  if (bytes.empty()) {
    *error = "cannot read the picture " + path;
    return false;
  }
  const bool jpeg = bytes.size() > 2 && uint8_t(bytes[0]) == 0xFF && uint8_t(bytes[1]) == 0xD8;
  if (jpeg && !JpegIsWhole(bytes)) {
    *error = "the picture " + path + " is cut short (a JPEG without its end)";
    return false;
  }
  cv::Mat decoded = cv::imdecode(cv::Mat(1, int(bytes.size()), CV_8UC1, bytes.data()),
                                 cv::IMREAD_UNCHANGED);
  if (decoded.empty()) {
    *error = "cannot decode the picture " + path;
    return false;
  }
  if (decoded.depth() != CV_8U) decoded.convertTo(decoded, CV_8U, 1.0 / 256);
  if (decoded.channels() == 1) cv::cvtColor(decoded, decoded, cv::COLOR_GRAY2BGR);
  *picture = decoded;
  return true;
}

void BackdropPicture::set(const cv::Mat& picture, int width, int height) {
  width_ = width;
  height_ = height;
  alpha_.clear();
  if (picture.empty() || width <= 0 || height <= 0) {
    image_ = I420Image();
    planes_ = PlanarFrame();
    return;
  }
  // Scaled to the even size at or above the frame's, so the chroma covers
  // (width + 1) / 2 columns.
  const int ew = (width + 1) & ~1, eh = (height + 1) & ~1;
  cv::Mat scaled;
  cv::resize(picture, scaled, cv::Size(ew, eh), 0, 0,
             ew < picture.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
  cv::Mat bgr = scaled;
  if (scaled.channels() == 4) {
    cv::Mat a;
    cv::extractChannel(scaled, a, 3);
    double lowest = 255;
    cv::minMaxLoc(a, &lowest);
    if (lowest < 255) {
      alpha_.resize(size_t(width) * height);
      for (int y = 0; y < height; ++y)
        std::copy_n(a.ptr<uint8_t>(y), width, alpha_.data() + size_t(y) * width);
    }
    cv::cvtColor(scaled, bgr, cv::COLOR_BGRA2BGR);
  }
  image_ = BgrToI420(bgr);
  planes_.plane[0] = Plane{image_.y(), width, height, ew};
  planes_.plane[1] = Plane{image_.u(), (width + 1) / 2, (height + 1) / 2, ew / 2};
  planes_.plane[2] = Plane{image_.v(), (width + 1) / 2, (height + 1) / 2, ew / 2};
}

void ArgbToYuva(uint32_t argb, uint8_t yuva[4]) {
  const int r = (argb >> 16) & 255, g = (argb >> 8) & 255, b = argb & 255;
  const auto clip = [](int v) { return uint8_t(std::clamp(v, 0, 255)); };
  yuva[0] = clip(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
  yuva[1] = clip(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
  yuva[2] = clip(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
  yuva[3] = uint8_t(argb >> 24);
}

bool ParseColour(const std::string& text, uint8_t yuva[4]) {
  static const struct {
    const char* name;
    uint32_t argb;
  } kNames[] = {{"black", 0xFF000000}, {"white", 0xFFFFFFFF}, {"green", 0xFF00B140},
                {"blue", 0xFF0047BB}, {"grey", 0xFF808080}, {"gray", 0xFF808080}};
  for (const auto& n : kNames)
    if (text == n.name) {
      ArgbToYuva(n.argb, yuva);
      return true;
    }
  std::string hex;
  if (text.size() > 1 && text[0] == '#') hex = text.substr(1);
  else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) hex = text.substr(2);
  if ((hex.size() != 6 && hex.size() != 8) ||
      !std::all_of(hex.begin(), hex.end(), [](char c) { return std::isxdigit(uint8_t(c)); }))
    return false;
  uint32_t argb = uint32_t(std::strtoul(hex.c_str(), nullptr, 16));
  if (hex.size() == 6) argb |= 0xFF000000u;
  ArgbToYuva(argb, yuva);
  return true;
}

}  // namespace tavro_host
