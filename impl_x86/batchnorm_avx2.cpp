// Batch normalisation y = x * a[c] + b[c], AVX2+FMA member (C % 8 == 0):
// unrolled for C = 32, 24, 16 and 8, other multiples of 8 loop over the
// channels.
#include <cstring>
#include <utility>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_avx.h"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#include "impl_x86/elementwise_body.h"

namespace TAVROMATTING {

void BatchnormAvx2(const float* in, float* out, uint64_t pixels, int C, const float* a,
                   const float* b) {
  Batchnorm<Fma8>(in, out, pixels, C, a, b);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
