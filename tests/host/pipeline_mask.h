// The matting pipeline's own mask for a frame at a given network size, to
// check which size the module really runs.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "host/i420_image.h"
#include "matting/matting_frame.h"

// The last of three passes of frame at netW x 224, optical flow and media
// filter off.
inline std::vector<uint8_t> PipelineMask(tavro_host::I420Image frame, int netW) {
  using namespace TavroMatting;
  MattingFrame* matting = CreateMattingFrame(320, 224);
  const int w = frame.width, h = frame.height;
  const PlanarImage image{{frame.y(), frame.u(), frame.v()},
                          {w, w / 2, w / 2}, {h, h / 2, h / 2}, {w, w / 2, w / 2}};
  std::vector<uint8_t> mask(frame.lumaSize());
  const MaskView view{mask.data(), w, h};
  for (int pass = 0; pass < 3; ++pass) {
    const MattingSettings settings =
        TavroMatting::MakeMattingSettings(netW, 224, pass == 0 ? 1 : 0, false, false);
    EXPECT_EQ(ProcessMattingFrame(matting, &image, &view, &settings), 0);
  }
  DestroyMattingFrame(matting);
  return mask;
}
