// tavro-eval: runs images (or a frame sequence) through the matting pipeline
// and scores the masks against ground truth. The last line printed is
// "mean IoU: 0.xxxx over N images".
#include <cstdio>
#include <vector>

#include <opencv2/imgcodecs.hpp>

#include "matting/matting_frame.h"
#include "tools/eval/eval_images.h"
#include "tools/eval/eval_options.h"

using namespace tavro_eval;

int main(int argc, char** argv) {
  EvalOptions opts;
  if (!ParseOptions(argc, argv, opts)) return 2;
  const std::vector<Sample> samples = FindSamples(opts.images, opts.masks, opts.list);

  FILE* csv = nullptr;
  if (!opts.csv.empty()) {
    csv = std::fopen(opts.csv.c_str(), "w");
    if (!csv) {
      std::fprintf(stderr, "cannot write %s\n", opts.csv.c_str());
      return 2;
    }
    std::fprintf(csv, "stem,iou\n");
  }

  TavroMatting::MattingFrame* frame =
      TavroMatting::CreateMattingFrame(opts.workWidth, opts.workHeight);
  if (!frame) {
    std::fprintf(stderr, "cannot create the matting pipeline\n");
    return 1;
  }
  std::fprintf(stderr, "work size %dx%d, optical flow %s, media filter %s, %s\n",
               opts.workWidth, opts.workHeight, opts.opticalFlow ? "on" : "off",
               opts.mediaFilter ? "on" : "off", opts.sequence ? "sequence" : "stills");

  double sum = 0.0;
  int count = 0;
  bool first = true;
  I420Image img;
  std::vector<uint8_t> mask, truth;
  for (const Sample& s : samples) {
    if (!LoadI420(s.imagePath, img)) {
      std::fprintf(stderr, "cannot read %s, skipped\n", s.imagePath.c_str());
      continue;
    }
    if (!LoadMask(s.maskPath, img.width, img.height, truth)) {
      std::fprintf(stderr, "cannot read %s, skipped\n", s.maskPath.c_str());
      continue;
    }
    mask.assign(size_t(img.width) * img.height, 0);
    const int cw = img.width / 2, ch = img.height / 2;
    const TavroMatting::PlanarImage planar{{img.y(), img.u(), img.v()},
                                           {img.width, cw, cw},
                                           {img.height, ch, ch},
                                           {img.width, cw, cw}};
    const TavroMatting::MaskView view{mask.data(), img.width, img.height};
    // Stills each start afresh; a sequence resets only on its first frame.
    const int reset = (!opts.sequence || first) ? 1 : 0;
    TavroMatting::MattingSettings settings = TavroMatting::MakeMattingSettings(
        opts.workWidth, opts.workHeight, reset, opts.opticalFlow, opts.mediaFilter);
    settings.switches.refine_edges = opts.refineEdges;
    first = false;
    if (TavroMatting::ProcessMattingFrame(frame, &planar, &view, &settings) != 0) {
      std::fprintf(stderr, "pipeline failed on %s, skipped\n", s.stem.c_str());
      continue;
    }
    const double iou = MaskIoU(mask.data(), truth.data(), mask.size());
    if (csv) std::fprintf(csv, "%s,%.6f\n", s.stem.c_str(), iou);
    if (!opts.maskOut.empty()) {
      // The module's own mask bytes, for figures beyond IoU (edges, soft band).
      const cv::Mat m(img.height, img.width, CV_8UC1, mask.data());
      if (!cv::imwrite(opts.maskOut + "/" + s.stem + ".png", m))
        std::fprintf(stderr, "cannot write the mask of %s\n", s.stem.c_str());
    }
    sum += iou;
    ++count;
  }
  TavroMatting::DestroyMattingFrame(frame);
  if (csv) std::fclose(csv);
  std::fflush(stderr);
  std::printf("mean IoU: %.4f over %d images\n", count ? sum / count : 0.0, count);
  std::fflush(stdout);
  return count ? 0 : 1;
}
