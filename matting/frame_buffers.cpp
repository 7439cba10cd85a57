#include "matting/frame_buffers.h"

#include <cstring>

namespace TavroMatting {

void FrameBuffers::Allocate(int32_t w, int32_t h, int32_t netW, int32_t netH) {
  w = w < 0 ? 0 : w;
  h = h < 0 ? 0 : h;
  const size_t m = size_t(w) * h;
  rgbImage = MakeBuffer<uint8_t>(4 * m);
  chromaUV = MakeBuffer<uint8_t>(2 * m);
  workI420 = MakeBuffer<uint8_t>(m * 3 / 2 + 1);
  columnIndex = MakeBuffer<uint16_t>(w);
  rowIndex = MakeBuffer<uint16_t>(h);
  targetX = MakeBuffer<int16_t>(m);
  targetY = MakeBuffer<int16_t>(m);
  forwardFlow = MakeBuffer<int16_t>(2 * m);
  backwardFlow = MakeBuffer<int16_t>(2 * m);
  backwardAtTarget = MakeBuffer<int16_t>(2 * m);
  gaussRows = MakeBuffer<uint16_t>(m < 3 * size_t(w) ? 3 * size_t(w) : m);
  validMap = MakeBuffer<uint8_t>(m);
  landed = MakeBuffer<uint8_t>(m);
  prevMask = MakeBuffer<uint8_t>(m);
  gaussMask = MakeBuffer<uint8_t>(m);
  warpedMask = MakeBuffer<uint8_t>(m);
  skinMap = MakeBuffer<uint8_t>(m);
  workMask = MakeBuffer<uint8_t>(m);
  medianPad = MakeBuffer<uint8_t>(size_t(w + 14) * h);
  dilateRows = MakeBuffer<uint8_t>(3 * size_t(w));
  netOutput = MakeBuffer<uint8_t>(size_t(netW < 0 ? 0 : netW) * (netH < 0 ? 0 : netH));
  fusionWeight = MakeBuffer<float>(m);
  if (prevMask) std::memset(prevMask.get(), 0, m);
  if (workMask) std::memset(workMask.get(), 0, m);
  if (columnIndex)
    for (int32_t x = 0; x < w; ++x) columnIndex[x] = uint16_t(x);
  if (rowIndex)
    for (int32_t y = 0; y < h; ++y) rowIndex[y] = uint16_t(y);
}

bool FrameBuffers::Ready() const {
  return rgbImage && chromaUV && workI420 && columnIndex && rowIndex && targetX && targetY &&
         forwardFlow && backwardFlow && backwardAtTarget && gaussRows && validMap && landed &&
         prevMask && gaussMask && warpedMask && skinMap && workMask && medianPad &&
         dilateRows && netOutput && fusionWeight;
}

void FrameBuffers::Release() { *this = FrameBuffers(); }

}  // namespace TavroMatting
