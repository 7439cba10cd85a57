// MMA, AVX member (C % 8 == 0): y[p, c] = (v[c] + s[p]) * x[p, c], then the
// fused activation (multiply then add, as the SSE member).
#include <cstring>
#include <utility>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_avx.h"

#pragma GCC push_options
#pragma GCC target("avx")

#include "impl_x86/elementwise_body.h"

namespace TAVROMATTING {

void MmaAvx(const float* x, const float* v, const float* s, float* out, uint64_t pixels, int C,
            const FusedAct& act) {
  Mma<Avx8>(x, v, s, out, pixels, C, act);
}

}  // namespace TAVROMATTING

#pragma GCC pop_options
