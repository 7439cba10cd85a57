// The engine's entry points for the matting pipeline.
#include "engine/x86/matting_net.h"

#include <cstring>

#include "diagnostics/diagnostics.h"
#include "engine/core/net.h"
#include "engine/x86/run_env.h"
#include "model/portrait_tables.h"

namespace TAVROMATTING {

Net* CreateNet(int backendKind, int option) {
  if (backendKind != core::kBackendBuilder) return nullptr;
  const bool optionOne = option == 1;  // carried, unused by construction
  const bool optionTwo = option == 2;
  (void)optionOne;
  (void)optionTwo;
  tavro_diag::Line("create net start11!");
  std::unique_ptr<core::RunEnv> env(new x86::RunEnv);
  return BuildNet(std::move(env), model::kPortraitWeightRecords, model::kPortraitWeightCount,
                  model::kPortraitLayerRecords, model::kPortraitLayerCount);
}

int RunMattingNet(Net* net, const uint8_t* rgb, uint8_t* out, int width, int height) {
  if (!net || !net->env || width <= 0 || height <= 0 || net->inputNames.empty() ||
      net->outputNames.empty())
    return 0;
  Tensor* input = net->Blob(net->inputNames[0]);
  Tensor* mask = net->Blob(net->outputNames[0]);
  if (!input || !mask) return 0;
  // Shapes are fixed by the first warm-up; another size needs a new network.
  if (net->prepared && (input->h != uint32_t(height) || input->w != uint32_t(width))) {
    if (out) std::memset(out, 0, size_t(width) * size_t(height));
    return 0;
  }
  input->mean[0] = 0.485f;
  input->mean[1] = 0.456f;
  input->mean[2] = 0.406f;
  input->scale[0] = 1.f / 58.395f;
  input->scale[1] = 1.f / 57.12f;
  input->scale[2] = 1.f / 57.375f;
  input->SetShape(1, uint32_t(height), uint32_t(width), 3, kPlain);
  if (rgb) input->Bind(kUint8, const_cast<uint8_t*>(rgb));
  mask->SetShape(1, uint32_t(height), uint32_t(width), 1, kPlain);
  if (net->env->Kind() != core::kBackendFloatMask) {
    if (out) mask->Bind(kUint8, out);
    net->Warmup();
    // A size whose skip connections do not line up (not a multiple of 32)
    // gives the last layer another shape than the caller's buffer: leave the
    // mask at zero rather than write past it.
    if (mask->h != uint32_t(height) || mask->w != uint32_t(width)) {
      if (out) std::memset(out, 0, size_t(width) * size_t(height));
      mask->Bind(kUint8, nullptr);
      return 0;
    }
    net->Run();
    return 0;
  }
  // Float-output environments: the mask is read back from a float buffer.
  uint64_t n = uint64_t(width) * uint64_t(height);
  float* tmp = static_cast<float*>(AlignedAlloc(n * 4));
  if (!tmp) return 0;
  mask->Bind(kFloat32, tmp);
  net->Warmup();
  if (mask->h != uint32_t(height) || mask->w != uint32_t(width)) {
    mask->Bind(kFloat32, nullptr);
    AlignedFree(tmp);
    if (out) std::memset(out, 0, size_t(width) * size_t(height));
    return 0;
  }
  net->Run();
  if (out) {
    const float* v = mask->data();
    for (uint64_t i = 0; i < n; ++i)
      out[i] = v[i] < 0.f ? 0 : v[i] >= 1.f ? 255 : uint8_t(v[i] * 255.f);
  }
  mask->Bind(kFloat32, nullptr);
  AlignedFree(tmp);
  return 0;
}

void DestroyNet(Net* net) { delete net; }

}  // namespace TAVROMATTING
