#include "matting/matting_frame.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "engine/x86/matting_net.h"
#include "matting/background_blur.h"
#include "matting/flow_fusion.h"
#include "matting/mask_filters.h"
#include "matting/median_blur.h"
#include "matting/timing.h"
#include "system/event_wrapper.h"
#include "system/thread_wrapper.h"

namespace TavroMatting {

namespace {

constexpr int kMedianKernel = 9;
constexpr uint8_t kCutLimit = 192;
constexpr float kStretchLow = 0.2f;
constexpr float kStretchHigh = 0.8f;
// Work sizes beyond this are rejected as bad arguments: the flow's index
// tables are 16-bit and the network is meant for a few hundred pixels.
constexpr int32_t kMaxWorkSide = 4096;

// A new shared array, or null when the allocation fails.
template <class T>
std::shared_ptr<T[]> MakeBuffer(size_t n) {
  T* p = new (std::nothrow) T[n == 0 ? 1 : n];
  if (!p) return nullptr;
  try {
    return std::shared_ptr<T[]>(p);  // frees p itself when it throws
  } catch (...) {
    return nullptr;
  }
}

void Mark(bool timing, const char* label, bool final = false) {
  if (timing) RecordTiming(label, final, false);
}

}  // namespace

MattingFrame::MattingFrame()
    : startEvent_(TavroRTCMP::CreateEventWrapper()),
      doneEvent_(TavroRTCMP::CreateEventWrapper()) {}

MattingFrame::~MattingFrame() {
  StopMattingThread();
  ReleaseResources();
}

void MattingFrame::Init(int32_t width, int32_t height) {
  if ((width & 0xF0000) == 0xF0000) {
    timing_ = true;
    width &= 0xFFFF;
  }
  if ((height & 0xF0000) == 0xF0000) height &= 0xFFFF;
  if (timing_) RecordTiming("\ninit start", false, true);

  workWidth_ = netWidth_ = maskWidth_ = width;
  workHeight_ = netHeight_ = maskHeight_ = height;
  const int32_t w = width < 0 ? 0 : width, h = height < 0 ? 0 : height;
  const size_t m = size_t(w) * h;

  try {
    rgbImage_ = MakeBuffer<uint8_t>(4 * m);
    chromaUV_ = MakeBuffer<uint8_t>(2 * m);
    workI420_ = MakeBuffer<uint8_t>(m * 3 / 2 + 1);
    columnIndex_ = MakeBuffer<uint16_t>(w);
    rowIndex_ = MakeBuffer<uint16_t>(h);
    targetX_ = MakeBuffer<int16_t>(m);
    targetY_ = MakeBuffer<int16_t>(m);
    forwardFlow_ = MakeBuffer<int16_t>(2 * m);
    backwardFlow_ = MakeBuffer<int16_t>(2 * m);
    backwardAtTarget_ = MakeBuffer<int16_t>(2 * m);
    gaussRows_ = MakeBuffer<uint16_t>(m < 3 * size_t(w) ? 3 * size_t(w) : m);
    validMap_ = MakeBuffer<uint8_t>(m);
    landed_ = MakeBuffer<uint8_t>(m);
    prevMask_ = MakeBuffer<uint8_t>(m);
    gaussMask_ = MakeBuffer<uint8_t>(m);
    warpedMask_ = MakeBuffer<uint8_t>(m);
    skinMap_ = MakeBuffer<uint8_t>(m);
    workMask_ = MakeBuffer<uint8_t>(m);
    medianPad_ = MakeBuffer<uint8_t>(size_t(w + 14) * h);
    dilateRows_ = MakeBuffer<uint8_t>(3 * size_t(w));
    netOutput_ = MakeBuffer<uint8_t>(size_t(netWidth_ < 0 ? 0 : netWidth_) *
                                     (netHeight_ < 0 ? 0 : netHeight_));
    fusionWeight_ = MakeBuffer<float>(m);
    if (prevMask_) std::memset(prevMask_.get(), 0, m);
    if (workMask_) std::memset(workMask_.get(), 0, m);

    TAVROMATTING::DestroyNet(net_);
    net_ = TAVROMATTING::CreateNet(0, 0);

    if (columnIndex_)
      for (int32_t x = 0; x < w; ++x) columnIndex_[x] = uint16_t(x);
    if (rowIndex_)
      for (int32_t y = 0; y < h; ++y) rowIndex_[y] = uint16_t(y);

    flowLevel_ = FlowLevelForSize(w, h);
    flow_ = CreateFlowObject(flowLevel_);

    if (w > 0 && h > 0) {
      curGray_.create(h, w, CV_8UC1);
      prevGray_.create(h, w, CV_8UC1);
      flowFwd_.create(h, w, CV_16SC2);
      flowBwd_.create(h, w, CV_16SC2);
    }
  } catch (...) {
    // An allocation that throws leaves its buffer missing; BuffersReady
    // then keeps needsInit set.
  }

  // Besides the tested buffers, a frame also needs its input buffers, the
  // matrices and a network; without them the next Process retries Init.
  if (BuffersReady() && w > 0 && h > 0 && rgbImage_ && chromaUV_ && workI420_ &&
      net_ && !curGray_.empty() && !prevGray_.empty() && !flowFwd_.empty() &&
      !flowBwd_.empty())
    needsInit_ = false;
  firstFrame_ = true;
  outRowsWidth_ = 0;
  ResetBlurState();
  StartMattingThread();

  if (timing_) {
    RecordTiming("init end", false, false);
    const TimingEntry& e = CurrentTimingEntry();
    std::printf("%s %f,", e.first.c_str(), e.second);
    std::fflush(stdout);
  }
}

bool MattingFrame::BuffersReady() const {
  return columnIndex_ && rowIndex_ && targetX_ && targetY_ && forwardFlow_ &&
         backwardFlow_ && backwardAtTarget_ && gaussRows_ && validMap_ &&
         landed_ && prevMask_ && gaussMask_ && warpedMask_ && skinMap_ &&
         workMask_ && medianPad_ && dilateRows_ && netOutput_ && fusionWeight_;
}

void MattingFrame::ReleaseResources() {
  TAVROMATTING::DestroyNet(net_);
  net_ = nullptr;
  rgbImage_.reset();
  chromaUV_.reset();
  workI420_.reset();
  columnIndex_.reset();
  rowIndex_.reset();
  targetX_.reset();
  targetY_.reset();
  forwardFlow_.reset();
  backwardFlow_.reset();
  backwardAtTarget_.reset();
  gaussRows_.reset();
  validMap_.reset();
  landed_.reset();
  prevMask_.reset();
  gaussMask_.reset();
  warpedMask_.reset();
  skinMap_.reset();
  workMask_.reset();
  medianPad_.reset();
  dilateRows_.reset();
  netOutput_.reset();
  fusionWeight_.reset();
  outRows_.reset();
  blurKernel_.reset();
  blurSmall_.reset();
  blurRows_.reset();
  flow_.release();
  curGray_.release();
  prevGray_.release();
  flowFwd_.release();
  flowBwd_.release();
  flowScratch_ = FlowScratch();
  needsInit_ = true;
}

int32_t MattingFrame::Process(const ImageDesc* desc, uint8_t* maskData,
                              int32_t workWidth, int32_t workHeight,
                              int32_t reset, int32_t maskWidth,
                              int32_t maskHeight, int32_t mediaFilter,
                              int32_t opticalFlow) {
  if (timing_) RecordTiming("\nprocess start", false, true);
  if (workWidth < 1 || workHeight < 1 || workWidth > kMaxWorkSide ||
      workHeight > kMaxWorkSide || !maskData || !desc || maskWidth < 1 ||
      maskHeight < 1)
    return -1;
  opticalFlow_ = opticalFlow != 0;
  mediaFilter_ = mediaFilter != 0;
  try {
    if (workWidth != workWidth_ || workHeight != workHeight_ || needsInit_) {
      needsInit_ = true;
      Init(workWidth, workHeight);
      if (!BuffersReady() || needsInit_) return -1;
    }
    return ProcessFrame(desc, maskData, maskWidth, maskHeight, reset);
  } catch (...) {
    // An allocation failed on this thread (network scratch, OpenCV). The
    // MattingThread may still be reading the caller's frame: let it finish
    // before the caller's descriptor goes away. The flow history is no
    // longer consistent, so the next frame starts it afresh.
    WaitForThreadShare();
    frameDesc_ = nullptr;
    firstFrame_ = true;
    return -1;
  }
}

void MattingFrame::WaitForThreadShare() {
  while (busy_.load(std::memory_order_acquire)) doneEvent_->Wait(100);
}

int32_t MattingFrame::ProcessFrame(const ImageDesc* desc, uint8_t* maskData,
                                   int32_t maskWidth, int32_t maskHeight,
                                   int32_t reset) {
  const int32_t W = workWidth_, H = workHeight_;
  const size_t m = size_t(W) * H;

  const ImageDesc work = I420Desc(workI420_.get(), W, H);
  ImageDesc rgb = PlaneDesc(rgbImage_.get(), W, H, 3 * W);
  rgb.format = kFormatPacked24;
  frameDesc_ = desc;

  // Pre-resize. libyuv reads chroma of (width + 1) / 2 for odd sizes, one
  // column and row more than the planes hold, so odd frames are scaled from
  // their even part; frames without chroma get neutral chroma.
  const int32_t evenW = desc->widths[0] & ~1, evenH = desc->heights[0] & ~1;
  int32_t scaled;
  if (evenW >= 2 && evenH >= 2) {
    ImageDesc even = *desc;
    even.widths[0] = evenW;
    even.heights[0] = evenH;
    scaled = ScaleImage(even, work, kScaleBilinear);
  } else {
    scaled = ScaleImage(PlaneDesc(desc->planes[0], desc->widths[0],
                                  desc->heights[0], desc->strides[0]),
                        PlaneDesc(work.planes[0], W, H, W), kScaleBilinear);
    std::memset(work.planes[1], 128, size_t(W / 2) * (H / 2));
    std::memset(work.planes[2], 128, size_t(W / 2) * (H / 2));
  }
  if (scaled != 0) {
    frameDesc_ = nullptr;
    return -1;
  }
  ConvertImage(work, rgb, kConvertI420ToRGB24);
  Mark(timing_, "pre resize");

  if (opticalFlow_ && reset != 0) firstFrame_ = true;

  if (threadRunning_) {
    busy_.store(true, std::memory_order_release);
    startEvent_->Set();
  }
  Mark(timing_, "infer prepare");

  const int32_t result =
      TAVROMATTING::RunMattingNet(net_, rgbImage_.get(), netOutput_.get(), W, H);
  const bool netMaskOk =
      ScaleImage(PlaneDesc(netOutput_.get(), netWidth_, netHeight_, netWidth_),
                 PlaneDesc(workMask_.get(), W, H, W), kScaleBilinear) == 0;
  Mark(timing_, "inference");

  bool shareOk;
  if (threadRunning_) {
    WaitForThreadShare();
    shareOk = shareOk_;
  } else {
    shareOk = DoThreadShare();
  }
  if (!shareOk || !netMaskOk) {
    // Without the flow, the skin map or the network mask this frame has no
    // mask; the flow history starts afresh with the next one.
    frameDesc_ = nullptr;
    firstFrame_ = true;
    return -1;
  }

  if (opticalFlow_) {
    if (firstFrame_) {
      std::memcpy(prevGray_.data, curGray_.data, m);
      std::memcpy(prevMask_.get(), workMask_.get(), m);
      firstFrame_ = false;
    } else {
      FuseFlowMask(workMask_.get(), warpedMask_.get(), landed_.get(),
                   fusionWeight_.get(), prevMask_.get(), W, H);
      Mark(timing_, "opt fusion");
      GaussianBlur3x3(prevMask_.get(), gaussMask_.get(), gaussRows_.get(), W, H);
      Mark(timing_, "opt gaussianf");
      StretchMask(gaussMask_.get(), workMask_.get(), kStretchLow, kStretchHigh, W, H);
      Mark(timing_, "opt threshout");
    }
  }
  if (mediaFilter_) {
    SkinMedianBlur(workMask_.get(), skinMap_.get(), medianPad_.get(), W, H,
                   kMedianKernel);
    Mark(timing_, "skin mediablur");
  }

  if (maskWidth == W && maskHeight == H) {
    std::memcpy(maskData, workMask_.get(), m);
  } else if (ScaleImage(PlaneDesc(workMask_.get(), W, H, W),
                        PlaneDesc(maskData, maskWidth, maskHeight, maskWidth),
                        kScaleBilinear) != 0) {
    frameDesc_ = nullptr;
    return -1;
  }
  Mark(timing_, "mask scaleout");

  if (mediaFilter_) {
    if (outRowsWidth_ != maskWidth) {
      outRows_.reset();
      outRows_ = MakeBuffer<uint16_t>(5 * size_t(maskWidth));
      outRowsWidth_ = maskWidth;
    }
    if (outRows_) {
      CutBelow(maskData, size_t(maskWidth) * maskHeight, kCutLimit);
      GaussianBlur5x5(maskData, maskData, outRows_.get(), maskWidth, maskHeight);
    }
  }
  frameDesc_ = nullptr;

  if (timing_) {
    RecordTiming("mask gf5x5", true, false);
    PrintTimingEntries();
    std::printf("\n");
    std::fflush(stdout);
  }
  return result;
}

MattingFrame* CreateMattingFrame(int32_t width, int32_t height) {
  try {
    MattingFrame* frame = new (std::nothrow) MattingFrame();
    if (frame) frame->Init(width, height);
    return frame;
  } catch (...) {
    return nullptr;
  }
}

int32_t ProcessMattingFrame(MattingFrame* frame, const PlanarImage* image,
                            const MaskView* mask,
                            const MattingSettings* settings) {
  if (!frame || !image || !mask || !settings) return -1;
  if (!image->data[0] || !image->data[1] || !image->data[2] ||
      image->width[0] < 1 || image->height[0] < 1 ||
      image->stride[0] < image->width[0] || image->stride[1] < image->width[1] ||
      image->stride[2] < image->width[2])
    return -1;
  ImageDesc desc;
  for (int p = 0; p < 3; ++p) {
    desc.planes[p] = image->data[p];
    desc.widths[p] = image->width[p];
    desc.heights[p] = image->height[p];
    desc.strides[p] = image->stride[p];
  }
  desc.format = kFormatI420;
  try {
    return frame->Process(&desc, mask->data, settings->netWidth,
                          settings->netHeight, settings->reset, mask->width,
                          mask->height, settings->enableMediaFilter,
                          settings->enableOpticalFlow);
  } catch (...) {
    return -1;
  }
}

void DestroyMattingFrame(MattingFrame* frame) {
  if (!frame) return;
  frame->ReleaseResources();
  ClearTiming();
  frame->StopMattingThread();
  delete frame;
}

}  // namespace TavroMatting
