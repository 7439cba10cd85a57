// Dispatch table of the x86 AVX+FMA path, first matching row wins.
#include "engine/x86/kernel_choice.h"

#include "engine/core/tensor.h"
#include "impl_x86/conv_kernels.h"

namespace TAVROMATTING {
namespace x86 {

namespace {
// C fills blocks of b exactly, or a single block of b with b - C zero filters
// without fitting the next smaller block (b / 2 < C < b for 32 and 16,
// 16 < C < 24 for 24).
bool Fits(int C, int b, int below) { return C % b == 0 || (C > below && C < b); }
bool Fits32(int C) { return Fits(C, 32, 24); }
bool Fits24(int C) { return Fits(C, 24, 16); }
bool Fits16(int C) { return Fits(C, 16, 8); }
// The members that write pixels a.outStride floats apart, so their output can
// be a channel slice of a wider tensor.
ConvMember Strided(ConvMember m) {
  m.strided = true;
  return m;
}
}  // namespace

ConvMember ChooseConvMember(const ConvArgs& a, bool inputHasFloat, const KernelFeatures& f) {
  if (!f.AvxFma()) return {nullptr, 0, false, "declines: no AVX+FMA"};
  const int C = a.C, Cin = a.Cin;
  if (a.kh == 1 && a.kw == 1 && a.sw == 1 && a.dh == 1) {
    if (Fits32(C)) return Strided({Conv1x1X86Block32, kBlock32, true, "1x1 block 32"});
    if (Fits24(C)) return Strided({Conv1x1X86Block24, kBlock24, true, "1x1 block 24"});
    if (Fits16(C)) return Strided({Conv1x1Fma16, kBlock16, true, "1x1 block 16"});
    if (C < 8) return Strided({Conv1x1X86Block4, kBlock4, true, "1x1 block 4"});
    return {nullptr, 0, false, "declines: 1x1 channels"};
  }
  if (a.kh == 2 && a.kw == 2 && C <= 4)
    return Strided({Conv2x2X86Block4, kBlock4, true, "2x2 block 4"});
  if (a.kh != 3 || a.kw != 3) return {nullptr, 0, false, "declines: kernel size"};
  if (Fits16(C) && a.sw == 2 && a.sh == 2 && a.dw == 1 && a.dh == 1 && a.padR == 1 &&
      (Cin == 1 || Cin == 3))
    return {ConvFirstLayerX86, kChannelBlock16, true, "first-layer block 16"};
  if (C % 8 == 0 && Cin == 3 && a.sw == 2 && a.sh == 2 && a.dw == 1 && a.dh == 1)
    return {ConvFirstLayerX86Rows, kBlock8, true, "first-layer packed rows", false, true};
  if (C == 3 && Cin == 4 && a.sw == 1 && a.dw == 1 && a.Wo % 32 == 0)
    return {Conv3OutputX86, kRowChannelFilter, true, "3-output"};
  if (Fits24(C) && a.sw == 1 && a.padL == 1 && a.dw == 1)
    return Strided({Conv3x3X86Block24, kBlock24, true, "3x3 block 24"});
  if (Fits16(C) && a.sw == 1 && a.padL == 1 && a.dw == 1)
    return Strided({Conv3x3X86Block16, kBlock16, true, "3x3 stride 1 block 16"});
  if (Fits16(C) && a.sw == 1)
    return Strided({Conv3x3X86Block16, kBlock16, true, "general 3x3 block 16"});
  if (Fits16(C) && a.sw == 2 && inputHasFloat && a.sh == 2 && a.padL == 1 && a.padR == 1 &&
      a.dw == 1)
    return Strided({Conv3x3X86Block16S2, kBlock16, true, "3x3 stride 2 block 16"});
  if (C == 1 && Cin == 3 && a.sw == 1 && a.padL == 1 && a.dh == 1)
    return {ConvSingleOutputX86, kChannelBlock1, true, "single-output"};
  if (C == 1 && Cin == 4 && (a.inStride == 0 || a.inStride == 4) && a.sw == 1 && a.dw == 1)
    return Strided({ConvSingleOutputX86Pairs, kPlain, true, "single-output 4-channel pairs"});
  if (C < 2) return {nullptr, 0, false, "declines: one channel"};
  if (a.sw == 1 && a.padL == 1 && a.dw == 1)
    return Strided({Conv3x3X86Block4, kBlock4, true, "3x3 block 4"});
  if (C > 4) return {nullptr, 0, false, "declines: 3x3 channels"};
  if (a.sw == 2 && a.padL == 2 && a.dw == 2)
    return Strided({Conv3x3X86Block4S2D2, kBlock4, true, "3x3 block 4 stride 2 dilation 2"});
  return Strided({Conv3x3X86Block4General, kBlock4, true, "general 3x3 block 4"});
}

ConvMember ChooseDepthwiseMember(const ConvArgs& a, const KernelFeatures& f) {
  if (!f.AvxFma()) return {nullptr, 0, false, "declines: no AVX+FMA"};
  if (a.kh != 3 || a.kw != 3 || (a.C % 16 != 0 && a.C % 24 != 0))
    return {nullptr, 0, false, "declines: shape"};
  if (a.C % 16 == 0 && a.sw == 1 && a.Wo >= 56)
    return {DepthwiseX86WideRow, kBlock16, true, "wide-row"};
  // Three blocks of 8 channels: 12 accumulators in flight instead of 8 (or
  // 4 on the portable block-8 members), which hides the multiply-add latency.
  if (a.C % 24 == 0) return {DepthwiseX86Block24, kBlock24, true, "block 24"};
  return {DepthwiseX86General, kBlock16, true, "general"};
}

}  // namespace x86
}  // namespace TAVROMATTING
