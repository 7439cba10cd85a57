// Which AVX+FMA kernel the x86 convolution and depthwise layers run, as pure
// functions of the layer shape and the features; a null kernel means the x86
// path declines and the portable forward pass runs. Members of this path fuse
// an attached Relu (kActRelu) only.
#pragma once

#include "engine/simd/kernel_choice.h"

namespace TAVROMATTING {
namespace x86 {

// inputHasFloat: the input tensor has a float buffer (the stride-2 block-16
// member cannot read an 8-bit input).
ConvMember ChooseConvMember(const ConvArgs& a, bool inputHasFloat, const KernelFeatures& f);
// Pure depthwise layers (groups == channels).
ConvMember ChooseDepthwiseMember(const ConvArgs& a, const KernelFeatures& f);

}  // namespace x86
}  // namespace TAVROMATTING
