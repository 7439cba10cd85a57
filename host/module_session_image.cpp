// ModuleSession's overload for a contiguous I420Image (kept out of
// tavro_host_module so that library needs no OpenCV).
#include "host/i420_image.h"
#include "host/module_session.h"

namespace tavro_host {

int32_t ModuleSession::process(I420Image& frame, std::vector<uint8_t>& mask) {
  PlaneSet planes;
  planes.width = frame.width;
  planes.height = frame.height;
  planes.data[0] = frame.y();
  planes.data[1] = frame.u();
  planes.data[2] = frame.v();
  planes.stride[0] = frame.width;
  planes.stride[1] = planes.stride[2] = frame.chromaWidth();
  if (frame.data.size() < I420Image::SizeFor(frame.width, frame.height)) {
    mask.clear();
    return 2;
  }
  return process(planes, true, mask);
}

}  // namespace tavro_host
