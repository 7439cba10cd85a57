// Row scratch for libyuv's scaling calls. libyuv's plane scalers take a row
// buffer with malloc and use it without checking it, so an allocation that
// fails inside them is a write through null. The module therefore links a
// libyuv of its own (static, symbols hidden) whose malloc and free were
// renamed at build time to tavro_yuv_malloc and tavro_yuv_free
// (scripts/build-libyuv.sh), defined in yuv_scratch.cpp. Before a scaling
// call the pipeline makes a block of the size the call can ask for (or
// refuses the call); while the call runs, libyuv's allocations on that
// thread are served from that block. Outside such a call they are the
// heap's.
//
// Nothing is kept per thread between calls: the scopes alive right now are
// linked in one process-wide list, each tagged with its thread. So the
// module registers no thread key or thread-local storage, and a host thread
// that scaled frames may outlive the module's unload.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TavroMatting {

// While alive, libyuv allocations of up to `bytes` on this thread are served
// from a block this scope made. ok() is false when the block could not be
// made; the call must then not be made.
class YuvScratchScope {
 public:
  explicit YuvScratchScope(size_t bytes);
  ~YuvScratchScope();
  YuvScratchScope(const YuvScratchScope&) = delete;
  YuvScratchScope& operator=(const YuvScratchScope&) = delete;
  bool ok() const { return block_ != nullptr; }

 private:
  friend struct YuvScratchList;
  uintptr_t thread_ = 0;
  uint8_t* block_ = nullptr;
  size_t size_ = 0;
  bool lent_ = false;  // libyuv holds the block now
  YuvScratchScope* next_ = nullptr;
};

// How many times a scope's block was lent to libyuv in this process (to
// check that the libyuv linked in is the renamed one).
uint64_t YuvScratchLends();

}  // namespace TavroMatting
