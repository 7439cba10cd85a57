// tavro-fault-sweep: loads the module as the host does and, for each point
// of a fault plan, runs one child process that drives a filter over a short
// clip, fails allocations or thread creations on a chosen thread while a few
// frames pass (a network-size change among them, so that a warm-up runs
// under the fault), then stops failing and waits for masks to come back by
// themselves, at the same sizes. Cold-start points instead fail one
// allocation of the first frame's initialisation (the video thread) or of
// the first warm-up, from the very first frame on. A point passes when the
// child survives, every frame got a defined answer (0 with an alpha buffer,
// or 2 when not even the mask buffer could be made), and masks came back.
// Needs libtavro_fault.so preloaded.
#include <dlfcn.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "host/demo_clip.h"
#include "host/i420_image.h"
#include "host/module_session.h"
#include "sdk/sdk_host.h"
#include "tests/faults/fault_shim.h"

namespace {

using tavro_host::I420Image;

constexpr int kWidth = 640, kHeight = 360, kClipFrames = 12;
constexpr int kFaultFrames = 24;     // frames passed while the plan is armed
constexpr int kFramePeriodUs = 15000;
constexpr int kNetChangeFrame = 3;   // of those, the one after the size change
constexpr double kRecoverSeconds = 10.0;  // for masks to come back by themselves
constexpr const char* kVideoThread = "TavroVideo";
const char* const kThreads[] = {"TavroVideo", "MattingThread", "TavroWarmup", "*"};

struct Shim {
  decltype(&tavro_fault_arm) arm = nullptr;
  decltype(&tavro_fault_disarm) disarm = nullptr;
  decltype(&tavro_fault_exempt) exempt = nullptr;
  decltype(&tavro_fault_counted) counted = nullptr;
  decltype(&tavro_fault_failed) failed = nullptr;
  bool load() {
    arm = reinterpret_cast<decltype(arm)>(dlsym(RTLD_DEFAULT, "tavro_fault_arm"));
    disarm = reinterpret_cast<decltype(disarm)>(dlsym(RTLD_DEFAULT, "tavro_fault_disarm"));
    exempt = reinterpret_cast<decltype(exempt)>(dlsym(RTLD_DEFAULT, "tavro_fault_exempt"));
    counted = reinterpret_cast<decltype(counted)>(dlsym(RTLD_DEFAULT, "tavro_fault_counted"));
    failed = reinterpret_cast<decltype(failed)>(dlsym(RTLD_DEFAULT, "tavro_fault_failed"));
    return arm && disarm && exempt && counted && failed;
  }
} shim;

struct Point {
  int kind;
  std::string thread;
  long first, count;
  bool cold = false;  // armed before the first frame, not after masks came
};

std::string Describe(const Point& p) {
  return std::string(p.kind == kTavroFaultAlloc ? "alloc" : "thread") + ":" +
         p.thread + ":" + std::to_string(p.first) + ":" + std::to_string(p.count) +
         (p.cold ? ":cold" : "");
}

bool ParsePoint(const std::string& text, Point* p) {
  char kind[16] = {0}, thread[32] = {0}, phase[8] = {0};
  const int n = std::sscanf(text.c_str(), "%15[^:]:%31[^:]:%ld:%ld:%7s", kind, thread,
                            &p->first, &p->count, phase);
  if (n < 4) return false;
  p->kind = std::strcmp(kind, "thread") == 0 ? kTavroFaultThread : kTavroFaultAlloc;
  p->thread = thread;
  p->cold = n == 5 && std::strcmp(phase, "cold") == 0;
  return true;
}

// The clip's first frames at 640 x 360, or the built-in demo when no clip.
std::vector<I420Image> LoadFrames(const std::string& clip) {
  std::vector<I420Image> frames;
  cv::VideoCapture cap;
  if (!clip.empty() && clip != "demo") cap.open(clip);
  for (int i = 0; i < kClipFrames; ++i) {
    cv::Mat bgr;
    if (cap.isOpened()) {
      if (!cap.read(bgr) || bgr.empty()) break;
      cv::resize(bgr, bgr, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);
    } else {
      bgr = tavro_host::RenderDemoFrame(i, kWidth, kHeight);
    }
    frames.push_back(tavro_host::BgrToI420(bgr));
  }
  return frames;
}

// One frame through the filter with only the filter's own calls exposed to
// the plan. *hasMask: the attached alpha marks a person (a tenth of it above
// half). Returns whether the answer is a defined one: 0 with an alpha buffer
// attached, or 2 (the filter could not even make the mask buffer) with none.
bool Feed(tavro_rtc::VideoFilter* filter, const I420Image& image, bool* hasMask) {
  auto* frame = tavro_rtc::HostVideoFrame::Create(image.width, image.height);
  frame->setPlanes(image.data);
  frame->reserveAlpha(image.lumaSize());
  frame->addRef();  // the by-value reference the filter releases
  tavro_rtc::VideoFrame* out = nullptr;
  shim.exempt(0);
  const int32_t result = filter->adaptVideoFrame(frame, &out);
  shim.exempt(1);
  if (out) out->release();
  size_t high = 0;
  for (uint8_t a : frame->alpha()) high += a > 128;
  *hasMask = high * 10 >= image.lumaSize() / 10;
  const bool attached = frame->attachCount() > 0;
  frame->release();
  return (result == 0 && attached) || (result == 2 && !attached);
}

// Passes frames (looping the clip) until a mask comes back; false after
// the given seconds. Frames without a mask are spaced out a little so that
// a warm-up gets the processor.
bool WaitForMask(tavro_rtc::VideoFilter* filter, const std::vector<I420Image>& frames,
                 double seconds, int* fed, int* badResults) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() <
         seconds) {
    bool mask = false;
    if (!Feed(filter, frames[(*fed)++ % frames.size()], &mask)) ++*badResults;
    if (mask) return true;
    usleep(2000);
  }
  return false;
}

