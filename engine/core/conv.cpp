#include "engine/core/conv.h"
#include "engine/core/record_slots.h"

namespace TAVROMATTING {
namespace core {

uint32_t WindowExtent(uint32_t in, uint32_t padA, uint32_t padB, uint32_t k, uint32_t d,
                      uint32_t s) {
  const int64_t span = int64_t(in) + padA + padB - (int64_t(k) - 1) * d - 1;
  if (span < 0 || s == 0) return 0;
  return uint32_t(span / s + 1);
}

std::string WindowDescription(uint32_t kh, uint32_t kw, uint32_t sy, uint32_t sx,
                              const Tensor* in, const Tensor* out) {
  std::string d = std::to_string(kh) + "x" + std::to_string(kw);
  if (!(kh == 1 && kw == 1)) d += "_s" + std::to_string(sy) + "x" + std::to_string(sx);
  if (out)
    d += "_" + std::to_string(out->c) + "x" + std::to_string(out->h) + "x" +
         std::to_string(out->w);
  if (in) d += "x" + std::to_string(in->c);
  return d;
}

Conv::Conv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  const std::string t = rec.type ? rec.type : "";
  const int names = RecordBlobCount(rec);
  LinkRecord(rec, blobs, (t == "Conv" && names >= 3) ? 2 : 1);
  const uint32_t* p = rec.params;
  ReadWindowParams(p);
  if (!outputs.empty()) outputs[0]->outputTag = p[slot::kOutputTag];

  const int wc = RecordWeightCount(rec, weights);
  int first = 0;
  if (wc >= 7) {
    auxMode = 2;
    for (int i = 0; i < 6; ++i) aux[i] = RecordWeight(rec, weights, i);
    first = 6;
  } else if (wc >= 4) {
    auxMode = 1;
    for (int i = 0; i < 3; ++i) aux[i] = RecordWeight(rec, weights, i);
    first = 3;
  }
  if (wc > first) {
    weight = RecordWeight(rec, weights, first);
    bias = wc > first + 1 ? RecordWeight(rec, weights, first + 1)
                          : RecordWeight(rec, weights, -1);
    if (!bias) {
      auto it = weights.find("__dummy_zero_tensor__");
      bias = it == weights.end() ? nullptr : &it->second;
    }
  }
  if (weight) {
    weightN = weight->n;
    weightH = weight->h;
    weightW = weight->w;
    weightC = weight->c;
  }
}

void Conv::WindowOutput(const Tensor& in, uint32_t* oh, uint32_t* ow) const {
  *oh = WindowExtent(in.h, padTop, padBottom, kernelH, dilationY, strideY);
  *ow = WindowExtent(in.w, padLeft, padRight, kernelW, dilationX, strideX);
}

void Conv::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  Tensor& in = *inputs[0];
  uint32_t oh, ow;
  WindowOutput(in, &oh, &ow);
  outputs[0]->SetShape(1, oh, ow, weightN, in.format);
  const uint64_t welems = uint64_t(weightN) * weightH * weightW * weightC;
  flops = 2 * welems * oh * ow;
}

std::string Conv::Description() const {
  return WindowDescription(kernelH, kernelW, strideY, strideX,
                           inputs.empty() ? nullptr : inputs[0],
                           outputs.empty() ? nullptr : outputs[0]);
}

DepthwiseConv::DepthwiseConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
    : Conv(rec, blobs, weights) {
  group = rec.params[slot::kGroup] ? rec.params[slot::kGroup] : 1;
}

DeConv::DeConv(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights)
    : Conv(rec, blobs, weights) {
  outHeight = rec.params[slot::kOutHeight];
  outWidth = rec.params[slot::kOutWidth];
}

void DeConv::Setup() {
  if (inputs.empty() || outputs.empty()) return;
  Tensor& in = *inputs[0];
  uint32_t oh, ow;
  if (outHeight && outWidth) {
    oh = outHeight;
    ow = outWidth;
    const int64_t th = (int64_t(in.h) - 1) * strideY + kernelH - oh;
    const int64_t tw = (int64_t(in.w) - 1) * strideX + kernelW - ow;
    padTop = uint32_t(th / 2);
    padBottom = uint32_t(th - th / 2);
    padLeft = uint32_t(tw / 2);
    padRight = uint32_t(tw - tw / 2);
  } else {
    const int64_t h = (int64_t(in.h) - 1) * strideY - padTop - padBottom + kernelH;
    const int64_t w = (int64_t(in.w) - 1) * strideX - padLeft - padRight + kernelW;
    oh = h > 0 ? uint32_t(h) : 0;
    ow = w > 0 ? uint32_t(w) : 0;
  }
  outputs[0]->SetShape(1, oh, ow, weightC, in.format);
  // Every input pixel adds its kernel window once per input/output channel pair.
  const uint64_t welems = uint64_t(weightN) * weightH * weightW * weightC;
  flops = 2 * welems * in.h * in.w;
}

}  // namespace core
}  // namespace TAVROMATTING
