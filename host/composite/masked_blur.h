// A background blur that only the background's own pixels feed. Each plane
// is box-decimated to cells of about a quarter of the blur's sigma (the
// colour weighted by how much of the cell is background, and the weight),
// blurred with a gaussian there, normalised by the blurred weight and
// scaled back up. A cell that the person covers in part counts with the
// cube of its background share, so the person's colours do not reach the
// blurred background even where the mask edge is a little too tight.
#pragma once

#include <vector>

#include "host/composite/plane.h"

namespace tavro_host {

class MaskedBlur {
 public:
  // Writes the blurred background of src into dst (same size). weight has
  // src's size: 255 = background, 0 = person. sigma is in pixels of src.
  // Where no background is near (deep inside the person) the plain blur of
  // src fills in.
  void run(const Plane& src, const Plane& weight, float sigma, const Plane& dst);

 private:
  void gaussian(std::vector<float>& image, int width, int height, float sigma);

  std::vector<uint8_t> premultiplied_;
  std::vector<uint8_t> cellColour_, cellWeight_, cellPlain_, small_;
  std::vector<float> sum_, weight_, plain_, line_, kernel_;
};

}  // namespace tavro_host
