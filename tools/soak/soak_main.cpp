// tavro-soak: drives one filter of the module, as the host does, over a
// clip looped for N frames at a fixed size, and every K frames prints the
// resident memory, the address space and the per-frame latency percentiles
// of those K frames. With --net-changes, the network size is switched every
// that many frames (each switch re-initialises and warms up on a new
// thread; each switch waits for the masks of the one before; --switches
// ends the run after that many). The last line
// is the verdict: growth of resident memory and of
// the address space from the end of the warm-up to the end of the run,
// against the limits given.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "host/demo_clip.h"
#include "host/i420_image.h"
#include "host/module_session.h"

namespace {

struct Options {
  std::string clip;  // empty: the built-in demo
  std::string module = tavro_host::DefaultModulePath();
  int frames = 10000, every = 1000, warm = 300, netChanges = 0, switchLimit = 0;
  int width = 1280, height = 720;
  double maxRssGrowthMiB = 1.0, maxVmGrowthMiB = 64.0;
  std::string configs = "{\"enable\":true,\"enable_optical_flow\":true}";
};

// VmRSS and VmSize of this process, in KiB.
void Memory(long* rssKiB, long* vmKiB) {
  std::ifstream status("/proc/self/status");
  std::string line;
  *rssKiB = *vmKiB = 0;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmRSS:") == 0) *rssKiB = std::atol(line.c_str() + 6);
    if (line.compare(0, 7, "VmSize:") == 0) *vmKiB = std::atol(line.c_str() + 7);
  }
}

double Percentile(std::vector<double> v, double q) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t i = std::min(v.size() - 1, size_t(q * double(v.size() - 1) + 0.5));
  return v[i];
}

std::vector<tavro_host::I420Image> LoadClip(const Options& o) {
  std::vector<tavro_host::I420Image> frames;
  cv::VideoCapture cap;
  if (!o.clip.empty()) cap.open(o.clip);
  for (int i = 0; i < 60; ++i) {
    cv::Mat bgr;
    if (cap.isOpened()) {
      if (!cap.read(bgr) || bgr.empty()) break;
      cv::resize(bgr, bgr, cv::Size(o.width, o.height), 0, 0, cv::INTER_AREA);
    } else {
      bgr = tavro_host::RenderDemoFrame(i, o.width, o.height);
    }
    frames.push_back(tavro_host::BgrToI420(bgr));
  }
  return frames;
}

