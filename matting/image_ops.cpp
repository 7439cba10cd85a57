#include "matting/image_ops.h"

#include <libyuv/convert_argb.h>
#include <libyuv/scale.h>

#include <algorithm>

#include "matting/yuv_scratch.h"

namespace TavroMatting {

ImageDesc PlaneDesc(uint8_t* data, int32_t width, int32_t height,
                    int32_t stride) {
  ImageDesc d;
  d.planes[0] = data;
  d.widths[0] = width;
  d.heights[0] = height;
  d.strides[0] = stride;
  d.format = kFormatPlane8;
  return d;
}

ImageDesc I420Desc(uint8_t* data, int32_t width, int32_t height) {
  ImageDesc d;
  const int32_t cw = width / 2, ch = height / 2;
  const size_t lumaSize = size_t(width) * height;
  d.planes[0] = data;
  d.planes[1] = data ? data + lumaSize : nullptr;
  d.planes[2] = data ? data + lumaSize + lumaSize / 4 : nullptr;
  d.widths[0] = width;
  d.widths[1] = d.widths[2] = cw;
  d.heights[0] = height;
  d.heights[1] = d.heights[2] = ch;
  d.strides[0] = width;
  d.strides[1] = d.strides[2] = cw;
  d.format = kFormatI420;
  return d;
}

size_t ScaleScratchBytes(int32_t srcWidth, int32_t dstWidth) {
  const size_t wide = size_t(std::max(std::max(srcWidth, dstWidth), 0));
  return 2 * ((wide + 31) & ~size_t(31)) + 64;
}

namespace {
void Scale(const ImageDesc& src, const ImageDesc& dst, libyuv::FilterMode mode) {
  switch (src.format) {
    case kFormatI420:
      libyuv::I420Scale(src.planes[0], src.strides[0], src.planes[1],
                        src.strides[1], src.planes[2], src.strides[2],
                        src.widths[0], src.heights[0], dst.planes[0],
                        dst.strides[0], dst.planes[1], dst.strides[1],
                        dst.planes[2], dst.strides[2], dst.widths[0],
                        dst.heights[0], mode);
      break;
    case kFormatPlane8:
      libyuv::ScalePlane(src.planes[0], src.strides[0], src.widths[0],
                         src.heights[0], dst.planes[0], dst.strides[0],
                         dst.widths[0], dst.heights[0], mode);
      break;
    default:
      break;
  }
}
}  // namespace

int32_t ScaleImage(const ImageDesc& src, const ImageDesc& dst, int filterMode) {
  const auto mode = static_cast<libyuv::FilterMode>(filterMode);
  const size_t bytes = ScaleScratchBytes(src.widths[0], dst.widths[0]);
  // The planes are scaled one after the other; each takes at most the luma
  // plane's row scratch, and gives it back before the next.
  YuvScratchScope scope(bytes);
  if (!scope.ok()) return -1;
  Scale(src, dst, mode);
  return 0;
}

int32_t ConvertImage(const ImageDesc& src, const ImageDesc& dst,
                     int32_t conversion) {
  if (conversion == kConvertI420ToRGB24) {
    libyuv::I420ToRGB24(src.planes[0], src.strides[0], src.planes[1],
                        src.strides[1], src.planes[2], src.strides[2],
                        dst.planes[0], dst.strides[0], src.widths[0],
                        src.heights[0]);
  }
  return 0;
}

}  // namespace TavroMatting
