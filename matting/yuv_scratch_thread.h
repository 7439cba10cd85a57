// The per-thread scratch record behind YuvScratchScope, shared by the
// platform files: yuv_scratch.cpp lends the block, the platform file keeps
// one record per thread and sends libyuv's malloc and free here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TavroMatting {

struct YuvScratch {
  uint8_t* block;
  size_t size;
  bool active;  // a scaling call on this thread may use it
  bool lent;    // libyuv holds it now
  uint32_t lends;  // times it was lent (to check the redirection works)
};

// This thread's record; made (zeroed) when `make` is set. Null when there is
// none, or when it could not be made.
YuvScratch* ThreadYuvScratch(bool make);

// The platform's per-thread slot that holds the record (platform file):
// null, or false, while the slot does not exist.
YuvScratch* GetThreadSlot();
bool SetThreadSlot(YuvScratch* s);

// Frees a record and its block (thread exit).
void FreeYuvScratch(YuvScratch* s);

// What libyuv's malloc and free become: the block while a scope is active
// on this thread and it is not lent out, the heap otherwise.
void* YuvScratchMalloc(size_t n);
void YuvScratchFree(void* p);

}  // namespace TavroMatting
