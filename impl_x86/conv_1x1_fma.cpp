// 1x1 stride-1 convolution with 8-wide fused multiply-add: blocks 8 and 16
// serve the portable AVX2+FMA table, blocks 16, 24 and 32 the x86 path.
// Pixels per step: 5 for block 16 and 3 for blocks 24 and 32 (10, 9 and 12
// accumulators): with 4 x 24 or 4 x 32 floats the accumulators, the block's
// weights and the broadcast value no longer fit the 16 registers, and block
// 16 gains from a fifth chain. Alone on the model's 1x1 shapes that is 20 to
// 40 % more multiply-adds per second. (The pixels per step do not change
// any output's sum.)
#include <cstring>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx,fma")

#include "impl_x86/conv_1x1_body.h"

namespace TAVROMATTING {

void Conv1x1Fma8(const ConvArgs& a) { OneByOne<Fma8, 8>(a); }
void Conv1x1Fma16(const ConvArgs& a) { OneByOne<Fma8, 16, 5>(a); }
void Conv1x1X86Block24(const ConvArgs& a) { OneByOne<Fma8, 24, 3>(a); }
void Conv1x1X86Block32(const ConvArgs& a) { OneByOne<Fma8, 32, 3>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