bool Parse(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const std::string v = argv[++i];
    if (a == "--clip") o->clip = v;
    else if (a == "--module") o->module = v;
    else if (a == "--frames") o->frames = std::atoi(v.c_str());
    else if (a == "--every") o->every = std::atoi(v.c_str());
    else if (a == "--warm") o->warm = std::atoi(v.c_str());
    else if (a == "--net-changes") o->netChanges = std::atoi(v.c_str());
    else if (a == "--switches") o->switchLimit = std::atoi(v.c_str());
    else if (a == "--size") {
      if (std::sscanf(v.c_str(), "%dx%d", &o->width, &o->height) != 2) return false;
    } else if (a == "--max-rss-growth-mib") o->maxRssGrowthMiB = std::atof(v.c_str());
    else if (a == "--max-vm-growth-mib") o->maxVmGrowthMiB = std::atof(v.c_str());
    else if (a == "--config") o->configs = v;
    else return false;
  }
  return o->frames > 0 && o->every > 0 && o->warm >= 0 && o->warm < o->frames &&
         o->width > 1 && o->height > 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!Parse(argc, argv, &o)) {
    std::fprintf(stderr,
                 "usage: %s [--clip FILE] [--frames N] [--every K] [--warm W] [--size WxH]\n"
                 "          [--net-changes EVERY [--switches M]] [--max-rss-growth-mib M]\n"
                 "          [--max-vm-growth-mib M] [--config JSON] [--module LIB]\n",
                 argv[0]);
    return 2;
  }
  const std::vector<tavro_host::I420Image> clip = LoadClip(o);
  if (clip.empty()) {
    std::fprintf(stderr, "no frames from %s\n", o.clip.c_str());
    return 1;
  }
  // The module's own per-frame lines go to standard output; the figures go
  // to standard error so that they can be read apart.
  tavro_host::ModuleSession session;
  std::string error;
  if (!session.open(o.module, o.configs, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::fprintf(stderr, "soak: %d frames of %s at %dx%d, figures every %d, warm-up %d%s\n",
               o.frames, o.clip.empty() ? "the demo clip" : o.clip.c_str(), o.width,
               o.height, o.every, o.warm,
               o.netChanges ? (", network size switched every " +
                               std::to_string(o.netChanges) + " frames").c_str()
                            : "");
  std::vector<double> window, all;
  long rss = 0, vm = 0, rssWarm = 0, vmWarm = 0;
  int masks = 0, switches = 0, lastSwitch = 0, framesRun = 0;
  bool maskSinceSwitch = true;
  tavro_host::I420Image frame;
  std::vector<uint8_t> mask;
  for (int i = 0; i < o.frames; ++i) {
    // A switch waits for the masks of the previous one, so that every
    // switch is a full re-initialisation and warm-up.
    if (o.switchLimit && switches >= o.switchLimit && maskSinceSwitch) break;
    if (o.netChanges && i - lastSwitch >= o.netChanges && maskSinceSwitch) {
      session.setConfigs(switches++ % 2 ? "{\"prefer_efficiency\":false}"
                                        : "{\"prefer_efficiency\":true}");
      lastSwitch = i;
      maskSinceSwitch = false;
    }
    frame = clip[size_t(i) % clip.size()];
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = session.process(frame, mask);
    ++framesRun;
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    if (result != 0) {
      std::fprintf(stderr, "frame %d: result %d\n", i, result);
      return 1;
    }
    const bool hasMask = std::any_of(mask.begin(), mask.end(), [](uint8_t a) { return a != 0; });
    masks += hasMask;
    if (i > lastSwitch) maskSinceSwitch = maskSinceSwitch || hasMask;
    // While a warm-up runs, frames come back at once; a camera would not.
    if (o.netChanges && !hasMask) usleep(1000);
    if (i >= o.warm) {
      window.push_back(ms);
      all.push_back(ms);
    }
    if (i + 1 == o.warm || (o.warm == 0 && i == 0)) Memory(&rssWarm, &vmWarm);
    const bool last = i + 1 == o.frames ||
                      (o.switchLimit && switches >= o.switchLimit && maskSinceSwitch);
    if ((i + 1) % o.every == 0 || last) {
      Memory(&rss, &vm);
      std::fprintf(stderr,
                   "frame %6d  rss %8.1f MiB  vm %8.1f MiB  latency p50 %6.2f  p95 %6.2f  "
                   "p99 %6.2f  max %6.2f ms\n",
                   i + 1, rss / 1024.0, vm / 1024.0, Percentile(window, 0.5),
                   Percentile(window, 0.95), Percentile(window, 0.99),
                   window.empty() ? 0.0 : *std::max_element(window.begin(), window.end()));
      window.clear();
    }
  }
  session.close();
  const double rssGrowth = (rss - rssWarm) / 1024.0, vmGrowth = (vm - vmWarm) / 1024.0;
  const bool pass = rssGrowth < o.maxRssGrowthMiB && vmGrowth < o.maxVmGrowthMiB && masks > 0;
  std::fprintf(stderr,
               "soak verdict: %s  rss growth %.2f MiB (limit %.2f)  vm growth %.2f MiB "
               "(limit %.2f)  latency p50 %.2f p99 %.2f ms  frames with a mask %d of %d  "
               "network-size switches %d\n",
               pass ? "PASS" : "FAIL", rssGrowth, o.maxRssGrowthMiB, vmGrowth,
               o.maxVmGrowthMiB, Percentile(all, 0.5), Percentile(all, 0.99), masks, framesRun,
               switches);
  return pass ? 0 : 1;
}