// The child: one point. Exit 0 pass, 3 no mask after the faults, 4 no mask
// before them, 5 a frame without a defined answer, 6 set-up failed.
int RunPoint(const Point& p, const std::string& module, const std::string& clip,
             int report) {
  alarm(120);  // a hang ends the child with SIGALRM
  shim.exempt(1);
  pthread_setname_np(pthread_self(), kVideoThread);
  const std::vector<I420Image> frames = LoadFrames(clip);
  if (frames.empty()) return 6;
  tavro_host::ModuleSession session;
  std::string error;
  if (!session.open(module,
                    "{\"enable\":true,\"enable_media_filter\":true,"
                    "\"enable_optical_flow\":true,\"prefer_efficiency\":false}",
                    &error))
    return 6;
  tavro_rtc::VideoFilter* filter = session.filter();
  int fed = 0, bad = 0;
  const char* thread = p.thread == "*" ? nullptr : p.thread.c_str();
  long counted = 0, failed = 0;
  bool back = false;
  if (p.cold) {
    // From the first frame on: the adapter, the pipeline and the network
    // are made under the plan, and the first warm-up runs under it. The
    // count ends with the first mask.
    shim.arm(p.kind, thread, p.first, p.count);
    const auto start = std::chrono::steady_clock::now();
    while (!back && std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                            .count() < kRecoverSeconds) {
      if (!Feed(filter, frames[fed++ % frames.size()], &back)) ++bad;
      if (!back) usleep(kFramePeriodUs);
    }
    shim.disarm();
    counted = shim.counted();
    failed = shim.failed();
  } else {
    if (!WaitForMask(filter, frames, kRecoverSeconds, &fed, &bad)) return 4;
    shim.arm(p.kind, thread, p.first, p.count);
    for (int i = 0; i < kFaultFrames; ++i) {
      if (i == kNetChangeFrame) session.setConfigs("{\"prefer_efficiency\":true}");
      bool mask;
      if (!Feed(filter, frames[fed++ % frames.size()], &mask)) ++bad;
      usleep(kFramePeriodUs);  // frames at camera pace, so the warm-up runs meanwhile
    }
    shim.disarm();
    counted = shim.counted();
    failed = shim.failed();
    // No size changes from here on: a camera stream may never change size.
    back = WaitForMask(filter, frames, kRecoverSeconds, &fed, &bad);
  }
  dprintf(report, "%s counted %ld failed %ld frames %d bad %d mask %s\n",
          Describe(p).c_str(), counted, failed, fed, bad, back ? "by itself" : "never");
  session.close();
  if (bad) return 5;
  return back ? 0 : 3;
}

