// Image loading for tavro-eval: frames as I420, ground-truth masks, the
// stems to score and the IoU.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavro_eval {

// A contiguous I420 picture; odd sizes are cropped to even (the last column
// or row is dropped) so the chroma planes cover the picture exactly.
struct I420Image {
  int width = 0, height = 0;
  std::vector<uint8_t> data;
  uint8_t* y() { return data.data(); }
  uint8_t* u() { return data.data() + size_t(width) * height; }
  uint8_t* v() { return u() + size_t(width / 2) * (height / 2); }
};

// Reads a jpg/png (OpenCV gives B,G,R, libyuv's RGB24 byte order) and
// converts it. False when unreadable or smaller than 2 x 2.
bool LoadI420(const std::string& path, I420Image& out);

// Reads a one-channel mask and brings it to width x height (nearest
// neighbour when its size differs, e.g. after the even crop).
bool LoadMask(const std::string& path, int width, int height,
              std::vector<uint8_t>& out);

struct Sample {
  std::string stem, imagePath, maskPath;
};

// Pairs of image and same-stem png mask, sorted by stem; only the stems of
// listFile when it is given. Images without a mask are reported and skipped.
std::vector<Sample> FindSamples(const std::string& imageDir,
                                const std::string& maskDir,
                                const std::string& listFile);

// Intersection over union of (mask >= 128) and (truth > 127); 1 when both
// are empty.
double MaskIoU(const uint8_t* mask, const uint8_t* truth, size_t n);

}  // namespace tavro_eval
