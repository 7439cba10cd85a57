// The engine's entry points used by the matting pipeline: build the built-in
// network, run one inference from packed B,G,R bytes to an 8-bit mask.
#pragma once

#include <cstdint>

namespace TAVROMATTING {

class Net;

// Builds the built-in portrait network. Only kBackendBuilder (0) is defined;
// returns null for any other kind.
Net* CreateNet(int backendKind, int option);

// Binds rgb (height x width x 3 bytes, B,G,R) as the network input and out
// (height x width bytes) as the mask, prepares the network on first use and
// runs it. Always returns 0.
int RunMattingNet(Net* net, const uint8_t* rgb, uint8_t* out, int width,
                  int height);

// Releases a network made by CreateNet (null is ignored).
void DestroyNet(Net* net);

}  // namespace TAVROMATTING
