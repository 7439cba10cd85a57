// Depthwise convolution, SSE members of block 4 and 8 (4 interior pixels per
// step; the 3x3 stride-1 members fix the window at compile time).
#include "impl_x86/conv_kernels.h"
#include "impl_x86/depthwise_body.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void DepthwiseSse4(const ConvArgs& a) { Depthwise<Sse4, 4, 0, 0, 4>(a); }
void DepthwiseSse8(const ConvArgs& a) { Depthwise<Sse4, 8, 0, 0, 4>(a); }
void Depthwise3x3S1Sse4(const ConvArgs& a) { Depthwise<Sse4, 4, 3, 1, 4>(a); }
void Depthwise3x3S1Sse8(const ConvArgs& a) { Depthwise<Sse4, 8, 3, 1, 4>(a); }

}  // namespace TAVROMATTING
