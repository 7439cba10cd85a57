// Windows: libyuv is linked into the DLL statically. The build renames the
// malloc and free that libyuv's objects call to tavro_yuv_malloc and
// tavro_yuv_free (objcopy --redefine-sym, scripts/build-windows.sh), which
// are defined here. Records are kept in a fiber-local slot, whose callback
// frees them at thread exit.
#include "matting/yuv_scratch.h"
#include "matting/yuv_scratch_thread.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>

#include <libyuv/scale.h>

extern "C" void* tavro_yuv_malloc(size_t n) { return TavroMatting::YuvScratchMalloc(n); }
extern "C" void tavro_yuv_free(void* p) { TavroMatting::YuvScratchFree(p); }

namespace TavroMatting {

namespace {

void WINAPI FreeThreadScratch(void* value) { FreeYuvScratch(static_cast<YuvScratch*>(value)); }

// The slot is given back when the DLL unloads, so that no thread exit later
// calls into unloaded code.
struct Slot {
  DWORD index = FLS_OUT_OF_INDEXES;
  ~Slot() {
    if (index != FLS_OUT_OF_INDEXES) FlsFree(index);
  }
} slot;

// True when a bilinear down-scale, which takes a row buffer, took it from
// this thread's block: the libyuv linked in is the renamed one.
bool LibyuvTakesScratch() {
  uint8_t src[64 * 48] = {}, dst[40 * 30];
  YuvScratchScope scope(4096);
  YuvScratch* s = ThreadYuvScratch(false);
  if (!scope.ok() || !s) return false;
  const uint32_t before = s->lends;
  libyuv::ScalePlane(src, 64, 64, 48, dst, 40, 40, 30, libyuv::kFilterBilinear);
  return s->lends != before;
}

}  // namespace

YuvScratch* GetThreadSlot() {
  return slot.index != FLS_OUT_OF_INDEXES ? static_cast<YuvScratch*>(FlsGetValue(slot.index))
                                          : nullptr;
}

bool SetThreadSlot(YuvScratch* s) {
  return slot.index != FLS_OUT_OF_INDEXES && FlsSetValue(slot.index, s);
}

bool RedirectLibyuvHeap() {
  static std::once_flag once;
  static bool redirected = false;
  std::call_once(once, [] {
    slot.index = FlsAlloc(&FreeThreadScratch);
    redirected = slot.index != FLS_OUT_OF_INDEXES && LibyuvTakesScratch();
  });
  return redirected;
}

}  // namespace TavroMatting
