// The work buffers of one stream, sized for one work size: allocated
// together when the work size is set, checked together before a frame, and
// released together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace TavroMatting {

template <class T>
using Buffer = std::shared_ptr<T[]>;

// A new shared array, or null when the allocation fails.
template <class T>
Buffer<T> MakeBuffer(size_t n) {
  T* p = new (std::nothrow) T[n == 0 ? 1 : n];
  if (!p) return nullptr;
  try {
    return Buffer<T>(p);  // frees p itself when it throws
  } catch (...) {
    return nullptr;
  }
}

struct FrameBuffers {
  // Network input (packed B,G,R), the frame scaled to the work size, and
  // the MattingThread's chroma planes.
  Buffer<uint8_t> rgbImage, chromaUV, workI420;
  // Flow: identity index tables, landing targets, both flows and the
  // backward flow read at the forward targets.
  Buffer<uint16_t> columnIndex, rowIndex;
  Buffer<int16_t> targetX, targetY;
  Buffer<int16_t> forwardFlow, backwardFlow, backwardAtTarget;
  // Masks and their scratch: flow validity, landed pixels, the previous
  // mask, the blurred, warped and working masks, the skin map.
  Buffer<uint16_t> gaussRows;
  Buffer<uint8_t> validMap, landed, prevMask, gaussMask, warpedMask, skinMap, workMask;
  Buffer<uint8_t> medianPad, dilateRows, netOutput;
  Buffer<float> fusionWeight;

  // Allocates every buffer for a w x h work size with a netW x netH network
  // output; the index tables count up and the masks start at zero. A buffer
  // whose allocation fails stays null (see Ready).
  void Allocate(int32_t w, int32_t h, int32_t netW, int32_t netH);
  // True when every buffer exists.
  bool Ready() const;
  void Release();
};

}  // namespace TavroMatting