// Calls of each kind made per thread over the fault window, from a child
// run with a plan that never fires; the sweep spreads its points over them.
long CountCalls(const std::string& self, const std::string& module,
                const std::string& clip, int kind, const std::string& thread,
                bool cold = false) {
  Point probe{kind, thread, LONG_MAX, -1, cold};
  int fds[2];
  if (pipe(fds) != 0) return 0;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    std::string arg = Describe(probe);
    dup2(fds[1], 3);
    execl(self.c_str(), self.c_str(), "--point", arg.c_str(), "--module", module.c_str(),
          "--clip", clip.c_str(), "--report-fd", "3", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  char buf[512] = {0};
  const ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long counted = 0;
  const char* at = n > 0 ? std::strstr(buf, " counted ") : nullptr;
  if (at) counted = std::strtol(at + 9, nullptr, 10);
  return counted;
}

int RunPoints(const std::string& self, const std::string& module, const std::string& clip,
              const std::vector<Point>& points, bool verbose);

// n of the calls 1 .. calls (all of them when n is 0): dense at the start
// (the first calls of each step), spread over the rest.
std::vector<long> SpreadPoints(long calls, long n) {
  std::vector<long> firsts;
  if (n <= 0 || n > calls) n = calls;
  for (long i = 0; i < n; ++i) {
    const long first = n == calls ? i + 1 : 1 + long((double(i) / n) * (double(i) / n) * calls);
    if (firsts.empty() || firsts.back() != first) firsts.push_back(first);
  }
  return firsts;
}

int Sweep(const std::string& self, const std::string& module, const std::string& clip,
          int perThread, int coldPoints, bool verbose) {
  std::vector<Point> points;
  // One allocation failing at each point of the cold start: the first
  // frame's initialisation on the video thread, and the first warm-up.
  if (coldPoints >= 0) {
    for (const char* thread : {kVideoThread, "TavroWarmup"}) {
      const long calls = CountCalls(self, module, clip, kTavroFaultAlloc, thread, true);
      std::printf("allocations on %s from the first frame to the first mask: %ld\n", thread,
                  calls);
      std::fflush(stdout);
      for (long first : SpreadPoints(calls, coldPoints))
        points.push_back({kTavroFaultAlloc, thread, first, 1, true});
    }
  }
  // With perThread < 0 only the cold start.
  if (perThread < 0) return RunPoints(self, module, clip, points, verbose);
  // One allocation failing at each point of a later warm-up.
  {
    const long calls = CountCalls(self, module, clip, kTavroFaultAlloc, "TavroWarmup");
    for (long first : SpreadPoints(calls, perThread))
      points.push_back({kTavroFaultAlloc, "TavroWarmup", first, 1});
  }
  for (const char* thread : kThreads) {
    const long calls = CountCalls(self, module, clip, kTavroFaultAlloc, thread);
    std::printf("allocations on %s over the fault window: %ld\n", thread, calls);
    std::fflush(stdout);
    // Every call failing from the n-th on, for perThread values of n (every
    // call with perThread 0).
    for (long first : SpreadPoints(calls, perThread))
      points.push_back({kTavroFaultAlloc, thread, first, -1});
  }
  const long creations = CountCalls(self, module, clip, kTavroFaultThread, "*");
  std::printf("thread creations over the fault window: %ld\n", creations);
  for (long first = 1; first <= std::max(creations, 1L); ++first) {
    points.push_back({kTavroFaultThread, "*", first, 1});
    points.push_back({kTavroFaultThread, "*", first, -1});
  }
  return RunPoints(self, module, clip, points, verbose);
}

// One child per point; prints the points that failed (all with verbose) and
// a summary line. 0 when every point passed.
int RunPoints(const std::string& self, const std::string& module, const std::string& clip,
              const std::vector<Point>& points, bool verbose) {

  int crashes = 0, hangs = 0, noMask = 0, badCodes = 0, other = 0;
  for (const Point& p : points) {
    int fds[2];
    if (pipe(fds) != 0) return 2;
    const pid_t pid = fork();
    if (pid == 0) {
      close(fds[0]);
      dup2(fds[1], 3);
      const std::string arg = Describe(p);
      execl(self.c_str(), self.c_str(), "--point", arg.c_str(), "--module",
            module.c_str(), "--clip", clip.c_str(), "--report-fd", "3",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string line;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) line.append(buf, size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    std::string verdict = "ok";
    if (WIFSIGNALED(status)) {
      if (WTERMSIG(status) == SIGALRM) {
        ++hangs;
        verdict = "HANG";
      } else {
        ++crashes;
        verdict = std::string("CRASH signal ") + std::to_string(WTERMSIG(status));
      }
    } else if (WEXITSTATUS(status) == 3) {
      ++noMask;
      verdict = "NO MASK AFTER FAULTS";
    } else if (WEXITSTATUS(status) == 5) {
      ++badCodes;
      verdict = "RESULT CODE";
    } else if (WEXITSTATUS(status) != 0) {
      ++other;
      verdict = "EXIT " + std::to_string(WEXITSTATUS(status));
    }
    if (verbose || verdict != "ok") {
      std::printf("%-32s %s  %s", Describe(p).c_str(), verdict.c_str(),
                  line.empty() ? "\n" : line.c_str());
      std::fflush(stdout);
    }
  }
  const bool pass = crashes + hangs + noMask + badCodes + other == 0;
  std::printf("fault sweep: %zu points, %d crashes, %d hangs, %d without masks after "
              "the faults, %d with other result codes, %d other failures: %s\n",
              points.size(), crashes, hangs, noMask, badCodes, other,
              pass ? "PASS" : "FAIL");
  return pass ? 0 : 1;
}

std::string DefaultClip() {
  namespace fs = std::filesystem;
  const char* data = std::getenv("TAVRO_DATA");
  const char* src = std::getenv("TAVRO_SOURCE_DIR");
  const fs::path dir = data ? fs::path(data) : fs::path(src ? src : ".") / ".." / "shared" / "data";
  const fs::path clip = dir / "clips" / "talking_head_d.mp4";
  return fs::exists(clip) ? clip.string() : "demo";
}

}  // namespace

int main(int argc, char** argv) {
  std::string module = tavro_host::DefaultModulePath(), clip = DefaultClip(), point;
  int perThread = 30, coldPoints = -1, report = 1;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--module") module = value();
    else if (a == "--clip") clip = value();
    else if (a == "--point") point = value();
    else if (a == "--per-thread") perThread = std::atoi(value().c_str());
    else if (a == "--cold") coldPoints = std::atoi(value().c_str());
    else if (a == "--report-fd") report = std::atoi(value().c_str());
    else if (a == "--verbose") verbose = true;
    else {
      std::fprintf(stderr,
                   "usage: %s [--per-thread N (0: every call, -1: none)] [--cold N (0: every call)]\n"
                   "          [--clip FILE|demo] [--module LIB] [--verbose]\n"
                   "       %s --point alloc|thread:THREAD:FIRST:COUNT[:cold]\n",
                   argv[0], argv[0]);
      return 2;
    }
  }
  if (!shim.load()) {
    std::fprintf(stderr, "libtavro_fault.so is not preloaded (LD_PRELOAD)\n");
    return 2;
  }
  if (!point.empty()) {
    Point p;
    if (!ParsePoint(point, &p)) return 2;
    // The module's per-frame lines would bury the report.
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
      return 6;
    return RunPoint(p, module, clip, report);
  }
  shim.exempt(1);
  std::printf("clip: %s\n", clip.c_str());
  std::fflush(stdout);
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 2;
  self[n] = '\0';
  return Sweep(self, module, clip, perThread, coldPoints, verbose);
}
