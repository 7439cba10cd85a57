// Placeholder network until the engine lands: every mask is all zero.
#include <cstring>

#include "engine/matting_net.h"

namespace TAVROMATTING {

class Net {};

Net* CreateNet(int backendKind, int) { return backendKind == 0 ? new Net : nullptr; }

int RunMattingNet(Net*, const uint8_t*, uint8_t* out, int width, int height) {
  if (out && width > 0 && height > 0) std::memset(out, 0, size_t(width) * height);
  return 0;
}

void DestroyNet(Net* net) { delete net; }

}  // namespace TAVROMATTING
