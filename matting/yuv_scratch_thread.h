// The platform's tag of the calling thread, which tells the scratch scopes
// of different threads apart (yuv_scratch_posix.cpp, yuv_scratch_win.cpp).
// It takes no memory and registers nothing.
#pragma once

#include <cstdint>

namespace TavroMatting {

uintptr_t CurrentThreadTag();

}  // namespace TavroMatting
