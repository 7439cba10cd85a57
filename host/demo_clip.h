// A synthetic clip needing no files: a head-and-shoulders figure with skin
// tones moving in front of a textured background.
#pragma once

#include <opencv2/core.hpp>

namespace tavro_host {

constexpr int kDemoWidth = 640;
constexpr int kDemoHeight = 360;
constexpr int kDemoFrames = 60;

// Frame index of the clip as a BGR image of width x height.
cv::Mat RenderDemoFrame(int index, int width = kDemoWidth,
                        int height = kDemoHeight);

}  // namespace tavro_host
