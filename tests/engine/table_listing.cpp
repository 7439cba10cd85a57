// Prints every row of the convolution, depthwise, pooling, activation and
// elementwise dispatch tables with a kernel: its function's name and the features it
// requires, for table_isa_test.py.
#include <cstdio>

#include "engine/simd/kernel_choice.h"

namespace {

void Print(const char* symbol, uint32_t requires) {
  using namespace TAVROMATTING;
  std::printf("%s%s%s%s\n", symbol, requires & kFeatureAvx ? " avx" : "",
              requires & kFeatureAvx2 ? " avx2" : "", requires & kFeatureFma ? " fma" : "");
}

}  // namespace

int main() {
  using namespace TAVROMATTING;
  for (const auto& table : {ConvTable(), DepthwiseTable()})
    for (const ConvTableRow& row : table)
      if (row.member.kernel) Print(row.member.symbol, row.requires);
  for (const simd::PoolMember& m : simd::PoolTable()) Print(m.symbol, m.requires);
  for (const simd::ActivationMember& m : simd::ActivationTable()) Print(m.symbol, m.requires);
  for (const simd::ElementwiseRow& r : simd::ElementwiseTable()) Print(r.symbol, r.requires);
  return 0;
}
