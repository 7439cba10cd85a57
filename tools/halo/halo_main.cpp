// tavro-halo: the halo of a background blur, measured where the truth is
// exact. Each portrait still (with its hand-drawn mask) is pasted over a
// people-free scene at 1280 x 720; the matting pipeline makes its mask of
// the composite; the module's bokeh (its blur blended through the mask)
// and the host's masked blur (host/composite) each replace the background.
// In the band 30 px wide just outside the pipeline's mask edge, the result
// is compared with the same blur of the scene alone (the true background):
// the mean absolute error per RGB channel is the halo.
//
// Usage: tavro-halo DATA_DIR [--count N] [--crops DIR]
//   DATA_DIR: the folder with portrait/ and scenes/ (../shared/data).
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "blend/blend_i420.h"
#include "host/composite/compositor.h"
#include "host/i420_image.h"
#include "matting/matting_frame.h"

using tavro_host::I420Image;

namespace {

constexpr int kW = 1280, kH = 720, kBand = 30;

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

TavroMatting::PlanarImage Planar(I420Image& f) {
  const int w = f.width, h = f.height;
  return {{f.y(), f.u(), f.v()}, {w, w / 2, w / 2}, {h, h / 2, h / 2}, {w, w / 2, w / 2}};
}

tavro_host::PlanarFrame Frame(I420Image& f) {
  tavro_host::PlanarFrame p;
  p.plane[0] = {f.y(), f.width, f.height, f.width};
  p.plane[1] = {f.u(), f.chromaWidth(), f.chromaHeight(), f.chromaWidth()};
  p.plane[2] = {f.v(), f.chromaWidth(), f.chromaHeight(), f.chromaWidth()};
  return p;
}

// The pipeline's mask of frame after three passes (a still: the flow has
// nothing to add).
std::vector<uint8_t> Mask(I420Image frame) {
  using namespace TavroMatting;
  MattingFrame* matting = CreateMattingFrame(320, 224);
  const PlanarImage image = Planar(frame);
  std::vector<uint8_t> mask(frame.lumaSize());
  const MaskView view{mask.data(), frame.width, frame.height};
  for (int pass = 0; pass < 3; ++pass) {
    const MattingSettings settings =
        TavroMatting::MakeMattingSettings(320, 224, pass == 0 ? 1 : 0, true, false);
    ProcessMattingFrame(matting, &image, &view, &settings);
  }
  DestroyMattingFrame(matting);
  return mask;
}

// The module's bokeh as its adapter makes it.
I420Image Bokeh(const I420Image& frame, const std::vector<uint8_t>& mask) {
  TavroMatting::MattingFrame* matting = TavroMatting::CreateMattingFrame(320, 224);
  I420Image src = frame, blurred(frame.width, frame.height), out = frame;
  const TavroMatting::PlanarImage s = Planar(src), d = Planar(blurred);
  TavroMatting::BlurMattingImage(matting, &s, &d);
  TavroMatting::DestroyMattingFrame(matting);
  const int w = frame.width, cw = frame.chromaWidth();
  tavro::blendI420(src.y(), w, src.u(), cw, src.v(), cw, blurred.y(), w, blurred.u(), cw,
                   blurred.v(), cw, mask.data(), w, out.y(), w, out.u(), cw, out.v(), cw, w,
                   frame.height);
  return out;
}

I420Image Composite(const I420Image& frame, const std::vector<uint8_t>& mask) {
  I420Image out = frame;
  tavro_host::Compositor compositor;
  compositor.setSettings(tavro_host::CompositeSettings());
  compositor.composite(Frame(out), mask.data(), out.width, tavro_host::Backdrop());
  return out;
}

// Mean absolute RGB error between a and b over the band outside the mask.
double BandError(const I420Image& a, const I420Image& b, const cv::Mat& band) {
  cv::Mat diff;
  cv::absdiff(tavro_host::I420ToBgr(a), tavro_host::I420ToBgr(b), diff);
  const cv::Scalar m = cv::mean(diff, band);
  return (m[0] + m[1] + m[2]) / 3;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tavro-halo DATA_DIR [--count N] [--crops DIR]\n");
    return 2;
  }
  const std::string data = argv[1];
  int count = 40;
  std::string crops;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--count") count = std::atoi(argv[i + 1]);
    else if (a == "--crops") crops = argv[i + 1];
  }
  std::vector<std::string> stems;
  for (const std::string& s : Lines(data + "/portrait/val.txt"))
    if (s.rfind("eg1800", 0) == 0) stems.push_back(s);
  const std::vector<std::string> scenes = Lines(data + "/scenes/val.txt");
  if (stems.empty() || scenes.empty()) {
    std::fprintf(stderr, "tavro-halo: no portrait or scene lists under %s\n", data.c_str());
    return 1;
  }
  double bokehSum = 0, blurSum = 0;
  int n = 0;
  for (int i = 0; i < count && i < int(stems.size()); ++i) {
    const cv::Mat person = cv::imread(data + "/portrait/images/" + stems[i] + ".jpg");
    const cv::Mat truth = cv::imread(data + "/portrait/masks/" + stems[i] + ".png",
                                     cv::IMREAD_GRAYSCALE);
    const cv::Mat scene = cv::imread(data + "/scenes/" + scenes[(i * 7) % scenes.size()]);
    if (person.empty() || truth.empty() || scene.empty()) continue;
    // The person at the frame's height, centred; the scene fills the frame.
    const int pw = person.cols * kH / person.rows;
    cv::Mat background, p, t;
    cv::resize(scene, background, cv::Size(kW, kH), 0, 0, cv::INTER_LINEAR);
    cv::resize(person, p, cv::Size(pw, kH), 0, 0, cv::INTER_LINEAR);
    cv::resize(truth, t, cv::Size(pw, kH), 0, 0, cv::INTER_NEAREST);
    cv::Mat composite = background.clone();
    const cv::Rect at((kW - pw) / 2, 0, pw, kH);
    p.copyTo(composite(at), t > 127);

    const I420Image frame = tavro_host::BgrToI420(composite);
    const I420Image trueBackground = tavro_host::BgrToI420(background);
    const std::vector<uint8_t> mask = Mask(frame);
    const std::vector<uint8_t> none(mask.size(), 0);
    cv::Mat m(kH, kW, CV_8UC1, const_cast<uint8_t*>(mask.data())), dist;
    cv::distanceTransform(m < 128, dist, cv::DIST_L2, 3);
    const cv::Mat band = (m < 128) & (dist <= kBand);
    if (cv::countNonZero(band) == 0) continue;

    const I420Image bokeh = Bokeh(frame, mask), bokehTruth = Bokeh(trueBackground, none);
    const I420Image blur = Composite(frame, mask), blurTruth = Composite(trueBackground, none);
    const double eb = BandError(bokeh, bokehTruth, band), en = BandError(blur, blurTruth, band);
    std::printf("%-14s bokeh %6.2f  blur %6.2f\n", stems[i].c_str(), eb, en);
    bokehSum += eb;
    blurSum += en;
    ++n;
    if (!crops.empty() && i < 4) {
      // Hair and shoulders: the upper 60% of the frame around the person,
      // the bokeh on the left, the masked blur on the right, at half size.
      const cv::Rect crop(std::max(0, at.x - 120), 0, std::min(kW, pw + 240), kH * 6 / 10);
      cv::Mat row, small;
      cv::hconcat(std::vector<cv::Mat>{tavro_host::I420ToBgr(bokeh)(crop),
                                       tavro_host::I420ToBgr(blur)(crop)}, row);
      cv::resize(row, small, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
      cv::imwrite(crops + "/halo_" + stems[i] + ".png", small);
    }
  }
  if (n == 0) return 1;
  std::printf("%d stills, mean band error (RGB levels): bokeh %.2f, masked blur %.2f, ratio %.2f\n",
              n, bokehSum / n, blurSum / n, blurSum / bokehSum);
  return 0;
}
