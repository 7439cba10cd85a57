// 1x1 stride-1 convolution, SSE members of block 4 and 8.
#include "impl_x86/conv_1x1_body.h"
#include "impl_x86/conv_kernels.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void Conv1x1Sse4(const ConvArgs& a) { OneByOne<Sse4, 4>(a); }
void Conv1x1Sse8(const ConvArgs& a) { OneByOne<Sse4, 8>(a); }

}  // namespace TAVROMATTING
