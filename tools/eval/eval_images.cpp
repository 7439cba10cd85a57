#include "tools/eval/eval_images.h"

#include <libyuv/convert.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace fs = std::filesystem;

namespace tavro_eval {

namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return s;
}

bool IsImage(const fs::path& p) {
  const std::string e = Lower(p.extension().string());
  return e == ".jpg" || e == ".jpeg" || e == ".png";
}

}  // namespace

bool LoadI420(const std::string& path, I420Image& out) {
  cv::Mat bgr;
  try {
    bgr = cv::imread(path, cv::IMREAD_COLOR);
  } catch (...) {
    return false;
  }
  if (bgr.empty() || bgr.cols < 2 || bgr.rows < 2) return false;
  out.width = bgr.cols & ~1;
  out.height = bgr.rows & ~1;
  out.data.assign(size_t(out.width) * out.height * 3 / 2, 0);
  libyuv::RGB24ToI420(bgr.data, int(bgr.step), out.y(), out.width, out.u(),
                      out.width / 2, out.v(), out.width / 2, out.width, out.height);
  return true;
}

bool LoadMask(const std::string& path, int width, int height,
              std::vector<uint8_t>& out) {
  cv::Mat m;
  try {
    m = cv::imread(path, cv::IMREAD_GRAYSCALE);
  } catch (...) {
    return false;
  }
  if (m.empty()) return false;
  if (m.cols >= width && m.rows >= height && m.cols - width <= 1 && m.rows - height <= 1)
    m = m(cv::Rect(0, 0, width, height)).clone();
  else if (m.cols != width || m.rows != height)
    cv::resize(m, m, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
  out.assign(m.data, m.data + size_t(width) * height);
  if (!m.isContinuous()) {
    for (int y = 0; y < height; ++y)
      std::copy(m.ptr<uint8_t>(y), m.ptr<uint8_t>(y) + width, out.begin() + size_t(y) * width);
  }
  return true;
}

std::vector<Sample> FindSamples(const std::string& imageDir,
                                const std::string& maskDir,
                                const std::string& listFile) {
  std::vector<std::pair<std::string, fs::path>> images;  // stem, path
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(imageDir, ec))
    if (entry.is_regular_file() && IsImage(entry.path()))
      images.emplace_back(entry.path().stem().string(), entry.path());
  if (ec) std::fprintf(stderr, "cannot read %s: %s\n", imageDir.c_str(), ec.message().c_str());
  std::sort(images.begin(), images.end());

  std::vector<std::string> wanted;
  if (!listFile.empty()) {
    std::ifstream in(listFile);
    if (!in) std::fprintf(stderr, "cannot read list %s\n", listFile.c_str());
    std::string line;
    while (std::getline(in, line)) {
      while (!line.empty() && std::isspace((unsigned char)line.back())) line.pop_back();
      if (!line.empty()) wanted.push_back(line);
    }
    std::sort(wanted.begin(), wanted.end());
  }

  std::vector<Sample> samples;
  for (const auto& [stem, path] : images) {
    if (!listFile.empty() && !std::binary_search(wanted.begin(), wanted.end(), stem)) continue;
    const fs::path mask = fs::path(maskDir) / (stem + ".png");
    if (!fs::exists(mask, ec)) {
      std::fprintf(stderr, "no mask for %s, skipped\n", stem.c_str());
      continue;
    }
    samples.push_back({stem, path.string(), mask.string()});
  }
  return samples;
}

double MaskIoU(const uint8_t* mask, const uint8_t* truth, size_t n) {
  size_t inter = 0, uni = 0;
  for (size_t i = 0; i < n; ++i) {
    const bool p = mask[i] >= 128, t = truth[i] > 127;
    inter += p && t;
    uni += p || t;
  }
  return uni == 0 ? 1.0 : double(inter) / double(uni);
}

}  // namespace tavro_eval
