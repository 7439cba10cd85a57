// Pooling, AVX members of 8 and 16 channels (the 4-channel rows use the SSE
// members).
#include <cfloat>
#include <cstring>

#include "impl_x86/pooling_kernels.h"
#include "impl_x86/vec_avx.h"
#include "impl_x86/weight_layout.h"

#pragma GCC push_options
#pragma GCC target("avx")

#include "impl_x86/pooling_body.h"

namespace TAVROMATTING {

void PoolAvx8(const ConvArgs& a, PoolOp op) { PoolMember<Avx8, 8>(a, op); }
void PoolAvx16(const ConvArgs& a, PoolOp op) { PoolMember<Avx8, 16>(a, op); }
void MaxPool3x3S2Avx8(const ConvArgs& a) { MaxPool3x3S2<Avx8, 8>(a); }
void MaxPool3x3S2Avx16(const ConvArgs& a) { MaxPool3x3S2<Avx8, 16>(a); }
void GlobalAverageAvx8(const float* in, int pixels, int C, float* out) {
  GlobalAverage<Avx8, 8>(in, pixels, C, out);
}
void GlobalAverageAvx16(const float* in, int pixels, int C, float* out) {
  GlobalAverage<Avx8, 16>(in, pixels, C, out);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
