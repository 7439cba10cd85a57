// The built-in clip: a real photograph of a person that Debian ships
// (Grace Hopper's US Navy portrait, public domain, in python-matplotlib-data),
// seen by a camera that pans and zooms over it. Where the photograph is not
// installed, a drawn head-and-shoulders figure moves over a room backdrop.
#pragma once

#include <string>

#include <opencv2/core.hpp>

namespace tavro_host {

constexpr int kDemoWidth = 640;
constexpr int kDemoHeight = 480;
constexpr int kDemoFrames = 90;

// Where the photograph is looked for.
extern const char kDemoPhotoPath[];
// Whether the clip is made from the photograph (it is installed).
bool DemoUsesPhoto();

// Frame index of the clip as a BGR image of width x height.
cv::Mat RenderDemoFrame(int index, int width = kDemoWidth,
                        int height = kDemoHeight);

}  // namespace tavro_host
