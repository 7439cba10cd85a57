// Bilinear resize, AVX2+FMA member (C % 8 == 0).
#include <cstring>
#include <utility>
#include <vector>

#include "impl_x86/elementwise_kernels.h"
#include "impl_x86/vec_avx.h"

#pragma GCC push_options
#pragma GCC target("avx2,fma")

#include "impl_x86/elementwise_body.h"

namespace TAVROMATTING {

void ResizeBilinearAvx2(const ResizeArgs& a) { Bilinear<Fma8, true>(a); }

}  // namespace TAVROMATTING

#pragma GCC pop_options
