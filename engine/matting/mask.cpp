#include "engine/matting/mask.h"

#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/half_float.h"

namespace TAVROMATTING {
namespace matting {

Mask::Mask(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  LinkRecord(rec, blobs, 1);
}

void Mask::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  const Tensor& in = *inputs[0];
  outputs[0]->SetShape(in.n, in.h, in.w, 1, in.format);
}

bool Mask::Forward(core::RunEnv* env) {
  if (inputs.empty() || outputs.empty()) return false;
  Tensor& in = *inputs[0];
  uint8_t* out = outputs[0]->byteData();
  if (!out) return false;
  const uint64_t n = uint64_t(in.h) * in.w;
  if (env->halfPrecision && in.halfData()) {
    std::vector<float> tmp(n);
    HalfToFloatArray(in.halfData(), tmp.data(), n);
    MaskToBytes(tmp.data(), n, out);
    return true;
  }
  const float* v = in.data();
  if (!v) return false;
  MaskToBytes(v, n, out);
  return true;
}

}  // namespace matting
}  // namespace TAVROMATTING
