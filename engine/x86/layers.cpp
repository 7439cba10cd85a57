#include "engine/x86/layers.h"

#include "engine/x86/cpu_info.h"
#include "impl_x86/elementwise_kernels.h"

namespace TAVROMATTING {
namespace x86 {

namespace {
bool AvxFma() {
  const CpuInfo& cpu = CpuInfo::Get();
  return cpu.HasAvx() && cpu.HasFma();
}
}  // namespace

bool Conv::Forward(core::RunEnv* env) {
  if (AvxFma()) {
    // x86 AVX+FMA path (1x1 blocks 32/24/16, first-layer 16, 3x3 blocks
    // 24/16/4, single-output) goes here; it declines every shape until built.
  }
  return simd::Conv::Forward(env);
}

bool DepthwiseConv::Forward(core::RunEnv* env) {
  if (group == weightN && AvxFma()) {
    // x86 AVX+FMA members (wide-row and general, C % 16 == 0) go here; they
    // decline every shape until built.
  }
  return simd::DepthwiseConv::Forward(env);
}

bool Activation::Forward(core::RunEnv* env) {
  if (kind != kActSigmoid && kind != kActSwish) return simd::Activation::Forward(env);
  if (SkipFused()) return true;
  if (inputs.empty() || outputs.empty()) return false;
  const uint64_t count = inputs[0]->ElementCount();
  float* in = inputs[0]->data();
  float* out = outputs[0]->data();
  if (!in || !out) return false;
  const CpuInfo& cpu = CpuInfo::Get();
  if (cpu.HasAvx2() && cpu.HasFma()) {
    // AVX2+FMA member (rounding-form exp) goes here.
  } else if (cpu.HasAvx()) {
    // AVX member (floor-form exp) goes here.
  }
  ActivationSse(Args(count), in, out, count);
  return true;
}

bool Concat::Forward(core::RunEnv* env) {
  if (inputs.size() == 3 && inputs[0]->c == 8 && inputs[1]->c == 2 && inputs[2]->c == 2 &&
      !outputs.empty() && inputs[0]->h == inputs[1]->h && inputs[0]->h == inputs[2]->h &&
      inputs[0]->w == inputs[1]->w && inputs[0]->w == inputs[2]->w &&
      outputs[0]->h == inputs[0]->h && outputs[0]->w == inputs[0]->w && outputs[0]->c == 12) {
    const float* a = inputs[0]->data();
    const float* b = inputs[1]->data();
    const float* c = inputs[2]->data();
    float* out = outputs[0]->data();
    if (!a || !b || !c || !out) return false;
    const Tensor& t = *inputs[0];
    Concat822(a, b, c, out, uint64_t(t.n ? t.n : 1) * t.h * t.w);
    return true;
  }
  return simd::Concat::Forward(env);
}

}  // namespace x86
}  // namespace TAVROMATTING
