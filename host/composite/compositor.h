// Puts the person of a frame, cut out by the module's mask, in front of a
// new background: the frame's own background blurred (without the person's
// colours, see masked_blur.h), a colour, a picture, or a colour or picture
// with transparency over the blur. Shared by tavro-host and the GStreamer
// element; it needs only libyuv.
#pragma once

#include <cstdint>
#include <vector>

#include "host/composite/masked_blur.h"
#include "host/composite/plane.h"

namespace tavro_host {

struct CompositeSettings {
  // 0 to 100: the blur's sigma is strength / 100 of a twelfth of the frame
  // height (50: 30 px at 720p, 45 px at 1080p).
  int blurStrength = 50;
  // The mask's edge is softened with a box of this radius, in pixels.
  int edgeFeather = 0;
  // Mask values map to opacity along a ramp centred on maskThreshold and
  // maskSoftness wide (0: a hard cut at the threshold).
  int maskThreshold = 128;
  int maskSoftness = 96;
};

// What goes behind the person, from the bottom up: the blurred background
// of the frame, a colour (Y, U, V, opacity; opacity 0 = none), a picture of
// the frame's size with an optional opacity plane of the frame's luma size.
struct Backdrop {
  uint8_t colour[4] = {0, 0, 0, 0};
  const PlanarFrame* picture = nullptr;
  const uint8_t* pictureAlpha = nullptr;  // width x height, tight rows; null: opaque
};

class Compositor {
 public:
  void setSettings(const CompositeSettings& settings);
  const CompositeSettings& settings() const { return settings_; }

  // Replaces the frame's background in place. mask is the frame's luma
  // size, maskStride bytes a row, 255 = person.
  void composite(const PlanarFrame& frame, const uint8_t* mask, int maskStride,
                 const Backdrop& backdrop);

 private:
  void makeAlpha(const uint8_t* mask, int maskStride, int width, int height);
  void feather(int width, int height);
  void compositePlane(int p, const PlanarFrame& frame, const Plane& mask,
                      const Backdrop& backdrop, bool blur, float sigma);

  CompositeSettings settings_;
  uint8_t alphaLut_[256];
  uint8_t weightLut_[256];
  // Opacity per plane (luma, then chroma, which U and V share).
  std::vector<uint8_t> alpha_[2], pictureAlpha_, chromaMask_;
  std::vector<uint32_t> featherSums_;
  std::vector<uint8_t> featherRow_, featherOut_;
  std::vector<uint8_t> background_;
  MaskedBlur blur_;
};

}  // namespace tavro_host
