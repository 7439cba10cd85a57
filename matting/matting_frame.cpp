#include "matting/matting_frame.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "diagnostics/diagnostics.h"
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

  try {
    buf_.Allocate(w, h, netWidth_, netHeight_);

    TAVROMATTING::DestroyNet(net_);
    net_ = TAVROMATTING::CreateNet(0, 0);

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

  // Besides the buffers, a frame needs the matrices and a network; without
  // them the next Process retries Init.
  if (BuffersReady() && w > 0 && h > 0 && net_ && !curGray_.empty() && !prevGray_.empty() &&
      !flowFwd_.empty() && !flowBwd_.empty())
    needsInit_ = false;
  firstFrame_ = true;
  outRowsWidth_ = 0;
  ResetBlurState();
  StartMattingThread();

  if (timing_) {
    RecordTiming("init end", false, false);
    const TimingEntry& e = CurrentTimingEntry();
    tavro_diag::Printf("%s %f,", e.first.c_str(), e.second);
  }
}

bool MattingFrame::BuffersReady() const { return buf_.Ready(); }

void MattingFrame::ReleaseResources() {
  TAVROMATTING::DestroyNet(net_);
  net_ = nullptr;
  buf_.Release();
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
                              int32_t maskHeight,
                              const tavro_rtc::FilterSettings& switches) {
  if (timing_) RecordTiming("\nprocess start", false, true);
  if (workWidth < 1 || workHeight < 1 || workWidth > kMaxWorkSide ||
      workHeight > kMaxWorkSide || !maskData || !desc || maskWidth < 1 ||
      maskHeight < 1)
    return -1;
  switches_ = switches;
  opticalFlow_ = switches.enable_optical_flow;
  mediaFilter_ = switches.enable_media_filter;
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
  frameDesc_ = desc;
  if (!PreResize(*desc)) {
    frameDesc_ = nullptr;
    return -1;
  }
  if (opticalFlow_ && reset != 0) firstFrame_ = true;
  int32_t result = 0;
  if (!InferBesideThreadShare(&result)) {
    // Without the flow, the skin map or the network mask this frame has no
    // mask; the flow history starts afresh with the next one.
    frameDesc_ = nullptr;
    firstFrame_ = true;
    return -1;
  }
  if (opticalFlow_) FuseFlow();
  if (mediaFilter_) {
    SkinMedianBlur(buf_.workMask.get(), buf_.skinMap.get(), buf_.medianPad.get(), workWidth_,
                   workHeight_, kMedianKernel);
    Mark(timing_, "skin mediablur");
  }
  const bool scaledOut =
      ScaleOut(maskData, maskWidth, maskHeight, switches_.refine_edges ? desc : nullptr);
  frameDesc_ = nullptr;
  if (!scaledOut) return -1;

  if (timing_) {
    RecordTiming("mask gf5x5", true, false);
    PrintTimingEntries();
    tavro_diag::Write("\n");
  }
  return result;
}

bool MattingFrame::PreResize(const ImageDesc& desc) {
  const int32_t W = workWidth_, H = workHeight_;
  const ImageDesc work = I420Desc(buf_.workI420.get(), W, H);
  ImageDesc rgb = PlaneDesc(buf_.rgbImage.get(), W, H, 3 * W);
  rgb.format = kFormatPacked24;
  // libyuv reads chroma of (width + 1) / 2 for odd sizes, one column and row
  // more than the planes hold, so odd frames are scaled from their even
  // part; frames without chroma get neutral chroma.
  const int32_t evenW = desc.widths[0] & ~1, evenH = desc.heights[0] & ~1;
  int32_t scaled;
  if (evenW >= 2 && evenH >= 2) {
    ImageDesc even = desc;
    even.widths[0] = evenW;
    even.heights[0] = evenH;
    scaled = ScaleImage(even, work, kScaleBilinear);
  } else {
    scaled = ScaleImage(PlaneDesc(desc.planes[0], desc.widths[0], desc.heights[0],
                                  desc.strides[0]),
                        PlaneDesc(work.planes[0], W, H, W), kScaleBilinear);
    std::memset(work.planes[1], 128, size_t(W / 2) * (H / 2));
    std::memset(work.planes[2], 128, size_t(W / 2) * (H / 2));
  }
  if (scaled != 0) return false;
  ConvertImage(work, rgb, kConvertI420ToRGB24);
  Mark(timing_, "pre resize");
  return true;
}

