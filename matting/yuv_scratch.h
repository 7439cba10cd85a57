// Row scratch for libyuv's scaling calls. libyuv's plane scalers take a row
// buffer with malloc and use it without checking it, so an allocation that
// fails inside them is a write through null. The pipeline therefore owns
// that memory: before a scaling call it makes sure a per-thread scratch
// block of the size the call can ask for exists (or refuses the call), and
// libyuv's malloc and free, redirected here once per process, hand out that
// block while the call runs. Outside such a call they are the heap's.
// Linux rewrites the shared libyuv's import slots (yuv_scratch_posix.cpp);
// the Windows DLL links a libyuv whose malloc and free were renamed at build
// time (yuv_scratch_win.cpp).
#pragma once

#include <cstddef>

namespace TavroMatting {

// Makes libyuv's heap calls come here; true when they do (false leaves
// libyuv on the heap, and scaling calls are then only guarded by a check
// that the heap can give the bytes right before the call).
bool RedirectLibyuvHeap();

// While alive, libyuv allocations of up to `bytes` on this thread are served
// from this thread's scratch block. ok() is false when the block could not
// be made; the call must then not be made.
class YuvScratchScope {
 public:
  explicit YuvScratchScope(size_t bytes);
  ~YuvScratchScope();
  YuvScratchScope(const YuvScratchScope&) = delete;
  YuvScratchScope& operator=(const YuvScratchScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

}  // namespace TavroMatting
