// Lending of the scopes' blocks to libyuv (see yuv_scratch.h).
#include "matting/yuv_scratch.h"

#include <atomic>
#include <cstdlib>
#include <thread>

#include "matting/yuv_scratch_thread.h"

namespace TavroMatting {

// The scopes alive now, newest first, under a spin lock: it takes no memory
// and is held only for a walk of a list as long as the number of threads
// scaling at this moment.
struct YuvScratchList {
  static std::atomic_flag busy;
  static YuvScratchScope* head;
  static std::atomic<uint64_t> lends;

  struct Lock {
    Lock() {
      while (busy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
    }
    ~Lock() { busy.clear(std::memory_order_release); }
  };

  // This thread's newest scope, or null. Called under the lock.
  static YuvScratchScope* Mine() {
    const uintptr_t self = CurrentThreadTag();
    for (YuvScratchScope* s = head; s; s = s->next_)
      if (s->thread_ == self) return s;
    return nullptr;
  }

  static void* Malloc(size_t n) {
    {
      Lock lock;
      YuvScratchScope* s = Mine();
      if (s && !s->lent_ && n <= s->size_) {
        s->lent_ = true;
        lends.fetch_add(1, std::memory_order_relaxed);
        return s->block_;
      }
    }
    return std::malloc(n);
  }

  static void Free(void* p) {
    if (!p) return;
    {
      Lock lock;
      YuvScratchScope* s = Mine();
      if (s && s->lent_ && p == s->block_) {
        s->lent_ = false;
        return;
      }
    }
    std::free(p);
  }
};

std::atomic_flag YuvScratchList::busy = ATOMIC_FLAG_INIT;
YuvScratchScope* YuvScratchList::head = nullptr;
std::atomic<uint64_t> YuvScratchList::lends{0};

YuvScratchScope::YuvScratchScope(size_t bytes) {
  block_ = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
  if (!block_) return;
  size_ = bytes;
  thread_ = CurrentThreadTag();
  YuvScratchList::Lock lock;
  next_ = YuvScratchList::head;
  YuvScratchList::head = this;
}

YuvScratchScope::~YuvScratchScope() {
  if (!block_) return;
  {
    YuvScratchList::Lock lock;
    for (YuvScratchScope** at = &YuvScratchList::head; *at; at = &(*at)->next_) {
      if (*at == this) {
        *at = next_;
        break;
      }
    }
  }
  std::free(block_);
}

uint64_t YuvScratchLends() { return YuvScratchList::lends.load(std::memory_order_relaxed); }

}  // namespace TavroMatting

// What libyuv's malloc and free were renamed to.
extern "C" void* tavro_yuv_malloc(size_t n) { return TavroMatting::YuvScratchList::Malloc(n); }
extern "C" void tavro_yuv_free(void* p) { TavroMatting::YuvScratchList::Free(p); }
