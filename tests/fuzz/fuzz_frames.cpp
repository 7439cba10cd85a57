// libFuzzer harness: frame descriptors for the matting pipeline. The bytes
// choose the frame size, the plane strides, the mask size, the work size and
// the switches; the planes are allocated to exactly the size the descriptor
// claims, so any read or write past them is a sanitizer report. Each input
// runs the frame through ProcessMattingFrame and, one input in four, the
// background blur.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "matting/matting_frame.h"

namespace {

struct Bytes {
  const uint8_t* p;
  size_t n;
  uint32_t take(uint32_t limit) {  // 0 .. limit - 1
    uint32_t v = 0;
    for (int i = 0; i < 2; ++i) v = (v << 8) | (n ? (--n, *p++) : 0);
    return limit ? v % limit : 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TavroMatting::MattingFrame* frame = TavroMatting::CreateMattingFrame(320, 224);
  Bytes in{data, size};
  // Small sizes keep every input quick; the edge cases live there anyway.
  const int32_t w = int32_t(in.take(200)) - 2, h = int32_t(in.take(200)) - 2;
  const int32_t cw = w / 2, ch = h / 2;
  int32_t stride[3] = {w + int32_t(in.take(8)) - 1, cw + int32_t(in.take(8)) - 1,
                       cw + int32_t(in.take(8)) - 1};
  const int32_t maskW = int32_t(in.take(260)) - 2, maskH = int32_t(in.take(260)) - 2;
  // Mostly small work sizes, so that an input takes well under a
  // millisecond; the deployed sizes come up one input in eight.
  static const int32_t kWork[][2] = {{320, 224}, {224, 224}, {16, 16}, {33, 17},
                                     {1, 1},     {0, 5},     {64, 48}, {2, 3},
                                     {16, 16},   {33, 17},   {64, 48}, {8, 40},
                                     {16, 16},   {33, 17},   {64, 48}, {-3, 9}};
  const auto& work = kWork[in.take(16)];
  const uint32_t switches = in.take(32);

  // Each plane holds exactly rows x stride bytes (nothing when a side is not
  // positive); what the pipeline accepts must stay inside.
  auto planeBytes = [](int32_t rows, int32_t rowStride, int32_t width) -> size_t {
    if (rows <= 0 || width <= 0 || rowStride < width) return 0;
    return size_t(rows - 1) * rowStride + width;
  };
  std::vector<uint8_t> y(planeBytes(h, stride[0], w)), u(planeBytes(ch, stride[1], cw)),
      v(planeBytes(ch, stride[2], cw));
  for (size_t i = 0; i < y.size(); ++i) y[i] = in.take(256);
  const TavroMatting::PlanarImage image{
      {y.empty() ? nullptr : y.data(), u.empty() ? nullptr : u.data(),
       v.empty() ? nullptr : v.data()},
      {w, cw, cw},
      {h, ch, ch},
      {stride[0], stride[1], stride[2]}};
  std::vector<uint8_t> mask(maskW > 0 && maskH > 0 ? size_t(maskW) * maskH : 0);
  const TavroMatting::MaskView view{mask.empty() ? nullptr : mask.data(), maskW, maskH};
  const TavroMatting::MattingSettings settings = TavroMatting::MakeMattingSettings(
      work[0], work[1], int32_t(switches & 1), (switches >> 1) & 1, (switches >> 2) & 1);
  TavroMatting::ProcessMattingFrame(frame, &image, &view, &settings);
  // The blur's fixed-size filter costs more than the rest of an input, and
  // only its plane descriptors vary: one input in four is enough.
  if ((switches & 24) == 24) {
    std::vector<uint8_t> by(y.size()), bu(u.size()), bv(v.size());
    const TavroMatting::PlanarImage blurred{
        {by.empty() ? nullptr : by.data(), bu.empty() ? nullptr : bu.data(),
         bv.empty() ? nullptr : bv.data()},
        {w, cw, cw},
        {h, ch, ch},
        {stride[0], stride[1], stride[2]}};
    TavroMatting::BlurMattingImage(frame, &image, &blurred);
  }
  return 0;
}
