// The MattingThread: computes the grey image, the optical flow with the
// warped previous mask, and the skin map of a frame while the calling thread
// runs the network. Hand-shake: the caller sets busy, then the start event;
// the worker clears busy, then sets the done event. Every wait times out
// after 100 ms and re-tests busy.
#include <cstdio>
#include <cstring>

#include "diagnostics/diagnostics.h"
#include "matting/flow_fusion.h"
#include "matting/flow_pair.h"
#include "matting/matting_frame.h"
#include "matting/skin_map.h"
#include "system/event_wrapper.h"
#include "system/thread_wrapper.h"

namespace TavroMatting {

namespace {
constexpr const char* kStartName = "TavroMatting::MattingFrame::StartMattingThread";
constexpr int kThreadPriorityAboveNormal = 3;
constexpr int kWaitMs = 100;
constexpr int kWaitSignalled = TavroRTCMP::kEventSignaled;
}  // namespace

bool MattingThreadProc(void* object) {
  auto* frame = static_cast<MattingFrame*>(object);
  if (!frame->thread_.load(std::memory_order_acquire)) {
    // Teardown: the thread ends after this pass. Its OpenCV data (the flow
    // ran here) is given back now, where a failing allocation can be caught,
    // rather than by OpenCV's thread-exit destructor, where it cannot.
    ReleaseOpenCvThreadData();
    frame->threadLetGo_.store(true, std::memory_order_release);
    if (frame->doneEvent_) frame->doneEvent_->Set();
    return false;
  }
  try {
    frame->MattingThreadWork();
  } catch (...) {
    // MattingThreadWork answers every share it takes; what is left to throw
    // here is the wait itself, and the next pass simply waits again.
  }
  return true;
}

void MattingFrame::StartMattingThread() {
  if (thread_.load(std::memory_order_acquire)) return;
  // Without both events there is no hand-shake; the share then runs on the
  // calling thread.
  if (!startEvent_ || !doneEvent_) return;
  TavroRTCMP::ThreadWrapper* thread = TavroRTCMP::CreateThreadWrapper(
      &MattingThreadProc, this, kThreadPriorityAboveNormal, "MattingThread");
  if (!thread) {
    tavro_diag::Printf("%s: No thread\n", kStartName);
    return;
  }
  thread_.store(thread, std::memory_order_release);
  uint32_t id = 0;
  if (!thread->Start(id)) {
    tavro_diag::Printf("%s: Could not start send thread\n", kStartName);
    return;
  }
  threadRunning_ = true;
}

void MattingFrame::StopMattingThread() {
  TavroRTCMP::ThreadWrapper* thread =
      thread_.exchange(nullptr, std::memory_order_acq_rel);
  const bool threadRunning = threadRunning_;
  threadRunning_ = false;
  if (!thread) return;
  // The worker sees the thread member cleared on its next pass and gives
  // back its OpenCV data before it is told to stop (MattingThreadProc);
  // told to stop first, it could end without another pass. Waited for a
  // few time-outs at most: a worker that does not come leaves that to
  // OpenCV at its exit.
  if (threadRunning && startEvent_ && doneEvent_) {
    startEvent_->Set();
    for (int i = 0; i < 5 && !threadLetGo_.load(std::memory_order_acquire); ++i)
      doneEvent_->Wait(kWaitMs);
  }
  thread->RequestStop();
  if (startEvent_) startEvent_->Set();
  if (doneEvent_) doneEvent_->Set();
  // A thread that does not end in time keeps its wrapper: deleting it under
  // a running body would be worse than the leak.
  if (thread->Stop()) delete thread;
}

void MattingFrame::MattingThreadWork() {
  if (!busy_.load(std::memory_order_acquire)) {
    if (startEvent_->Wait(kWaitMs) != kWaitSignalled) return;
    if (!busy_.load(std::memory_order_acquire)) return;
  }
  // The caller waits for busy to clear whatever happens here: a share that
  // throws (an allocation failing in OpenCV or in the flow's tap tables) is
  // answered as failed, never left owing.
  bool ok = false;
  try {
    ok = DoThreadShare();
  } catch (...) {
    ok = false;
  }
  shareOk_ = ok;
  busy_.store(false, std::memory_order_release);
  doneEvent_->Set();
}

bool MattingFrame::DoThreadShare() {
  const int32_t W = workWidth_, H = workHeight_;
  const size_t m = size_t(W) * H;
  if (opticalFlow_ && frameDesc_) {
    const ImageDesc& f = *frameDesc_;
    if (ScaleImage(PlaneDesc(f.planes[0], f.widths[0], f.heights[0], f.strides[0]),
                   PlaneDesc(curGray_.data, W, H, W), kScaleBilinear) != 0)
      return false;
    if (!firstFrame_) WarpWithFlow();
  }
  if (mediaFilter_) {
    uint8_t* u = buf_.chromaUV.get();
    uint8_t* v = u + m;
    const ImageDesc work = I420Desc(buf_.workI420.get(), W, H);
    if (W / 2 >= 1 && H / 2 >= 1) {
      if (ScaleImage(PlaneDesc(work.planes[1], W / 2, H / 2, W / 2),
                     PlaneDesc(u, W, H, W), kScaleBilinear) != 0 ||
          ScaleImage(PlaneDesc(work.planes[2], W / 2, H / 2, W / 2),
                     PlaneDesc(v, W, H, W), kScaleBilinear) != 0)
        return false;
    } else {
      std::memset(u, 128, 2 * m);
    }
    DetectSkin(u, v, buf_.skinMap.get(), buf_.dilateRows.get(), W, H, W);
  }
  return true;
}

void MattingFrame::WarpWithFlow() {
  const int32_t W = workWidth_, H = workHeight_;
  const size_t m = size_t(W) * H;
  auto* fwd = reinterpret_cast<int16_t*>(flowFwd_.data);
  auto* bwd = reinterpret_cast<int16_t*>(flowBwd_.data);
  if (flow_) {
    ComputeFlowPair(*flow_, flowLevel_, prevGray_.data, curGray_.data, W, H,
                    fwd, bwd, flowScratch_);
  } else {
    std::memset(fwd, 0, 2 * m * sizeof(int16_t));
    std::memset(bwd, 0, 2 * m * sizeof(int16_t));
  }
  std::memcpy(prevGray_.data, curGray_.data, m);

  std::memset(buf_.landed.get(), 0, m);
  std::memset(buf_.validMap.get(), 1, m);
  std::memset(buf_.warpedMask.get(), 0, m);
  float* weight = buf_.fusionWeight.get();
  for (size_t i = 0; i < m; ++i) weight[i] = kMovingWeight;

  InterleaveFlow(fwd, buf_.forwardFlow.get(), W, H);
  InterleaveFlow(bwd, buf_.backwardFlow.get(), W, H);
  FlowTargets(fwd, buf_.columnIndex.get(), buf_.validMap.get(), buf_.targetX.get(), W, H, W,
              FlowAxis::kX);
  FlowTargets(fwd + m, buf_.rowIndex.get(), buf_.validMap.get(), buf_.targetY.get(), W, H, H,
              FlowAxis::kY);
  SampleBackwardFlow(buf_.backwardFlow.get(), buf_.backwardAtTarget.get(), buf_.targetX.get(),
                     buf_.targetY.get(), buf_.validMap.get(), W, H);
  WarpPreviousMask(buf_.forwardFlow.get(), buf_.backwardAtTarget.get(), buf_.prevMask.get(),
                   buf_.warpedMask.get(), buf_.validMap.get(), buf_.landed.get(),
                   buf_.targetX.get(), buf_.targetY.get(), buf_.fusionWeight.get(),
                   kConsistencyThreshold, W, H);
}

void ReleasePipelineThreadData() { ReleaseOpenCvThreadData(); }

}  // namespace TavroMatting
