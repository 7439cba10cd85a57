// POSIX: a thread is told apart by its pthread_t.
#include "matting/yuv_scratch_thread.h"

#include <pthread.h>

namespace TavroMatting {

uintptr_t CurrentThreadTag() { return static_cast<uintptr_t>(pthread_self()); }

}  // namespace TavroMatting
