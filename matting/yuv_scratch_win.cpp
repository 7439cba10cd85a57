// Windows: a thread is told apart by its id (also for threads the host made
// without the C runtime's knowledge).
#include "matting/yuv_scratch_thread.h"

#include <windows.h>

namespace TavroMatting {

uintptr_t CurrentThreadTag() { return static_cast<uintptr_t>(GetCurrentThreadId()); }

}  // namespace TavroMatting
