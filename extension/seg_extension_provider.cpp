#include "extension/seg_extension_provider.h"

#include <cstring>
#include <new>

#include "extension/diagnostics_route.h"
#include "extension/ref_counted_object.h"
#include "extension/seg_video_filter.h"

namespace tavro {

void SEGExtensionProvider::setExtensionControl(
    tavro_rtc::ExtensionControl* control) {
  control_ = control;
  RememberHostControl(control);
  if (control_)
    control_->logMessage(tavro_rtc::kLogInfo, "segmentation: sdk setExtensionControl for provider");
}

void SEGExtensionProvider::enumerateExtensions(
    tavro_rtc::ExtensionRecord* records, int32_t* count) {
  if (records) {
    records[0].type = 1;  // video filter
    records[0].padding = 0;
    records[0].name = kExtensionName;
  }
  if (count) *count = 1;
}

void SEGExtensionProvider::createExtension6(
    tavro_rtc::RefCountInterface** result) {
  if (result) *result = nullptr;
}

void SEGExtensionProvider::createExtension8(
    tavro_rtc::RefCountInterface** result) {
  if (result) *result = nullptr;
}

void SEGExtensionProvider::createVideoFilter(const char* name,
                                             tavro_rtc::VideoFilter** result) {
  if (!result) return;
  *result = nullptr;
  if (!name || std::strcmp(name, kExtensionName) != 0) return;
  if (control_) control_->logMessage(tavro_rtc::kLogInfo, "segmentation: createVideoFilter");
  auto* filter = new (std::nothrow) RefCountedObject<SEGVideoFilter>();
  if (!filter) return;
  filter->addRef();
  *result = filter;
}

}  // namespace tavro
