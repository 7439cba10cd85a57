// tavro-fault-sweep: loads the module as the host does and, for each point
// of a fault plan, runs one child process that drives a filter over a short
// clip, fails allocations or thread creations on a chosen thread while a few
// frames pass (a network-size change among them, so that a warm-up runs
// under the fault), then stops failing and waits for masks to come back.
// A point passes when the child survives, every frame got a defined answer
// (0 with an alpha buffer, or 2 when not even the mask buffer could be
// made), and masks came back. Needs libtavro_fault.so preloaded.
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
constexpr double kSettleSeconds = 1.5;   // for masks to come back by themselves
constexpr double kRecoverSeconds = 10.0;  // after a network-size change
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
};

std::string Describe(const Point& p) {
  return std::string(p.kind == kTavroFaultAlloc ? "alloc" : "thread") + ":" +
         p.thread + ":" + std::to_string(p.first) + ":" + std::to_string(p.count);
}

bool ParsePoint(const std::string& text, Point* p) {
  char kind[16] = {0}, thread[32] = {0};
  if (std::sscanf(text.c_str(), "%15[^:]:%31[^:]:%ld:%ld", kind, thread, &p->first,
                  &p->count) != 4)
    return false;
  p->kind = std::strcmp(kind, "thread") == 0 ? kTavroFaultThread : kTavroFaultAlloc;
  p->thread = thread;
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
  if (!WaitForMask(filter, frames, kRecoverSeconds, &fed, &bad)) return 4;

  shim.arm(p.kind, p.thread == "*" ? nullptr : p.thread.c_str(), p.first, p.count);
  for (int i = 0; i < kFaultFrames; ++i) {
    if (i == kNetChangeFrame) session.setConfigs("{\"prefer_efficiency\":true}");
    bool mask;
    if (!Feed(filter, frames[fed++ % frames.size()], &mask)) ++bad;
    usleep(kFramePeriodUs);  // frames at camera pace, so the warm-up runs meanwhile
  }
  shim.disarm();
  const long counted = shim.counted(), failed = shim.failed();

  // A warm-up that failed is tried again only on a size change: make one
  // when the masks do not come back by themselves.
  std::string how = "by itself";
  bool back = WaitForMask(filter, frames, kSettleSeconds, &fed, &bad);
  // A warm-up whose thread could not be made has not failed: the filter
  // must try it again by itself.
  if (!back && p.kind == kTavroFaultThread) {
    back = WaitForMask(filter, frames, kRecoverSeconds, &fed, &bad);
    if (!back) how = "never, though only a thread creation failed";
  } else if (!back) {
    how = "after a network-size change";
    session.setConfigs("{\"prefer_efficiency\":false}");
    back = WaitForMask(filter, frames, kRecoverSeconds, &fed, &bad);
  }
  dprintf(report, "%s counted %ld failed %ld frames %d bad %d mask %s\n",
          Describe(p).c_str(), counted, failed, fed, bad,
          back ? how.c_str() : (p.kind == kTavroFaultThread ? how.c_str() : "never"));
  session.close();
  if (bad) return 5;
  return back ? 0 : 3;
}

// Calls of each kind made per thread over the fault window, from a child
// run with a plan that never fires; the sweep spreads its points over them.
long CountCalls(const std::string& self, const std::string& module,
                const std::string& clip, int kind, const std::string& thread) {
  Point probe{kind, thread, LONG_MAX, -1};
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

int Sweep(const std::string& self, const std::string& module, const std::string& clip,
          int perThread, bool verbose) {
  std::vector<Point> points;
  for (const char* thread : kThreads) {
    const long calls = CountCalls(self, module, clip, kTavroFaultAlloc, thread);
    std::printf("allocations on %s over the fault window: %ld\n", thread, calls);
    std::fflush(stdout);
    if (calls <= 0) continue;
    // Every call (perThread 0), or perThread of them: dense at the start
    // (the first calls of each step), spread over the rest.
    const long n = perThread > 0 ? std::min<long>(perThread, calls) : calls;
    for (long i = 0; i < n; ++i) {
      const long first = perThread > 0 ? 1 + long((double(i) / n) * (double(i) / n) * calls)
                                       : i + 1;
      if (!points.empty() && points.back().thread == thread &&
          points.back().first == first)
        continue;
      points.push_back({kTavroFaultAlloc, thread, first, -1});
    }
  }
  const long creations = CountCalls(self, module, clip, kTavroFaultThread, "*");
  std::printf("thread creations over the fault window: %ld\n", creations);
  for (long first = 1; first <= std::max(creations, 1L); ++first) {
    points.push_back({kTavroFaultThread, "*", first, 1});
    points.push_back({kTavroFaultThread, "*", first, -1});
  }

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
  int perThread = 30, report = 1;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--module") module = value();
    else if (a == "--clip") clip = value();
    else if (a == "--point") point = value();
    else if (a == "--per-thread") perThread = std::atoi(value().c_str());
    else if (a == "--report-fd") report = std::atoi(value().c_str());
    else if (a == "--verbose") verbose = true;
    else {
      std::fprintf(stderr,
                   "usage: %s [--per-thread N (0: every call)] [--clip FILE|demo] [--module LIB]\n"
                   "          [--verbose]\n"
                   "       %s --point alloc|thread:THREAD:FIRST:COUNT\n",
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
  return Sweep(self, module, clip, perThread, verbose);
}
