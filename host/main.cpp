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

#include "host/configs_check.h"
#include "host/contact_sheet.h"
#include "host/flicker_meter.h"
#include "host/frame_source.h"
#include "host/host_backdrop.h"
#include "host/host_options.h"
#include "host/module_session.h"
#include "host/progress_bar.h"
#include "host/quiet_stderr.h"
#include "host/video_output.h"

using namespace tavro_host;
using Clock = std::chrono::steady_clock;

namespace {

// The module's log lines: its diagnostics as they are, to standard error or
// the --log file; its set-up messages to standard error, marked. Standard
// output stays free for --output -.
bool RouteModuleLog(const std::string& path) {
  static std::FILE* file = stderr;
  if (!path.empty() && !(file = std::fopen(path.c_str(), "w"))) {
    std::fprintf(stderr, "tavro-host: cannot write the log %s\n", path.c_str());
    return false;
  }
  tavro_rtc::SetLogHandler([](int32_t level, const std::string& text) {
    if (level == tavro_rtc::kLogDiagnostic) {
      std::fprintf(file, "%s\n", text.c_str());
      std::fflush(file);
      return;
    }
    std::fprintf(stderr, "[host log %d] %s\n", level, text.c_str());
    if (file != stderr) std::fprintf(file, "[host log %d] %s\n", level, text.c_str());
  });
  return true;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// One run of the host: the frame source, the filter session (and a second
// one with bokeh for the contact sheet's third column), and what the frames
// are written to and measured by.
class HostRun {
 public:
  explicit HostRun(const HostOptions& opt) : opt_(opt) {}

  // Opens the source, the module and the outputs; false (with a message on
  // stderr) when the source or the module cannot be opened.
  bool open();
  // Passes every frame (up to --frames) through the filter.
  void run();
  // Closes the sessions, reports, and returns the exit code.
  int finish();

 private:
  // The first frame, with --warmup-wait, is resent until the warm-up gives
  // a mask or the wait ends.
  int32_t filterFrame(I420Image& frame, const I420Image& original);
  cv::Mat bokehColumn(const I420Image& original);

  const HostOptions& opt_;
  std::unique_ptr<FrameSource> source_;
  std::string module_;
  ModuleSession session_, bokehSession_;
  std::unique_ptr<VideoOutput> maskOut_, frameOut_;
  std::unique_ptr<HostBackdrop> backdrop_;
  std::string runError_;
  ContactSheet sheet_;
  FlickerMeter flicker_;
  std::vector<uint8_t> mask_;
  int frames_ = 0, processed_ = 0;
  double filterMs_ = 0;
};

bool HostRun::open() {
  std::string error;
  source_ = opt_.demo ? OpenDemoSource() : OpenFrameSource(opt_.input, &error, opt_.verbose);
  if (!source_) {
    std::fprintf(stderr, "tavro-host: %s\n", error.c_str());
    return false;
  }
  if (!opt_.background.empty()) {
    backdrop_.reset(new HostBackdrop);
    if (!backdrop_->open(opt_.background, opt_.composite, &error)) {
      std::fprintf(stderr, "tavro-host: %s\n", error.c_str());
      return false;
    }
  }
  module_ = opt_.modulePath.empty() ? DefaultModulePath() : opt_.modulePath;
  if (!session_.open(module_, opt_.configs, &error)) {
    std::fprintf(stderr, "tavro-host: %s\n", error.c_str());
    return false;
  }
  if (!opt_.setsJson.empty()) session_.setConfigs(opt_.setsJson);
  std::fprintf(stderr, "tavro-host: module %s, version %s\n", module_.c_str(),
               session_.version().c_str());
  if (!opt_.maskOut.empty())
    maskOut_.reset(new VideoOutput(opt_.maskOut, source_->fps(), true));
  if (!opt_.output.empty()) frameOut_.reset(new VideoOutput(opt_.output, source_->fps(), false));
  if (!opt_.sheet.empty()) {
    if (bokehSession_.open(module_, opt_.configs, &error)) {
      if (!opt_.setsJson.empty()) bokehSession_.setConfigs(opt_.setsJson);
      bokehSession_.setConfigs("{\"bokeh\":true}");
    } else {
      std::fprintf(stderr, "tavro-host: the sheet has no bokeh column: %s\n", error.c_str());
    }
  }
  return true;
}

int32_t HostRun::filterFrame(I420Image& frame, const I420Image& original) {
  auto t0 = Clock::now();
  int32_t result = session_.process(frame, mask_);
  filterMs_ += Ms(Clock::now() - t0);
  if (frames_ == 0 && opt_.warmupWaitMs > 0) {
    const auto resend = [&](std::vector<uint8_t>& m) {
      frame = original;
      return session_.process(frame, m);
    };
    result = WaitForWarmup(resend, opt_.warmupWaitMs, mask_, result);
  }
  return result;
}

cv::Mat HostRun::bokehColumn(const I420Image& original) {
  if (!bokehSession_.isOpen()) return cv::Mat();
  I420Image blurred = original;
  std::vector<uint8_t> opaque;
  const auto resend = [&](std::vector<uint8_t>& m) {
    blurred = original;
    return bokehSession_.process(blurred, m);
  };
  const int32_t r = resend(opaque);
  if (frames_ == 0 && opt_.warmupWaitMs > 0) WaitForWarmup(resend, opt_.warmupWaitMs, opaque, r);
  return I420ToBgr(blurred);
}

void HostRun::run() {
  int total = source_->total();
  if (opt_.maxFrames >= 0 && (total < 0 || opt_.maxFrames < total)) total = opt_.maxFrames;
  // The bar shares standard error with the module's lines unless they go to
  // a --log file; it is drawn only then.
  ProgressBar progress(source_->hasKnownLength() && !opt_.logPath.empty() ? total : 0);
  I420Image frame;
  while ((opt_.maxFrames < 0 || frames_ < opt_.maxFrames) && source_->next(frame)) {
    const I420Image original = frames_ == 0 || !opt_.sheet.empty() ? frame : I420Image();
    if (filterFrame(frame, original) == 0) ++processed_;
    if (mask_.size() != frame.lumaSize()) mask_.assign(frame.lumaSize(), 0);
    // Until the network has answered the frame is shown as it is.
    if (backdrop_ && session_.sawMask() && !backdrop_->apply(frame, mask_, &runError_)) break;
    if (maskOut_ && maskOut_->ok()) maskOut_->writeMask(mask_.data(), frame.width, frame.height);
    if (frameOut_ && frameOut_->ok()) frameOut_->writeFrame(frame);
    if (!opt_.sheet.empty())
      sheet_.offer(frames_, I420ToBgr(original),
                   cv::Mat(frame.height, frame.width, CV_8UC1, mask_.data()),
                   bokehColumn(original));
    if (opt_.stability) flicker_.add(mask_.data(), frame.width, frame.height);
    progress.update(++frames_);
  }
  progress.finish();
  if (runError_.empty() && !source_->error().empty())
    runError_ = (opt_.demo ? std::string("--demo") : opt_.input) + ": " + source_->error();
}

int HostRun::finish() {
  session_.close();
  bokehSession_.close();
  int rc = 0;
  if (!runError_.empty()) {
    std::fprintf(stderr, "tavro-host: %s\n", runError_.c_str());
    rc = 1;
  }
  for (VideoOutput* out : {maskOut_.get(), frameOut_.get()}) {
    if (out && !out->ok()) {
      std::fprintf(stderr, "tavro-host: %s\n", out->error().c_str());
      rc = 1;
    }
  }
  if (!opt_.sheet.empty() && !sheet_.save(opt_.sheet)) {
    std::fprintf(stderr, "tavro-host: cannot write the contact sheet %s\n", opt_.sheet.c_str());
    rc = 1;
  }
  std::fprintf(stderr, "tavro-host: %d frames, %d processed, %.2f ms per frame in the filter\n",
               frames_, processed_, frames_ ? filterMs_ / frames_ : 0.0);
  if (opt_.stability) {
    std::cout << "flicker: " << std::fixed << std::setprecision(4) << flicker_.flicker()
              << std::endl;
  }
  return rc;
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
  const std::string configsProblem = ConfigsProblem(opt.configs);
  if (!configsProblem.empty()) {
    std::fprintf(stderr, "tavro-host: --config: %s\n", configsProblem.c_str());
    return 2;
  }
  if (!RouteModuleLog(opt.logPath)) return 1;
  if (!opt.verbose) QuietDecoderLogs();
  HostRun run(opt);
  if (!run.open()) return 1;
  run.run();
  return run.finish();
}
