// Registers every layer type under kBackendX86 (the x86 environment).
#include "engine/core/layer_registry.h"
#include "engine/matting/mask.h"
#include "engine/simd/pooling.h"
#include "engine/x86/layers.h"

namespace TAVROMATTING {

namespace {

template <typename T>
Layer* Make(const LayerRecord& rec, TensorMap& blobs, TensorMap& weights) {
  return new T(rec, blobs, weights);
}

constexpr int kX86 = core::kBackendX86;

// type name           class built
const LayerRegistrar kRegistrations[] = {
    {kX86, "Activation", &Make<simd::Activation>},
    {kX86, "BatchNormalization", &Make<simd::Batchnorm>},
    {kX86, "Concat", &Make<x86::Concat>},
    {kX86, "Conv", &Make<x86::Conv>},
    {kX86, "ConvTranspose", &Make<x86::DeConv>},
    {kX86, "DepthwiseConv", &Make<x86::DepthwiseConv>},
    {kX86, "MMA", &Make<simd::MMA>},
    {kX86, "Mattingmask", &Make<matting::Mask>},
    {kX86, "MaxPool", &Make<simd::Pooling>},
    {kX86, "Normalize", &Make<simd::Normalize>},
    {kX86, "Relu", &Make<x86::Activation>},
    {kX86, "Resize", &Make<simd::Resize>},
    {kX86, "ShuffleSplit2", &Make<simd::ShuffleSplit2>},
    {kX86, "Sigmoid", &Make<x86::Activation>},
    {kX86, "Softmax", &Make<simd::Softmax>},
    {kX86, "Upsample", &Make<simd::Resize>},
};

}  // namespace

// Referenced by the x86 run environment so that the linker keeps this file
// (and its static registrations) when the engine is a static library.
void LinkLayerRegistrations() { (void)kRegistrations; }

}  // namespace TAVROMATTING
