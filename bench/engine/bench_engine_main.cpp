// tavro-bench-engine: one inference of the portrait network at 320x224 and
// 224x224 on one thread, for the engine's fast path (AVX2/FMA members as the
// processor allows), its portable path (CpuInfo::ForcePortable), OpenCV DNN
// running the same weights from ONNX files (tools/onnx/export_onnx.py, built
// with this program) and ONNX Runtime on the same files (tools/onnx/
// ort_bench.mjs under Node, one intra-op thread; present once
// `npm install` has run in tools/onnx). All rows run in one invocation so the
// ratios are honest. After the Google Benchmark table it prints the medians,
// the per-layer-type time shares of both engine paths, the line
//   engine/onnxruntime: R
// and as its last line
//   engine/opencv-dnn: R
// with R = median engine fast-path time / the peer's median at 320x224.
// Next to the engine rows it times the whole 1280x720 filter on the calling
// thread (MattingFrame: pre-resize, network at 320x224, optical-flow fusion
// and the media filter on), alternating two frames so the flow has motion.
//
// Options: --onnx-dir DIR (default: the build's onnx folder), --no-onnxruntime,
// --all-layers (every layer's fastest time on the fast path, not only the
// slowest convolutions), then any Google Benchmark flags.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <ctime>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/engine/layer_shares.h"
#include "engine/x86/matting_net.h"
#include "cpu/cpu_info.h"
#include "bench/shifted_frame.h"
#include "matting/matting_frame.h"

#ifdef TAVRO_HAVE_OPENCV_DNN
#include <opencv2/core.hpp>
#include <opencv2/dnn.hpp>
#endif

using namespace TAVROMATTING;

namespace {

struct Size {
  int w, h;
  std::string Name() const { return std::to_string(w) + "x" + std::to_string(h); }
};
const Size kSizes[] = {{320, 224}, {224, 224}};

std::string g_onnxDir = TAVRO_ONNX_DIR;
std::string g_ortDir = TAVRO_ORT_DIR;
bool g_runOrt = true;
bool g_allLayers = false;
constexpr int kOrtRuns = 50;
// Row name -> every measured inference (ms), for the medians.
std::map<std::string, std::vector<double>> g_times;

// A deterministic picture with structure (gradients, a bright disc, texture).
std::vector<uint8_t> Picture(int w, int h) {
  std::vector<uint8_t> img(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool disc = (x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2) < (h / 3) * (h / 3);
      uint8_t* p = &img[(size_t(y) * w + x) * 3];
      p[0] = uint8_t(disc ? 220 : x * 255 / w);
      p[1] = uint8_t(disc ? 180 : y * 255 / h);
      p[2] = uint8_t((x * 7 + y * 3) & 255);
    }
  return img;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0.0;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct NetDeleter {
  void operator()(Net* n) const { DestroyNet(n); }
};
using NetPtr = std::unique_ptr<Net, NetDeleter>;

// A network prepared (and its weights packed) for one size and one path.
// The start-up lines it prints are swallowed.
NetPtr WarmNet(const Size& s, bool portable, const std::vector<uint8_t>& img,
               std::vector<uint8_t>* mask) {
  CpuInfo::ForcePortable(portable);
  NetPtr net;
  tavro_bench::CaptureStdout([&] {
    net.reset(CreateNet(0, 0));
    if (net) RunMattingNet(net.get(), img.data(), mask->data(), s.w, s.h);
  });
  CpuInfo::ForcePortable(false);
  return net;
}

void BM_Engine(benchmark::State& state, Size s, bool portable) {
  auto img = Picture(s.w, s.h);
  std::vector<uint8_t> mask(size_t(s.w) * s.h);
  NetPtr net = WarmNet(s, portable, img, &mask);
  if (!net) {
    state.SkipWithError("network construction failed");
    return;
  }
  CpuInfo::ForcePortable(portable);
  auto& times = g_times[std::string(portable ? "engine portable " : "engine fast ") + s.Name()];
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    RunMattingNet(net.get(), img.data(), mask.data(), s.w, s.h);
    const auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    benchmark::DoNotOptimize(mask.data());
  }
  CpuInfo::ForcePortable(false);
}

// CPU time of the calling thread (ms): on a shared machine it leaves out the
// time the thread waits for a core.
double ThreadCpuMs() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec * 1e-6;
}

