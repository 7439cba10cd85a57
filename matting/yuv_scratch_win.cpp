// Windows: libyuv is linked into the DLL statically, so it has no import
// slots for malloc and free to send here. Scaling calls keep the check that
// the heap can give their row scratch right before the call.
#include "matting/yuv_scratch.h"

namespace TavroMatting {

bool RedirectLibyuvHeap() { return false; }

// Unused while the heap is not redirected; refuses, so that nothing relies
// on a block that libyuv would never be handed.
YuvScratchScope::YuvScratchScope(size_t) {}
YuvScratchScope::~YuvScratchScope() {}

}  // namespace TavroMatting
