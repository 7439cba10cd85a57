// MattingFrame: everything one video stream needs between frames (network,
// optical-flow object, buffers, previous grey image and mask) and the worker
// thread that computes flow and skin map while the caller runs the network.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

#include "matting/edge_refine.h"
#include "matting/flow_pair.h"
#include "matting/frame_buffers.h"
#include "matting/image_ops.h"
#include "matting/matting_records.h"

namespace TAVROMATTING {
class Net;
}
namespace TavroRTCMP {
class ThreadWrapper;
class EventWrapper;
}  // namespace TavroRTCMP

namespace TavroMatting {

class MattingFrame;

// Entry points of the pipeline. Results: 0 success, -1 missing argument or
// buffers, or memory that could not be had while processing the frame.
// Nothing is thrown out of them.
MattingFrame* CreateMattingFrame(int32_t width, int32_t height);
int32_t ProcessMattingFrame(MattingFrame* frame, const PlanarImage* image,
                            const MaskView* mask,
                            const MattingSettings* settings);
int32_t BlurMattingImage(MattingFrame* frame, const PlanarImage* src,
                         const PlanarImage* dst);
void DestroyMattingFrame(MattingFrame* frame);
// For a thread that ran the pipeline and is about to end: gives back what
// the pipeline's libraries keep for it (OpenCV's thread data) where a
// failing allocation can be caught, instead of in their thread-exit hooks,
// where it ends the process. Never throws.
void ReleasePipelineThreadData();

// The thread function the MattingThread's wrapper calls over and over.
bool MattingThreadProc(void* frame);

class MattingFrame {
 public:
  MattingFrame();
  ~MattingFrame();
  MattingFrame(const MattingFrame&) = delete;
  MattingFrame& operator=(const MattingFrame&) = delete;

  // (Re)initialises for a work size. Bits 16..19 of width all set switch the
  // timing printout on.
  void Init(int32_t width, int32_t height);
  // switches: the stream's "configs" settings for this frame.
  int32_t Process(const ImageDesc* desc, uint8_t* maskData, int32_t workWidth,
                  int32_t workHeight, int32_t reset, int32_t maskWidth,
                  int32_t maskHeight, const tavro_rtc::FilterSettings& switches);
  // Writes a strongly blurred copy of src (format 9) into dst; returns 0, or
  // -1 when a scaling step could not get its memory (dst is then not fully
  // written).
  int32_t BlurPlane(const ImageDesc& src, const ImageDesc& dst);

  bool BuffersReady() const;

  // State for callers and tests.
  int32_t workWidth() const { return workWidth_; }
  int32_t workHeight() const { return workHeight_; }
  bool timing() const { return timing_; }
  bool firstFrame() const { return firstFrame_; }
  bool needsInit() const { return needsInit_; }
  // True when the MattingThread runs; otherwise its work is done on the
  // calling thread.
  bool threadRunning() const { return threadRunning_; }
  // True while the MattingThread still works on a frame handed to it; never
  // true once Process has returned.
  bool threadShareOwed() const { return busy_.load(); }
  int32_t flowLevel() const { return flowLevel_; }
  int32_t blurWidth() const { return blurWidth_; }
  int32_t outRowsWidth() const { return outRowsWidth_; }
  const uint16_t* outRows() const { return outRows_.get(); }
  const uint8_t* prevMask() const { return buf_.prevMask.get(); }
  const cv::Mat& curGray() const { return curGray_; }
  const cv::Mat& prevGray() const { return prevGray_; }

  // Teardown helpers used by DestroyMattingFrame.
  void ReleaseResources();
  void StopMattingThread();

 private:
  friend bool MattingThreadProc(void* frame);

  void StartMattingThread();
  // One pass of the worker: wait for work, then flow and skin map.
  void MattingThreadWork();
  // The worker's share of a frame; on the MattingThread, or on the calling
  // thread when no MattingThread runs. False when a step could not get its
  // memory; the share's products are then not to be used.
  bool DoThreadShare();
  // Process without the failure handling: may throw (allocation failures in
  // the network or in OpenCV). Runs the stages below in order.
  int32_t ProcessFrame(const ImageDesc* desc, uint8_t* maskData,
                       int32_t maskWidth, int32_t maskHeight, int32_t reset);
  // The frame scaled to the work size as I420, then packed B,G,R for the
  // network; false when a scaling step could not get its memory.
  bool PreResize(const ImageDesc& desc);
  // Hands the MattingThread its share (flow, skin map), runs the network on
  // this thread meanwhile and scales its mask to the work size, then waits
  // for the share. False when either part failed.
  bool InferBesideThreadShare(int32_t* result);
  // Fuses the network mask with the previous mask carried along the flow
  // (the first frame of a run only seeds the history).
  void FuseFlow();
  // The work mask to the caller's mask size, then the media filter's final
  // cut and 5x5 blur; false when scaling could not get its memory. With a
  // guide frame of the mask's size the mask's edges are refined on the
  // frame's luma instead of plainly scaled (plain scaling when the
  // refinement cannot get its scratch).
  bool ScaleOut(uint8_t* maskData, int32_t maskWidth, int32_t maskHeight,
                const ImageDesc* guide = nullptr);
  // Blocks until the MattingThread has finished the share it was handed,
  // so that nothing it reads (the caller's frame) is left before it is done.
  void WaitForThreadShare();
  void WarpWithFlow();
  void ResetBlurState();

  int32_t workWidth_ = 240, workHeight_ = 240;
  int32_t netWidth_ = 240, netHeight_ = 240;
  int32_t maskWidth_ = 240, maskHeight_ = 240;

  FrameBuffers buf_;
  Buffer<uint16_t> outRows_;
  int32_t outRowsWidth_ = 0;

  cv::Mat curGray_, prevGray_;
  cv::Mat flowFwd_, flowBwd_;  // int16 planes: x components, then y
  cv::Ptr<cv::DISOpticalFlow> flow_;
  FlowScratch flowScratch_;
  int32_t flowLevel_ = 3;

  // Background blur state.
  Buffer<float> blurKernel_;
  Buffer<uint8_t> blurSmall_, blurRows_;
  int32_t blurSmallCapacity_ = 0, blurRowsCapacity_ = 0;
  int32_t blurWidth_ = 64, blurHeight_ = 0;
  int32_t blurKernelSize_ = 15;
  float blurSigma_ = 0.f;
  bool blurHeightCapped_ = false;

  TAVROMATTING::Net* net_ = nullptr;
  std::atomic<TavroRTCMP::ThreadWrapper*> thread_{nullptr};
  std::unique_ptr<TavroRTCMP::EventWrapper> startEvent_, doneEvent_;
  std::atomic<bool> busy_{false};
  // The MattingThread's verdict on its last share; written before busy is
  // cleared, read after busy is seen cleared.
  bool shareOk_ = true;
  bool threadRunning_ = false;
  // Set by the MattingThread once it has seen the teardown and given back
  // its OpenCV data.
  std::atomic<bool> threadLetGo_{false};

  bool firstFrame_ = true;
  bool needsInit_ = true;
  tavro_rtc::FilterSettings switches_;  // of the current frame
  bool opticalFlow_ = false, mediaFilter_ = false;  // from switches_
  const ImageDesc* frameDesc_ = nullptr;
  bool timing_ = false;
  EdgeRefiner refiner_;
};

}  // namespace TavroMatting
