// The MattingFrame's background blur: each plane is scaled down to a width of
// about 64 (below 80 rows), filtered with the 15 x 15 gaussian there and
// scaled back up.
#include <algorithm>
#include <new>

#include "matting/background_blur.h"
#include "matting/matting_frame.h"

namespace TavroMatting {

namespace {
constexpr int32_t kBlurWidth = 64;
constexpr int32_t kBlurKernelSize = 15;
constexpr int32_t kBlurHeightCap = 80;
}  // namespace

void MattingFrame::ResetBlurState() {
  blurWidth_ = kBlurWidth;
  blurHeight_ = 0;
  blurKernelSize_ = kBlurKernelSize;
  blurSigma_ = 0.f;
  blurSmallCapacity_ = 0;
  blurRowsCapacity_ = 0;
  blurSmall_.reset();
  blurRows_.reset();
  blurHeightCapped_ = false;
  blurKernel_.reset();
  float* kernel = new (std::nothrow) float[256];
  if (!kernel) return;
  blurKernel_ = std::shared_ptr<float[]>(kernel);
  MakeGaussianKernel2D(kernel, blurKernelSize_, blurSigma_);
}

int32_t MattingFrame::BlurPlane(const ImageDesc& src, const ImageDesc& dst) {
  const int32_t sw = src.widths[0], sh = src.heights[0];
  if (!src.planes[0] || !dst.planes[0] || sw < 1 || sh < 1 ||
      dst.widths[0] < 1 || dst.heights[0] < 1 || !blurKernel_)
    return 0;
  blurHeight_ = int32_t(int64_t(blurWidth_) * sh / sw);
  if (!blurHeightCapped_ && blurHeight_ >= kBlurHeightCap) {
    blurWidth_ = int32_t(int64_t(sw) * kBlurHeightCap / sh) & ~1;
    blurHeight_ = int32_t(int64_t(blurWidth_) * sh / sw);
  }
  // Planes too narrow for the rules above still get a small image of at
  // least one pixel per side.
  const int32_t bw = std::max(blurWidth_, 1);
  const int32_t bh = std::max(int32_t(int64_t(bw) * sh / sw), 1);
  const int64_t smallNeed =
      std::max<int64_t>(int64_t(sh) * bw * bw / sw, int64_t(bw) * bh);
  if (blurSmallCapacity_ < smallNeed) {
    blurSmall_.reset();
    uint8_t* p = new (std::nothrow) uint8_t[smallNeed];
    if (!p) {
      blurSmallCapacity_ = 0;
      return 0;
    }
    blurSmall_ = std::shared_ptr<uint8_t[]>(p);
    blurSmallCapacity_ = int32_t(smallNeed);
  }
  const int32_t k = blurKernelSize_;
  const int32_t rowsNeed = (bw + 1 + k) * k;
  if (blurRowsCapacity_ < rowsNeed) {
    blurRows_.reset();
    uint8_t* p = new (std::nothrow) uint8_t[rowsNeed];
    if (!p) {
      blurRowsCapacity_ = 0;
      return 0;
    }
    blurRows_ = std::shared_ptr<uint8_t[]>(p);
    blurRowsCapacity_ = rowsNeed;
  }
  const ImageDesc small = PlaneDesc(blurSmall_.get(), bw, bh, bw);
  if (ScaleImage(src, small, kScaleBilinear) != 0) return -1;
  Filter2D(blurKernel_.get(), k, blurSmall_.get(), bw, bh, bw, blurSmall_.get(),
           bw, blurRows_.get());
  return ScaleImage(small, dst, kScaleBilinear);
}

int32_t BlurMattingImage(MattingFrame* frame, const PlanarImage* src,
                         const PlanarImage* dst) {
  if (!frame || !src || !dst) return -1;
  int32_t result = 0;
  try {
    for (int p = 0; p < 3; ++p)
      if (frame->BlurPlane(PlaneDesc(src->data[p], src->width[p], src->height[p],
                                     src->stride[p]),
                           PlaneDesc(dst->data[p], dst->width[p], dst->height[p],
                                     dst->stride[p])) != 0)
        result = -1;
  } catch (...) {
    result = -1;
  }
  return result;
}

}  // namespace TavroMatting
