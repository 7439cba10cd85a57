// A background blur that only the background's own pixels feed. Each plane
// is box-decimated to cells of about half the blur's sigma (the colour
// weighted by how much of the cell is background, and the weight), blurred
// with a gaussian there, normalised by the blurred weight and scaled back
// up. The weighting itself runs on the plane box-decimated to an eighth of
// a cell, so a frame costs in proportion to its size in few full-size
// passes (two libyuv scalings in, one out). A cell that the person covers in part counts with the
// cube of its background share, so the person's colours do not reach the
// blurred background even where the mask edge is a little too tight.
#pragma once

#include <vector>

#include "host/composite/plane.h"

namespace tavro_host {

class MaskedBlur {
 public:
  // Writes the blurred background of src into dst (same size). mask is the
  // person mask of the frame (255 = person), of src's size or larger (the
  // luma mask serves the chroma planes); weightLut maps a mask value to the
  // background weight (255 = all background). sigma is in pixels of src.
  // Where no background is near (deep inside the person) the plain blur of
  // src fills in.
  void run(const Plane& src, const Plane& mask, const uint8_t weightLut[256], float sigma,
           const Plane& dst);

 private:
  void gaussian(std::vector<float>& image, int width, int height, float sigma);

  std::vector<uint8_t> source_, mask_, weight_, premultiplied_;
  std::vector<uint8_t> cellColour_, cellWeight_, cellPlain_, small_;
  std::vector<float> sum_, weightSum_, plain_, line_, kernel_;
};

}  // namespace tavro_host
