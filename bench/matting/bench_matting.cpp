#include <algorithm>
#include <cmath>
// Cost of one 1280 x 720 frame through the matting pipeline for each switch
// combination, the bokeh composite alone, and the main filters.
#include <benchmark/benchmark.h>

#include <vector>

#include "blend/blend_i420.h"
#include "matting/flow_pair.h"
#include "matting/mask_filters.h"
#include "bench/shifted_frame.h"
#include "matting/matting_frame.h"
#include "matting/median_blur.h"

using namespace TavroMatting;

namespace {

void BM_Pipeline1280x720(benchmark::State& state) {
  const int flow = int(state.range(0)), media = int(state.range(1));
  MattingFrame* mf = CreateMattingFrame(320, 224);
  // Two frames that differ by a small shift so the flow has motion to find.
  tavro_bench::ShiftedFrame a(1280, 720, 0), b(1280, 720, 6);
  std::vector<uint8_t> mask(1280 * 720);
  const MaskView view{mask.data(), 1280, 720};
  const MattingSettings first = TavroMatting::MakeMattingSettings(320, 224, 1, flow, media);
  const MattingSettings next = TavroMatting::MakeMattingSettings(320, 224, 0, flow, media);
  PlanarImage pa = a.Planar(), pb = b.Planar();
  ProcessMattingFrame(mf, &pa, &view, &first);
  bool odd = false;
  for (auto _ : state) {
    ProcessMattingFrame(mf, odd ? &pa : &pb, &view, &next);
    odd = !odd;
    benchmark::DoNotOptimize(mask.data());
  }
  DestroyMattingFrame(mf);
  state.SetLabel(std::string("flow ") + (flow ? "on" : "off") + ", media filter " +
                 (media ? "on" : "off"));
}
BENCHMARK(BM_Pipeline1280x720)
    ->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Bokeh1280x720(benchmark::State& state) {
  MattingFrame* mf = CreateMattingFrame(320, 224);
  tavro_bench::ShiftedFrame src(1280, 720, 0);
  std::vector<uint8_t> alpha(1280 * 720);
  for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = uint8_t(i % 1280 < 640 ? 255 : 0);
  for (auto _ : state) {
    // As the adapter does it: a fresh blurred copy per frame, then the blend.
    tavro_bench::ShiftedFrame blurred(1280, 720, 0);
    PlanarImage s = src.Planar(), d = blurred.Planar();
    BlurMattingImage(mf, &s, &d);
    tavro::blendI420(src.y.data(), 1280, src.u.data(), 640, src.v.data(), 640, blurred.y.data(),
                     1280, blurred.u.data(), 640, blurred.v.data(), 640, alpha.data(), 1280,
                     src.y.data(), 1280, src.u.data(), 640, src.v.data(), 640, 1280, 720);
    benchmark::DoNotOptimize(src.y.data());
  }
  DestroyMattingFrame(mf);
}
BENCHMARK(BM_Bokeh1280x720)->Unit(benchmark::kMillisecond);

void BM_BlendI420_1280x720(benchmark::State& state) {
  tavro_bench::ShiftedFrame a(1280, 720, 0), b(1280, 720, 5);
  std::vector<uint8_t> alpha(1280 * 720, 128);
  for (auto _ : state) {
    tavro::blendI420(a.y.data(), 1280, a.u.data(), 640, a.v.data(), 640, b.y.data(), 1280,
                     b.u.data(), 640, b.v.data(), 640, alpha.data(), 1280, a.y.data(), 1280,
                     a.u.data(), 640, a.v.data(), 640, 1280, 720);
    benchmark::DoNotOptimize(a.y.data());
  }
}
BENCHMARK(BM_BlendI420_1280x720)->Unit(benchmark::kMicrosecond);

void BM_GaussianBlur5x5_1280x720(benchmark::State& state) {
  tavro_bench::ShiftedFrame a(1280, 720, 0);
  std::vector<uint16_t> rows(5 * 1280);
  for (auto _ : state) {
    GaussianBlur5x5(a.y.data(), a.y.data(), rows.data(), 1280, 720);
    benchmark::DoNotOptimize(a.y.data());
  }
}
BENCHMARK(BM_GaussianBlur5x5_1280x720)->Unit(benchmark::kMicrosecond);

void BM_SkinMedianBlur320x224(benchmark::State& state) {
  tavro_bench::ShiftedFrame a(320, 224, 0);
  std::vector<uint8_t> skin(320 * 224, 0), pad(328 * 224), mask(320 * 224);
  for (auto _ : state) {
    mask = a.y;
    SkinMedianBlur(mask.data(), skin.data(), pad.data(), 320, 224, 9);
    benchmark::DoNotOptimize(mask.data());
  }
}
BENCHMARK(BM_SkinMedianBlur320x224)->Unit(benchmark::kMicrosecond);

// What the filter really sees: a mask, flat 0 and 255 with a soft outline
// (a head-and-shoulders ellipse with a few grey levels across its edge).
void BM_SkinMedianBlurMask320x224(benchmark::State& state) {
  std::vector<uint8_t> person(320 * 224), skin(320 * 224, 0), pad(328 * 224), mask(320 * 224);
  for (int y = 0; y < 224; ++y)
    for (int x = 0; x < 320; ++x) {
      const float dx = (x - 160) / 90.f, dy = (y - 200) / 150.f;
      const float d = (1.f - std::sqrt(dx * dx + dy * dy)) * 40.f;
      person[size_t(y) * 320 + x] = uint8_t(std::clamp(d * 255.f, 0.f, 255.f));
    }
  for (auto _ : state) {
    mask = person;
    SkinMedianBlur(mask.data(), skin.data(), pad.data(), 320, 224, 9);
    benchmark::DoNotOptimize(mask.data());
  }
}
BENCHMARK(BM_SkinMedianBlurMask320x224)->Unit(benchmark::kMicrosecond);

void BM_FlowPair320x224(benchmark::State& state) {
  tavro_bench::ShiftedFrame a(320, 224, 0), b(320, 224, 6);
  auto dis = CreateFlowObject(3);
  FlowScratch scratch;
  std::vector<int16_t> fwd(2 * 320 * 224), bwd(2 * 320 * 224);
  for (auto _ : state) {
    ComputeFlowPair(*dis, 3, a.y.data(), b.y.data(), 320, 224, fwd.data(), bwd.data(), scratch);
    benchmark::DoNotOptimize(fwd.data());
  }
}
BENCHMARK(BM_FlowPair320x224)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
