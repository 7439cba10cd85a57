// Image descriptor of the matting pipeline and the two dispatch functions
// that route every scaling and colour conversion to libyuv.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TavroMatting {

enum ImageFormat : int32_t {
  kFormatPacked24 = 5,  // three bytes per pixel in plane 0
  kFormatI420 = 6,      // planes Y, U, V
  kFormatPlane8 = 9,    // one 8-bit plane
};

enum ConversionCode : int32_t {
  kConvertI420ToRGB24 = 16,
};

// libyuv's kFilterBilinear; the only filter mode the pipeline uses.
constexpr int kScaleBilinear = 2;

struct ImageDesc {
  uint8_t* planes[3] = {nullptr, nullptr, nullptr};
  int32_t widths[3] = {0, 0, 0};
  int32_t heights[3] = {0, 0, 0};
  int32_t strides[3] = {0, 0, 0};
  int32_t format = 0;
};

// One 8-bit plane of width x height with the given stride.
ImageDesc PlaneDesc(uint8_t* data, int32_t width, int32_t height,
                    int32_t stride);
// A contiguous I420 buffer of width x height: Y (stride width), then U and V
// of (width/2) x (height/2) with stride width/2.
ImageDesc I420Desc(uint8_t* data, int32_t width, int32_t height);

// Bilinear scaling of a format 6 or format 9 image. Returns 0, or -1 without
// touching dst when the row scratch libyuv needs for the call could not be
// had (libyuv writes through its allocation without checking it; see
// yuv_scratch.h).
int32_t ScaleImage(const ImageDesc& src, const ImageDesc& dst, int filterMode);
// The bytes libyuv's plane scaler may allocate for one plane of srcWidth
// scaled to dstWidth: two aligned rows of the wider side plus alignment.
size_t ScaleScratchBytes(int32_t srcWidth, int32_t dstWidth);
// Conversion 16: I420 to packed B,G,R bytes; always returns 0.
int32_t ConvertImage(const ImageDesc& src, const ImageDesc& dst,
                     int32_t conversion);

}  // namespace TavroMatting
