// The network as the fuzz harnesses see it: same entry points, no kernels.
// The mask is the input's green channel, so every byte of the output is
// written from the input as the real network's would be.
#include <cstddef>
#include <cstdint>

#include "engine/x86/matting_net.h"

namespace TAVROMATTING {

class Net {};

Net* CreateNet(int, int) { return new Net; }

int RunMattingNet(Net* net, const uint8_t* rgb, uint8_t* out, int width, int height) {
  if (!net || !rgb || !out || width < 1 || height < 1) return -1;
  for (size_t i = 0; i < size_t(width) * height; ++i) out[i] = rgb[3 * i + 1];
  return 0;
}

void DestroyNet(Net* net) { delete net; }

}  // namespace TAVROMATTING