void BM_Filter1280x720(benchmark::State& state) {
  using namespace TavroMatting;
  MattingFrame* mf = nullptr;  // its start-up lines are swallowed
  tavro_bench::CaptureStdout([&] { mf = CreateMattingFrame(320, 224); });
  if (!mf) {
    state.SkipWithError("matting frame construction failed");
    return;
  }
  tavro_bench::ShiftedFrame a(1280, 720, 0), b(1280, 720, 6);
  std::vector<uint8_t> mask(size_t(1280) * 720);
  const MaskView view{mask.data(), 1280, 720};
  const MattingSettings first = TavroMatting::MakeMattingSettings(320, 224, 1, true, true);
  const MattingSettings next = TavroMatting::MakeMattingSettings(320, 224, 0, true, true);
  PlanarImage pa = a.Planar(), pb = b.Planar();
  tavro_bench::CaptureStdout([&] { ProcessMattingFrame(mf, &pa, &view, &first); });
  auto& times = g_times["filter 1280x720"];
  auto& cpuTimes = g_times["filter 1280x720 cpu"];
  bool odd = false;
  for (auto _ : state) {
    const double c0 = ThreadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    ProcessMattingFrame(mf, odd ? &pa : &pb, &view, &next);
    const auto t1 = std::chrono::steady_clock::now();
    cpuTimes.push_back(ThreadCpuMs() - c0);
    times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    odd = !odd;
    benchmark::DoNotOptimize(mask.data());
  }
  DestroyMattingFrame(mf);
}

#ifdef TAVRO_HAVE_OPENCV_DNN
void BM_OpenCvDnn(benchmark::State& state, Size s) {
  const std::string path = g_onnxDir + "/portrait_" + s.Name() + ".onnx";
  cv::dnn::Net net;
  try {
    net = cv::dnn::readNetFromONNX(path);
  } catch (const cv::Exception& e) {
    state.SkipWithError(("cannot load " + path).c_str());
    return;
  }
  net.setPreferableBackend(cv::dnn::DNN_BACKEND_OPENCV);
  net.setPreferableTarget(cv::dnn::DNN_TARGET_CPU);
  cv::setNumThreads(1);
  // The same B,G,R bytes as floats, N x 3 x H x W.
  auto img = Picture(s.w, s.h);
  const int dims[4] = {1, 3, s.h, s.w};
  cv::Mat blob(4, dims, CV_32F);
  float* b = blob.ptr<float>();
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < s.w * s.h; ++i) b[size_t(c) * s.w * s.h + i] = img[size_t(i) * 3 + c];
  net.setInput(blob);
  cv::Mat out = net.forward();  // warm-up
  auto& times = g_times["opencv-dnn " + s.Name()];
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    net.setInput(blob);
    out = net.forward();
    const auto t1 = std::chrono::steady_clock::now();
    times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    benchmark::DoNotOptimize(out.data);
  }
}
#endif

bool OnnxPresent(const Size& s) {
  FILE* f = std::fopen((g_onnxDir + "/portrait_" + s.Name() + ".onnx").c_str(), "rb");
  if (f) std::fclose(f);
  return f != nullptr;
}

