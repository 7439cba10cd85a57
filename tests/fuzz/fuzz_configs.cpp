// libFuzzer harness: arbitrary bytes as the "configs" property value of a
// filter. After every call the configuration must still be one the
// property can produce, and nothing may escape the call.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "extension/matting_interface.h"
#include "extension/ref_counted_object.h"
#include "extension/seg_video_filter.h"

namespace {

// The configuration path only: no pipeline behind the wrapper.
class NullMatting final : public tavro::MattingInterface {
 public:
  int32_t init(int32_t, int32_t, int32_t, int32_t) override { return 0; }
  int32_t warmup() override { return 0; }
  int32_t process(tavro::FrameImage, tavro::MaskBuffer&) override { return 0; }
  int32_t setConfig(tavro::SegmentationConfig) override { return 0; }
  const char* version() override { return ""; }
};

tavro::SEGVideoFilter* MakeFilter() {
  auto* filter = new tavro::RefCountedObject<tavro::SEGVideoFilter>(
      std::unique_ptr<tavro::VideoSegmentationWrapper>(new tavro::VideoSegmentationWrapper(
          std::unique_ptr<tavro::MattingInterface>(new NullMatting))));
  filter->addRef();
  return filter;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static tavro::SEGVideoFilter* filter = MakeFilter();
  const std::string value(reinterpret_cast<const char*>(data), size);  // NUL-terminated
  if (filter->setProperty("configs", value.c_str()) != -1) std::abort();
  const tavro::SegmentationConfig c = filter->wrapper().config();
  const bool sane = (c.netWidth == 320 || c.netWidth == 224) && c.netHeight == 224 &&
                    c.reset == 0;
  if (!sane) std::abort();
  return 0;
}
