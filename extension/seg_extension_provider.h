// SEGExtensionProvider: the provider registered as
// "video_segmentation_provider"; it offers one extension,
// "PortraitSegmentation", and makes a new video filter for each request.
#pragma once

#include "sdk/tavro_rtc_sdk.h"

namespace tavro {

constexpr char kProviderName[] = "video_segmentation_provider";
constexpr char kExtensionName[] = "PortraitSegmentation";

class SEGExtensionProvider : public tavro_rtc::ExtensionProvider {
 public:
  SEGExtensionProvider() = default;

  // Keeps the pointer (not counted, not owned) and logs the hand-over.
  void setExtensionControl(tavro_rtc::ExtensionControl* control) override;
  // Writes one record into records[0] and sets *count to 1.
  void enumerateExtensions(tavro_rtc::ExtensionRecord* records,
                           int32_t* count) override;
  void createExtension6(tavro_rtc::RefCountInterface** result) override;
  // A new filter (one reference for the caller) for the exact name
  // "PortraitSegmentation", null otherwise.
  void createVideoFilter(const char* name,
                         tavro_rtc::VideoFilter** result) override;
  void createExtension8(tavro_rtc::RefCountInterface** result) override;
  void hostNotify9() override {}

 private:
  tavro_rtc::ExtensionControl* control_ = nullptr;
};

}  // namespace tavro