// ONNX Runtime through the Node script: the time of every run (ms), or an
// empty list with the reason in *why.
std::vector<double> RunOnnxRuntime(const Size& s, std::string* why) {
  std::vector<double> times;
  const std::string module = g_ortDir + "/node_modules/onnxruntime-node/package.json";
  if (FILE* f = std::fopen(module.c_str(), "rb")) {
    std::fclose(f);
  } else {
    *why = "onnxruntime-node is not installed (run: npm install in " + g_ortDir + ")";
    return times;
  }
  if (!OnnxPresent(s)) {
    *why = "no ONNX file";
    return times;
  }
  const std::string cmd = "node '" + g_ortDir + "/ort_bench.mjs' '" + g_onnxDir + "/portrait_" +
                          s.Name() + ".onnx' " + std::to_string(s.w) + " " + std::to_string(s.h) +
                          " " + std::to_string(kOrtRuns) + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    *why = "cannot start node";
    return times;
  }
  std::string out;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  const int rc = pclose(p);
  std::istringstream in(out);
  std::string word;
  in >> word;
  if (rc != 0 || word != "ms") {
    *why = out.empty() ? "node failed" : out.substr(0, out.find('\n'));
    return {};
  }
  for (double t; in >> t;) times.push_back(t);
  return times;
}

