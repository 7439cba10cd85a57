// Convolution with one output channel, SSE member (interior pixels 4 at a
// time when each kernel row's run is a multiple of 4 floats).
#include <xmmintrin.h>

#include "impl_x86/conv_kernels.h"
#include "impl_x86/single_output_body.h"
#include "impl_x86/vec_sse.h"

namespace TAVROMATTING {

void ConvSingleOutput(const ConvArgs& a) { SingleOutput<Sse4, true>(a); }

}  // namespace TAVROMATTING
