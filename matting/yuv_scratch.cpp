// Lending of the per-thread row scratch to libyuv (see yuv_scratch.h).
#include <cstdlib>

#include "matting/yuv_scratch.h"
#include "matting/yuv_scratch_thread.h"

namespace TavroMatting {

YuvScratch* ThreadYuvScratch(bool make) {
  YuvScratch* s = GetThreadSlot();
  if (s || !make) return s;
  s = static_cast<YuvScratch*>(std::calloc(1, sizeof(YuvScratch)));
  if (!s) return nullptr;
  if (!SetThreadSlot(s)) {
    std::free(s);
    return nullptr;
  }
  return s;
}

void FreeYuvScratch(YuvScratch* s) {
  if (!s) return;
  std::free(s->block);
  std::free(s);
}

void* YuvScratchMalloc(size_t n) {
  YuvScratch* s = ThreadYuvScratch(false);
  if (s && s->active && !s->lent && n <= s->size) {
    s->lent = true;
    ++s->lends;
    return s->block;
  }
  return std::malloc(n);
}

void YuvScratchFree(void* p) {
  YuvScratch* s = ThreadYuvScratch(false);
  if (p && s && s->lent && p == s->block) {
    s->lent = false;
    return;
  }
  std::free(p);
}

YuvScratchScope::YuvScratchScope(size_t bytes) {
  YuvScratch* s = ThreadYuvScratch(true);
  if (!s) return;
  if (s->size < bytes) {
    std::free(s->block);
    s->size = 0;
    s->block = static_cast<uint8_t*>(std::malloc(bytes));
    if (!s->block) return;
    s->size = bytes;
  }
  s->active = true;
  ok_ = true;
}

YuvScratchScope::~YuvScratchScope() {
  if (!ok_) return;
  if (YuvScratch* s = ThreadYuvScratch(false)) s->active = false;
}

}  // namespace TavroMatting
