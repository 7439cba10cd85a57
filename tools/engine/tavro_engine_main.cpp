// tavro-engine: runs the built-in network outside the video filter.
//   --info                              print layer/weight/blob/parameter counts
//   --image IMG --size WxH --out M.png  image -> I420 -> work size -> B,G,R -> mask
//   --raw-in F --size WxH --raw-out F   raw B,G,R bytes in, raw mask bytes out
//   --weights FILE.bin                  use these weights instead of the embedded ones
//   --timing                            per-layer timing lines
//   --repeat N                          run N times and print the mean time
#include <libyuv.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "engine/core/net.h"
#include "engine/x86/weight_file.h"
#include "engine/x86/matting_net.h"
#include "model/portrait_tables.h"

namespace {

using TAVROMATTING::Net;

int Usage() {
  std::fprintf(stderr,
               "usage: tavro-engine --info\n"
               "       tavro-engine --image IMG [--size 320x224] --out MASK.png\n"
               "       tavro-engine --raw-in FILE --size WxH --raw-out FILE\n"
               "  options: --weights FILE.bin  --timing  --repeat N\n");
  return 2;
}

bool ParseSize(const std::string& s, int* w, int* h) {
  return std::sscanf(s.c_str(), "%dx%d", w, h) == 2 && *w > 0 && *h > 0 && *w <= 4096 &&
         *h <= 4096;
}

// Image (B,G,R) -> I420 at full size -> bilinear I420 scale -> B,G,R bytes,
// the same path the video filter takes.
bool ImageToWorkBytes(const cv::Mat& img, int w, int h, std::vector<uint8_t>* bgr) {
  const int sw = img.cols, sh = img.rows;
  const int scw = (sw + 1) / 2, sch = (sh + 1) / 2;
  std::vector<uint8_t> src(size_t(sw) * sh + 2 * size_t(scw) * sch);
  uint8_t* sy = src.data();
  uint8_t* su = sy + size_t(sw) * sh;
  uint8_t* sv = su + size_t(scw) * sch;
  if (libyuv::RGB24ToI420(img.data, int(img.step), sy, sw, su, scw, sv, scw, sw, sh)) return false;
  const int dcw = (w + 1) / 2, dch = (h + 1) / 2;
  std::vector<uint8_t> dst(size_t(w) * h + 2 * size_t(dcw) * dch);
  uint8_t* dy = dst.data();
  uint8_t* du = dy + size_t(w) * h;
  uint8_t* dv = du + size_t(dcw) * dch;
  if (libyuv::I420Scale(sy, sw, su, scw, sv, scw, sw, sh, dy, w, du, dcw, dv, dcw, w, h,
                        libyuv::kFilterBilinear))
    return false;
  bgr->resize(size_t(w) * h * 3);
  return libyuv::I420ToRGB24(dy, w, du, dcw, dv, dcw, bgr->data(), w * 3, w, h) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string image, out, rawIn, rawOut, weights;
  int w = 320, h = 224, repeat = 1;
  bool info = false, timing = false, sizeGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto next = [&](std::string* v) {
      if (i + 1 >= argc) return false;
      *v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "--info") {
      info = true;
    } else if (a == "--timing") {
      timing = true;
    } else if (a == "--image" && next(&image)) {
    } else if (a == "--out" && next(&out)) {
    } else if (a == "--raw-in" && next(&rawIn)) {
    } else if (a == "--raw-out" && next(&rawOut)) {
    } else if (a == "--weights" && next(&weights)) {
    } else if (a == "--size" && next(&v)) {
      if (!ParseSize(v, &w, &h)) return Usage();
      sizeGiven = true;
    } else if (a == "--repeat" && next(&v)) {
      repeat = std::atoi(v.c_str());
      if (repeat < 1) return Usage();
    } else {
      return Usage();
    }
  }
  if (!info && image.empty() && rawIn.empty()) return Usage();
  if (!image.empty() && out.empty()) return Usage();
  if (!rawIn.empty() && (rawOut.empty() || !sizeGiven)) return Usage();

  Net* net = TAVROMATTING::CreateNet(0, 0);
  if (!net) return 1;
  std::vector<float> weightStorage;
  if (!weights.empty() && !TAVROMATTING::BindWeightFile(net, weights, &weightStorage)) {
    TAVROMATTING::DestroyNet(net);
    return 1;
  }
  int rc = 0;
  if (info) {
    size_t params = 0;
    for (size_t i = 0; i < TAVROMATTING::model::kPortraitWeightCount; ++i) {
      const auto& r = TAVROMATTING::model::kPortraitWeightRecords[i];
      params += size_t(r.n) * r.h * r.w * r.c;
    }
    std::cout << "layers: " << net->layers.size() << "\n"
              << "weights: " << TAVROMATTING::model::kPortraitWeightCount << "\n"
              << "blobs: " << net->blobs.size() << "\n"
              << "parameters: " << params << std::endl;
  }
  std::vector<uint8_t> bgr;
  if (!image.empty()) {
    cv::Mat img = cv::imread(image, cv::IMREAD_COLOR);
    if (img.empty() || !ImageToWorkBytes(img, w, h, &bgr)) {
      std::cerr << "cannot read " << image << std::endl;
      rc = 1;
    }
  } else if (!rawIn.empty()) {
    std::ifstream f(rawIn, std::ios::binary);
    bgr.assign(size_t(w) * h * 3, 0);
    if (!f.read(reinterpret_cast<char*>(bgr.data()), std::streamsize(bgr.size()))) {
      std::cerr << "cannot read " << w * h * 3 << " bytes from " << rawIn << std::endl;
      rc = 1;
    }
  }
  if (rc == 0 && !bgr.empty()) {
    std::vector<uint8_t> mask(size_t(w) * h, 0);
    TAVROMATTING::RunMattingNet(net, bgr.data(), mask.data(), w, h);  // prepares
    net->timing = timing;
    double total = 0;
    for (int r = 0; r < repeat; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      TAVROMATTING::RunMattingNet(net, bgr.data(), mask.data(), w, h);
      total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                   .count();
      net->timing = false;
    }
    std::cout << "inference " << w << "x" << h << ": " << total / repeat << " ms (mean of "
              << repeat << ")" << std::endl;
    if (!out.empty()) {
      cv::Mat m(h, w, CV_8UC1, mask.data());
      if (!cv::imwrite(out, m)) rc = 1;
    }
    if (!rawOut.empty()) {
      std::ofstream f(rawOut, std::ios::binary);
      if (!f.write(reinterpret_cast<const char*>(mask.data()), std::streamsize(mask.size())))
        rc = 1;
    }
  }
  TAVROMATTING::DestroyNet(net);
  return rc;
}
