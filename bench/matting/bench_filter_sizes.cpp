// Cost of the whole filter per frame at 720p, 1080p and 4K: the matting
// pipeline with optical flow and the media filter on, alone, then with the
// host's masked background blur (host/composite) or the module's bokeh
// (its blur and blend) after it. "CPU" is the calling thread's time; the
// pipeline's MattingThread works beside it (see "Time").
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/shifted_frame.h"
#include "blend/blend_i420.h"
#include "host/composite/compositor.h"
#include "matting/matting_frame.h"

using namespace TavroMatting;

namespace {

enum Composite { kNone, kBlur, kBokeh };

// Copies `in` into `out`, then blurs out's background under `mask` with the
// host's compositor, as the element does with each frame.
void MaskedBlur(const tavro_bench::ShiftedFrame& in, tavro_bench::ShiftedFrame& out,
                const std::vector<uint8_t>& mask, int w, int h,
                tavro_host::Compositor& compositor) {
  out.y = in.y;
  out.u = in.u;
  out.v = in.v;
  tavro_host::PlanarFrame f;
  f.plane[0] = {out.y.data(), w, h, w};
  f.plane[1] = {out.u.data(), w / 2, h / 2, w / 2};
  f.plane[2] = {out.v.data(), w / 2, h / 2, w / 2};
  compositor.composite(f, mask.data(), w, tavro_host::Backdrop());
}

void BM_FilterAtSize(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  const auto composite = static_cast<Composite>(state.range(2));
  MattingFrame* mf = CreateMattingFrame(320, 224);
  tavro_bench::ShiftedFrame a(w, h, 0), b(w, h, 6), out(w, h, 0), blurred(w, h, 0);
  std::vector<uint8_t> mask(size_t(w) * h);
  const MaskView view{mask.data(), w, h};
  const MattingSettings first = MakeMattingSettings(320, 224, 1, 1, 1);
  const MattingSettings next = MakeMattingSettings(320, 224, 0, 1, 1);
  PlanarImage pa = a.Planar();
  ProcessMattingFrame(mf, &pa, &view, &first);
  tavro_host::Compositor compositor;
  compositor.setSettings(tavro_host::CompositeSettings());
  bool odd = false;
  for (auto _ : state) {
    tavro_bench::ShiftedFrame& in = odd ? a : b;
    PlanarImage p = in.Planar();
    ProcessMattingFrame(mf, &p, &view, &next);
    // The mask of a checkerboard is empty: half the frame counts as the
    // person, so the composite has an edge to work along.
    for (int r = 0; r < h; ++r) std::fill_n(mask.data() + size_t(r) * w + w / 4, w / 2, 255);
    if (composite == kBlur) {
      MaskedBlur(in, out, mask, w, h, compositor);
    } else if (composite == kBokeh) {
      out.y = in.y;
      out.u = in.u;
      out.v = in.v;
      PlanarImage s = out.Planar(), d = blurred.Planar();
      BlurMattingImage(mf, &s, &d);
      tavro::blendI420(out.y.data(), w, out.u.data(), w / 2, out.v.data(), w / 2,
                       blurred.y.data(), w, blurred.u.data(), w / 2, blurred.v.data(), w / 2,
                       mask.data(), w, out.y.data(), w, out.u.data(), w / 2, out.v.data(),
                       w / 2, w, h);
    }
    odd = !odd;
    benchmark::DoNotOptimize(out.y.data());
  }
  DestroyMattingFrame(mf);
  static const char* kNames[] = {"flow + media filter", "flow + media filter + masked blur",
                                 "flow + media filter + module bokeh"};
  state.SetLabel(kNames[composite]);
}
BENCHMARK(BM_FilterAtSize)
    ->ArgNames({"w", "h", "composite"})
    ->Args({1280, 720, kNone})->Args({1280, 720, kBlur})->Args({1280, 720, kBokeh})
    ->Args({1920, 1080, kNone})->Args({1920, 1080, kBlur})->Args({1920, 1080, kBokeh})
    ->Args({3840, 2160, kNone})->Args({3840, 2160, kBlur})->Args({3840, 2160, kBokeh})
    ->Unit(benchmark::kMillisecond);

// The masked blur alone (a copy of the frame composited over its blurred
// background), where large frames must cost in proportion.
void BM_MaskedBlurAtSize(benchmark::State& state) {
  const int w = int(state.range(0)), h = int(state.range(1));
  tavro_bench::ShiftedFrame in(w, h, 0), out(w, h, 0);
  std::vector<uint8_t> mask(size_t(w) * h, 0);
  for (int r = 0; r < h; ++r) std::fill_n(mask.data() + size_t(r) * w + w / 4, w / 2, 255);
  tavro_host::Compositor compositor;
  compositor.setSettings(tavro_host::CompositeSettings());
  for (auto _ : state) {
    MaskedBlur(in, out, mask, w, h, compositor);
    benchmark::DoNotOptimize(out.y.data());
  }
}
BENCHMARK(BM_MaskedBlurAtSize)
    ->ArgNames({"w", "h"})->Args({1280, 720})->Args({1920, 1080})->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

}  // namespace