bool MattingFrame::InferBesideThreadShare(int32_t* result) {
  const int32_t W = workWidth_, H = workHeight_;
  if (threadRunning_) {
    busy_.store(true, std::memory_order_release);
    startEvent_->Set();
  }
  Mark(timing_, "infer prepare");

  *result = TAVROMATTING::RunMattingNet(net_, buf_.rgbImage.get(), buf_.netOutput.get(), W, H);
  const bool netMaskOk =
      ScaleImage(PlaneDesc(buf_.netOutput.get(), netWidth_, netHeight_, netWidth_),
                 PlaneDesc(buf_.workMask.get(), W, H, W), kScaleBilinear) == 0;
  Mark(timing_, "inference");

  bool shareOk;
  if (threadRunning_) {
    WaitForThreadShare();
    shareOk = shareOk_;
  } else {
    shareOk = DoThreadShare();
  }
  return shareOk && netMaskOk;
}

void MattingFrame::FuseFlow() {
  const int32_t W = workWidth_, H = workHeight_;
  if (firstFrame_) {
    const size_t m = size_t(W) * H;
    std::memcpy(prevGray_.data, curGray_.data, m);
    std::memcpy(buf_.prevMask.get(), buf_.workMask.get(), m);
    firstFrame_ = false;
    return;
  }
  FuseFlowMask(buf_.workMask.get(), buf_.warpedMask.get(), buf_.landed.get(),
               buf_.fusionWeight.get(), buf_.prevMask.get(), W, H);
  Mark(timing_, "opt fusion");
  GaussianBlur3x3(buf_.prevMask.get(), buf_.gaussMask.get(), buf_.gaussRows.get(), W, H);
  Mark(timing_, "opt gaussianf");
  StretchMask(buf_.gaussMask.get(), buf_.workMask.get(), kStretchLow, kStretchHigh, W, H);
  Mark(timing_, "opt threshout");
}

bool MattingFrame::ScaleOut(uint8_t* maskData, int32_t maskWidth, int32_t maskHeight,
                            const ImageDesc* guide) {
  const int32_t W = workWidth_, H = workHeight_;
  const bool refine = guide && guide->planes[0] && guide->widths[0] == maskWidth &&
                      guide->heights[0] == maskHeight;
  if (refine && refiner_.Refine(buf_.workMask.get(), buf_.workI420.get(), W, H,
                                guide->planes[0], guide->strides[0], maskData, maskWidth,
                                maskHeight)) {
    // Refined in place of the plain scaling; timed as the scaling.
  } else if (maskWidth == W && maskHeight == H) {
    std::memcpy(maskData, buf_.workMask.get(), size_t(W) * H);
  } else if (ScaleImage(PlaneDesc(buf_.workMask.get(), W, H, W),
                        PlaneDesc(maskData, maskWidth, maskHeight, maskWidth),
                        kScaleBilinear) != 0) {
    return false;
  }
  Mark(timing_, "mask scaleout");
  if (!mediaFilter_) return true;
  if (outRowsWidth_ != maskWidth) {
    outRows_.reset();
    outRows_ = MakeBuffer<uint16_t>(5 * size_t(maskWidth));
    outRowsWidth_ = maskWidth;
  }
  if (outRows_) {
    CutBelow(maskData, size_t(maskWidth) * maskHeight, kCutLimit);
    GaussianBlur5x5(maskData, maskData, outRows_.get(), maskWidth, maskHeight);
  }
  return true;
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
                          mask->height, settings->switches);
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
