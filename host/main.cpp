// tavro-host: a small host application for the segmentation module. It loads
// the module through the stand-in SDK, pushes frames from a file, a folder,
// a camera or the built-in demo clip through the filter, and writes the
// masks, the filtered frames and a contact sheet.
#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "host/contact_sheet.h"
#include "host/flicker_meter.h"
#include "host/frame_source.h"
#include "host/host_options.h"
#include "host/module_session.h"
#include "host/progress_bar.h"
#include "host/video_output.h"

using namespace tavro_host;
using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
  HostOptions opt;
  std::string error;
  if (!ParseHostOptions(argc, argv, &opt, &error)) {
    std::fprintf(stderr, "tavro-host: %s\n%s", error.c_str(), kHostUsage);
    return 2;
  }
  if (opt.help) {
    std::fputs(kHostUsage, stdout);
    return 0;
  }

  std::unique_ptr<FrameSource> source =
      opt.demo ? OpenDemoSource() : OpenFrameSource(opt.input, &error);
  if (!source) {
    std::fprintf(stderr, "tavro-host: %s\n", error.c_str());
    return 1;
  }
  ModuleSession session;
  const std::string module = opt.modulePath.empty() ? DefaultModulePath() : opt.modulePath;
  if (!session.open(module, opt.configs, &error)) {
    std::fprintf(stderr, "tavro-host: %s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "tavro-host: module %s, version %s\n", module.c_str(),
               session.version().c_str());

  std::unique_ptr<VideoOutput> maskOut, frameOut;
  if (!opt.maskOut.empty()) maskOut.reset(new VideoOutput(opt.maskOut, source->fps(), true));
  if (!opt.output.empty()) frameOut.reset(new VideoOutput(opt.output, source->fps(), false));
  ContactSheet sheet;
  // The sheet's third column: the same frames through a second filter with
  // "bokeh" on.
  ModuleSession bokehSession;
  if (!opt.sheet.empty()) {
    if (bokehSession.open(module, opt.configs, &error))
      bokehSession.setConfigs("{\"bokeh\":true}");
    else
      std::fprintf(stderr, "tavro-host: the sheet has no bokeh column: %s\n", error.c_str());
  }
  FlickerMeter flicker;
  int total = source->total();
  if (opt.maxFrames >= 0 && (total < 0 || opt.maxFrames < total)) total = opt.maxFrames;
  ProgressBar progress(source->hasKnownLength() ? total : 0);

  I420Image frame;
  std::vector<uint8_t> mask;
  int frames = 0, processed = 0;
  double filterMs = 0;
  while ((opt.maxFrames < 0 || frames < opt.maxFrames) && source->next(frame)) {
    const I420Image original = frames == 0 || !opt.sheet.empty() ? frame : I420Image();
    auto t0 = Clock::now();
    int32_t result = session.process(frame, mask);
    filterMs += Ms(Clock::now() - t0);
    if (frames == 0 && opt.warmupWaitMs > 0) {
      const auto resend = [&](std::vector<uint8_t>& m) {
        frame = original;
        return session.process(frame, m);
      };
      result = WaitForWarmup(resend, opt.warmupWaitMs, mask, result);
    }
    if (result == 0) ++processed;
    if (mask.size() != frame.lumaSize()) mask.assign(frame.lumaSize(), 0);

    if (maskOut && maskOut->ok()) maskOut->writeMask(mask.data(), frame.width, frame.height);
    if (frameOut && frameOut->ok()) frameOut->writeFrame(frame);
    if (!opt.sheet.empty()) {
      cv::Mat bokeh;
      if (bokehSession.isOpen()) {
        I420Image blurred = original;
        std::vector<uint8_t> opaque;
        const auto resend = [&](std::vector<uint8_t>& m) {
          blurred = original;
          return bokehSession.process(blurred, m);
        };
        const int32_t r = resend(opaque);
        if (frames == 0 && opt.warmupWaitMs > 0) WaitForWarmup(resend, opt.warmupWaitMs, opaque, r);
        bokeh = I420ToBgr(blurred);
      }
      sheet.offer(frames, I420ToBgr(original),
                  cv::Mat(frame.height, frame.width, CV_8UC1, mask.data()), bokeh);
    }
    if (opt.stability) flicker.add(mask.data(), frame.width, frame.height);
    progress.update(++frames);
  }
  progress.finish();
  session.close();
  bokehSession.close();

  int rc = 0;
  for (VideoOutput* out : {maskOut.get(), frameOut.get()}) {
    if (out && !out->ok()) {
      std::fprintf(stderr, "tavro-host: %s\n", out->error().c_str());
      rc = 1;
    }
  }
  if (!opt.sheet.empty() && !sheet.save(opt.sheet)) {
    std::fprintf(stderr, "tavro-host: cannot write the contact sheet %s\n", opt.sheet.c_str());
    rc = 1;
  }
  std::fprintf(stderr, "tavro-host: %d frames, %d processed, %.2f ms per frame in the filter\n",
               frames, processed, frames ? filterMs / frames : 0.0);
  if (opt.stability) {
    std::cout << "flicker: " << std::fixed << std::setprecision(4) << flicker.flicker()
              << std::endl;
  }
  return rc;
}
