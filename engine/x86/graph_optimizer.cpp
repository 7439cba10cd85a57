// Graph optimisation of the x86 environment, run once after construction:
// activations fold into their producers (and then run in place or fused),
// Sigmoid/HardSigmoid + Mul pairs become Swish/HardSwish, element-wise Add
// and Mul write in place into an input that is no longer needed, a
// Dequantize after a convolution is folded into it, concats fold into the 1x1
// convolutions that read them, batch normalisations into the transposed
// convolutions they follow, the input normalisation into the first
// convolution, the mask layer into the sigmoid before it, and concats of
// convolutions into the convolutions, which fill their slices.
#include <vector>

#include "engine/core/activation.h"
#include "engine/core/net.h"
#include "engine/matting/mask.h"
#include "engine/x86/layers.h"
#include "engine/x86/run_env.h"

namespace TAVROMATTING {
namespace x86 {

namespace {

void FoldActivation(Layer* layer, Tensor* in0, Tensor* out0) {
  if (!dynamic_cast<core::Activation*>(layer) || in0->consumers.size() != 1) return;
  if (in0 == out0) return;
  Layer* producer = in0->producer;
  if (!producer) return;
  bool present = false;
  for (Layer* a : producer->attached) present = present || a == layer;
  if (!present) producer->attached.push_back(layer);
  ReplaceTensor(producer->outputs, in0, out0);
  ReplaceTensor(layer->inputs, in0, out0);
  out0->producer = producer;
  layer->visited = true;
}

void FormPair(Layer* layer, Tensor* in0, Tensor* out0, const char* sigmoidType,
              uint32_t newKind, const char* newType) {
  if (in0->consumers.size() != 2 || layer->type != sigmoidType || layer->visited || in0 == out0)
    return;
  Layer* other = in0->consumers[0] == layer ? in0->consumers[1] : in0->consumers[0];
  if (out0->consumers.empty() || out0->consumers[0] != other) return;
  if (other->type != "Mul" || other->visited) return;
  auto* act = dynamic_cast<core::Activation*>(layer);
  if (!act) return;
  other->folded = true;
  ReplaceTensor(layer->outputs, out0, in0);
  act->kind = newKind;
  layer->type = newType;
  if (!other->outputs.empty()) {
    Tensor* mulOut = other->outputs[0];
    for (Layer* consumer : mulOut->consumers) ReplaceTensor(consumer->inputs, mulOut, in0);
  }
  layer->visited = true;
  other->visited = true;
}

void InPlaceElementwise(Layer* layer, Tensor* out0) {
  if ((layer->type != "Add" && layer->type != "Mul") || layer->visited) return;
  for (Tensor* t : layer->inputs) {
    if (!t->producer) continue;
    bool lastUse = true;
    for (Layer* c : t->consumers) lastUse = lastUse && c->index <= layer->index;
    if (!lastUse || t->h != out0->h || t->w != out0->w || t->c != out0->c) continue;
    for (Layer* consumer : out0->consumers) ReplaceTensor(consumer->inputs, out0, t);
    ReplaceTensor(layer->outputs, out0, t);
    t->producer = layer;
    layer->visited = true;
    return;
  }
}

void FoldDequantize(Layer* layer, Tensor* in0, Tensor* out0) {
  if (in0->consumers.size() != 1 || layer->type != "Dequantize") return;
  auto* conv = dynamic_cast<x86::Conv*>(in0->producer);
  if (!conv) return;
  conv->dequantizeOutput = 1;
  ReplaceTensor(conv->outputs, in0, out0);
  out0->producer = conv;
  ReplaceTensor(layer->outputs, out0, in0);
  layer->folded = true;
}

// A concat whose output only the next layer reads, a 1x1 stride-1
// convolution without padding: the convolution reads the concat's inputs in
// place and the concat is skipped, which saves writing the joined tensor and
// reading it back. (Next layer only, so nothing runs in between that could
// change the inputs.)
void FoldConcatIntoConv(const std::vector<Layer*>& layers, size_t i) {
  auto* concat = dynamic_cast<simd::Concat*>(layers[i]);
  if (!concat || concat->folded || i + 1 >= layers.size()) return;
  if (concat->inputs.empty() || concat->outputs.size() != 1) return;
  Tensor* joined = concat->outputs[0];
  auto* conv = dynamic_cast<simd::Conv*>(layers[i + 1]);
  if (!conv || joined->consumers.size() != 1 || joined->consumers[0] != conv) return;
  if (conv->inputs.size() != 1 || conv->inputs[0] != joined || conv->concatInput) return;
  if (conv->kernelW != 1 || conv->kernelH != 1 || conv->strideX != 1 || conv->strideY != 1 ||
      conv->padLeft || conv->padRight || conv->padTop || conv->padBottom || conv->group != 1)
    return;
  for (Tensor* t : concat->inputs)
    if (t == joined) return;
  conv->concatInput = concat;
  concat->folded = true;
}

// `layer` as an L with one input and one output that no fold has taken yet;
// null otherwise.
template <class L>
L* OneInOneOut(Layer* layer) {
  auto* l = dynamic_cast<L*>(layer);
  return l && !l->folded && l->inputs.size() == 1 && l->outputs.size() == 1 ? l : nullptr;
}

// A batch normalisation whose input only it reads, produced by a transposed
// convolution: the convolution applies it (and the activation attached to
// it) on its output, writing the normalisation's output blob directly.
void FoldBatchnormIntoDeconv(Layer* layer) {
  auto* bn = OneInOneOut<simd::Batchnorm>(layer);
  if (!bn) return;
  Tensor* in0 = bn->inputs[0];
  Tensor* out0 = bn->outputs[0];
  auto* deconv = dynamic_cast<simd::DeConv*>(in0->producer);
  if (!deconv || deconv->outputBatchnorm || in0 == out0 || in0->consumers.size() != 1) return;
  if (deconv->outputs.size() != 1 || !deconv->attached.empty()) return;
  deconv->outputBatchnorm = bn;
  ReplaceTensor(deconv->outputs, in0, out0);
  // The skipped layer still sizes its output from its input when the network
  // is prepared: let it read the blob it writes, as an in-place layer.
  ReplaceTensor(bn->inputs, in0, out0);
  out0->producer = deconv;
  deconv->attached = bn->attached;
  bn->attached.clear();
  bn->folded = true;
}

// An input normalisation whose output only an x86 convolution reads: the
// convolution takes the bytes itself when its member can (otherwise it runs
// the normalisation first).
void FoldNormalizeIntoConv(Layer* layer) {
  auto* norm = OneInOneOut<simd::Normalize>(layer);
  if (!norm || norm->outputs[0]->consumers.size() != 1) return;
  Tensor* out0 = norm->outputs[0];
  auto* conv = dynamic_cast<x86::Conv*>(out0->consumers[0]);
  if (!conv || conv->inputNormalize || conv->inputs.size() != 1 || conv->inputs[0] != out0 ||
      conv->concatInput)
    return;
  conv->inputNormalize = norm;
  norm->folded = true;
}

// The mask layer reading the output of a sigmoid (or swish) that nothing
// else reads: the activation writes the mask bytes itself.
void FoldMaskIntoActivation(Layer* layer) {
  auto* mask = OneInOneOut<matting::Mask>(layer);
  if (!mask) return;
  Tensor* in0 = mask->inputs[0];
  if (in0->consumers.size() != 1 || !in0->producer) return;
  // The activation itself, or (attached to its producer) running in place.
  auto* act = dynamic_cast<x86::Activation*>(in0->producer);
  for (Layer* l : in0->producer->attached)
    if (!act) act = dynamic_cast<x86::Activation*>(l);
  if (!act || act->maskOutput || act->outputs.size() != 1 || act->outputs[0] != in0) return;
  if (act->kind != kActSigmoid && act->kind != kActSwish) return;
  act->maskOutput = mask;
  mask->folded = true;
}

// A concat that reads only x86 convolutions whose outputs nothing else reads
// (and that have no activation attached): each convolution fills its channel
// slice of the concat's output, and the concat is skipped.
void FoldConvsIntoConcat(Layer* layer) {
  auto* concat = dynamic_cast<simd::Concat*>(layer);
  if (!concat || concat->folded || concat->inputs.size() < 2 || concat->outputs.size() != 1)
    return;
  std::vector<x86::Conv*> convs;
  for (Tensor* t : concat->inputs) {
    auto* conv = dynamic_cast<x86::Conv*>(t->producer);
    if (!conv || conv->concatOutput || t->consumers.size() != 1 || conv->outputs.size() != 1 ||
        conv->outputs[0] != t || !conv->attached.empty() || t == concat->outputs[0])
      return;
    for (x86::Conv* c : convs)
      if (c == conv) return;
    convs.push_back(conv);
  }
  int offset = 0;
  for (size_t i = 0; i < convs.size(); ++i) {
    convs[i]->concatOutput = concat;
    convs[i]->sliceOffset = offset;
    offset += int(concat->inputs[i]->c);
  }
  concat->folded = true;
}

}  // namespace

bool RunEnv::OptimizeGraph(Net* net) {
  std::vector<Layer*>& layers = net->layers;
  for (Layer* l : layers) l->visited = false;
  for (size_t i = 0; i < layers.size(); ++i) {
    layers[i]->Setup();
    layers[i]->index = uint32_t(i);
  }
  for (Layer* layer : layers) {
    if (layer->inputs.empty() || layer->outputs.empty()) continue;
    Tensor* in0 = layer->inputs[0];
    Tensor* out0 = layer->outputs[0];
    FoldActivation(layer, in0, out0);
    FormPair(layer, in0, out0, "Sigmoid", kActSwish, "Swish");
    FormPair(layer, in0, out0, "HardSigmoid", kActHardSwish, "HardSwish");
    InPlaceElementwise(layer, out0);
    FoldDequantize(layer, in0, out0);
  }
  for (size_t i = 0; i < layers.size(); ++i) FoldConcatIntoConv(layers, i);
  for (Layer* layer : layers) {
    FoldBatchnormIntoDeconv(layer);
    FoldNormalizeIntoConv(layer);
    FoldMaskIntoActivation(layer);
    FoldConvsIntoConcat(layer);
  }
  for (Layer* l : layers) l->visited = false;
  return true;
}

}  // namespace x86
}  // namespace TAVROMATTING
