// Direct blocked convolution, SSE members of block 4 and 8, and the first-
// layer member (the same body with the input channel count fixed).
#include <vector>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/direct_body.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void ConvDirectSse4(const ConvArgs& a) { Direct<Sse4, 4, 0, 0, 0>(a); }
void ConvDirectSse8(const ConvArgs& a) { Direct<Sse4, 8, 0, 0, 0>(a); }

void ConvFirstLayerSse(const ConvArgs& a) { DirectFirstLayer<Sse4, 4, 0, 0>(a); }

}  // namespace TAVROMATTING