void PrintLayerShares(const Size& s) {
  auto img = Picture(s.w, s.h);
  std::vector<uint8_t> mask(size_t(s.w) * s.h);
  std::map<std::string, double> byPath[2];
  std::vector<tavro_bench::LayerTime> fastLayers;
  for (int portable = 0; portable < 2; ++portable) {
    NetPtr net = WarmNet(s, portable, img, &mask);
    if (!net) return;
    CpuInfo::ForcePortable(portable);
    auto layers = tavro_bench::LayerTimes(net.get(), img.data(), mask.data(), s.w, s.h, 20);
    CpuInfo::ForcePortable(false);
    byPath[portable] = tavro_bench::TimesByType(layers);
    if (!portable) fastLayers = std::move(layers);
  }
  double total[2] = {0, 0};
  for (int p = 0; p < 2; ++p)
    for (auto& [type, ms] : byPath[p]) total[p] += ms;
  std::vector<std::pair<double, std::string>> order;
  for (auto& [type, ms] : byPath[1]) order.push_back({ms, type});
  std::sort(order.rbegin(), order.rend());
  std::printf("\nPer-layer-type time at %s (engine timing diagnostics, each layer's fastest of 20 runs):\n",
              s.Name().c_str());
  std::printf("  %-20s %10s %7s %10s %7s %9s\n", "layer type", "fast ms", "share", "portable",
              "share", "speed-up");
  for (auto& [ms, type] : order) {
    const double fast = byPath[0][type];
    std::printf("  %-20s %10.3f %6.1f%% %10.3f %6.1f%% %8.2fx\n", type.c_str(), fast,
                100.0 * fast / total[0], ms, 100.0 * ms / total[1], fast > 0 ? ms / fast : 0.0);
  }
  std::printf("  %-20s %10.3f %7s %10.3f %7s %8.2fx\n", "all layers", total[0], "", total[1], "",
              total[0] > 0 ? total[1] / total[0] : 0.0);

  // The slowest convolutions of the fast path with their arithmetic rate
  // (a multiply-add counts two operations).
  std::vector<const tavro_bench::LayerTime*> convs;
  for (const auto& l : fastLayers)
    if (l.type == "Conv" || l.type == "DepthwiseConv" || l.type == "ConvTranspose")
      convs.push_back(&l);
  std::sort(convs.begin(), convs.end(), [](auto* a, auto* b) { return a->ms > b->ms; });
  if (g_allLayers) {
    std::printf("  every layer of the fast path, in run order:\n");
    for (const auto& l : fastLayers)
      std::printf("    %-60s %8.4f ms\n", l.label.c_str(), l.ms);
  }
  std::printf("  slowest convolutions of the fast path:\n");
  for (size_t i = 0; i < convs.size() && i < 8; ++i)
    std::printf("    %-44s %8.3f ms %7.2f MFLOP %6.1f GFLOP/s\n", convs[i]->label.c_str(),
                convs[i]->ms, convs[i]->flops * 1e-6,
                convs[i]->ms > 0 ? convs[i]->flops * 1e-6 / convs[i]->ms : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest = {argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--onnx-dir") == 0 && i + 1 < argc)
      g_onnxDir = argv[++i];
    else if (std::strcmp(argv[i], "--no-onnxruntime") == 0)
      g_runOrt = false;
    else if (std::strcmp(argv[i], "--all-layers") == 0)
      g_allLayers = true;
    else
      rest.push_back(argv[i]);
  }
  int n = int(rest.size());
  benchmark::Initialize(&n, rest.data());

  const CpuInfo& cpu = CpuInfo::Get();
  std::printf("processor: %s; AVX %s, AVX2 %s, FMA %s\n", cpu.brand.c_str(),
              cpu.HasAvx() ? "yes" : "no", cpu.HasAvx2() ? "yes" : "no",
              cpu.HasFma() ? "yes" : "no");
  for (int i = 0; i < 2; ++i) {
    const Size s = kSizes[i];
    benchmark::RegisterBenchmark(("engine_fast/" + s.Name()).c_str(), BM_Engine, s, false)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("engine_portable/" + s.Name()).c_str(), BM_Engine, s, true)
        ->Unit(benchmark::kMillisecond);
#ifdef TAVRO_HAVE_OPENCV_DNN
    if (OnnxPresent(s))
      benchmark::RegisterBenchmark(("opencv_dnn/" + s.Name()).c_str(), BM_OpenCvDnn, s)
          ->Unit(benchmark::kMillisecond);
    else
      std::printf("ONNX file %s/portrait_%s.onnx is missing: skipping the OpenCV DNN row (make "
                  "it with: cmake --build <build> --target tavro-onnx-models)\n",
                  g_onnxDir.c_str(), s.Name().c_str());
#else
    std::printf("built without OpenCV DNN: skipping its rows\n");
#endif
  }
  benchmark::RegisterBenchmark("filter_flow_media/1280x720", BM_Filter1280x720)
      ->Unit(benchmark::kMillisecond);
  std::fflush(stdout);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  // ONNX Runtime right after the other rows, in this same invocation.
  std::string ortWhy[2] = {"skipped (--no-onnxruntime)", ""};
  for (int i = 0; i < 2 && g_runOrt; ++i)
    g_times["onnxruntime " + kSizes[i].Name()] = RunOnnxRuntime(kSizes[i], &ortWhy[i]);

  std::printf("\nMedian inference time (ms), one thread:\n");
  for (const Size& s : kSizes) {
    const double fast = Median(g_times["engine fast " + s.Name()]);
    const double portable = Median(g_times["engine portable " + s.Name()]);
    const double dnn = Median(g_times["opencv-dnn " + s.Name()]);
    const double ort = Median(g_times["onnxruntime " + s.Name()]);
    std::printf("  %s: engine fast %.3f, engine portable %.3f (fast path %.2fx)", s.Name().c_str(),
                fast, portable, fast > 0 ? portable / fast : 0.0);
    if (dnn > 0) std::printf(", opencv-dnn %.3f", dnn);
    if (ort > 0) std::printf(", onnxruntime %.3f", ort);
    std::printf("\n");
  }
  const double filter = Median(g_times["filter 1280x720"]);
  if (filter > 0)
    std::printf("  1280x720 whole filter (flow on, media filter on, network at 320x224): %.3f per frame, "
                "calling thread's CPU time %.3f\n",
                filter, Median(g_times["filter 1280x720 cpu"]));
  for (const Size& s : kSizes) PrintLayerShares(s);

  const double fast = Median(g_times["engine fast 320x224"]);
  const double dnn = Median(g_times["opencv-dnn 320x224"]);
  const double ort = Median(g_times["onnxruntime 320x224"]);
  std::printf("\n");
  if (ort > 0 && fast > 0)
    std::printf("engine/onnxruntime: %.3f\n", fast / ort);
  else
    std::printf("engine/onnxruntime: n/a (%s)\n", ortWhy[0].c_str());
  if (dnn > 0 && fast > 0)
    std::printf("engine/opencv-dnn: %.3f\n", fast / dnn);
  else
    std::printf("engine/opencv-dnn: n/a (no OpenCV DNN measurement at 320x224)\n");
  return 0;
}
