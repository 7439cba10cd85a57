// Dense forward and backward optical flow between two grey images, searched
// on a bilinear level image and brought back to the work size as whole-pixel
// int16 planes.
#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>

namespace TavroMatting {

// Level chosen for a work size: 1 when either side is <= 64, 2 when either
// side is <= 160, otherwise 3.
int FlowLevelForSize(int width, int height);

// A new DIS object with the ultrafast preset; finest scale set to level.
cv::Ptr<cv::DISOpticalFlow> CreateFlowObject(int level);

// Per-frame working images of the flow, reused between frames.
struct FlowScratch {
  cv::Mat prevLevel, curLevel;
  cv::Mat levelFlow;  // CV_32FC2 at the level size
};

// Scales a two-channel float level flow up to width x height, multiplies it
// by 2^level, rounds half to even and saturates into two int16 planes (all x
// components, then all y components).
void UpscaleFlow(const cv::Mat& levelFlow, int level, int16_t* planes,
                 int width, int height);

// flowFwd := flow(prevGray -> curGray), flowBwd := flow(curGray -> prevGray),
// each as two int16 planes of width x height. Level images narrower or lower
// than one DIS patch give zero flow.
void ComputeFlowPair(cv::DISOpticalFlow& dis, int level, const uint8_t* prevGray,
                     const uint8_t* curGray, int width, int height,
                     int16_t* flowFwd, int16_t* flowBwd, FlowScratch& scratch);

// Gives back the calling thread's OpenCV thread data now, on the thread's
// way out. Left to the thread's exit, OpenCV's thread-key destructor does
// it, and that destructor allocates; a failed allocation there throws out of
// a destructor glibc runs and ends the process. Here a failure is caught:
// the thread's data is then left behind (OpenCV has already cleared its
// thread key, so no destructor runs at exit). Never throws.
void ReleaseOpenCvThreadData();

}  // namespace TavroMatting
