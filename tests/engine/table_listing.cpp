// Prints every row of the convolution and depthwise dispatch tables with a
// kernel: its function's name and the features it requires, for
// table_isa_test.py.
#include <cstdio>

#include "engine/simd/kernel_choice.h"

int main() {
  using namespace TAVROMATTING;
  for (const auto& table : {ConvTable(), DepthwiseTable()})
    for (const ConvTableRow& row : table) {
      if (!row.member.kernel) continue;
      std::printf("%s%s%s%s\n", row.member.symbol, row.requires & kFeatureAvx ? " avx" : "",
                  row.requires & kFeatureAvx2 ? " avx2" : "",
                  row.requires & kFeatureFma ? " fma" : "");
    }
  return 0;
}
