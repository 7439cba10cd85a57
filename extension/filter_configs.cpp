// The filter's one property, "configs": a JSON object whose boolean members
// (sdk/filter_settings.h) switch the filter and edit the segmentation
// configuration.
#include <cstring>

#include <rapidjson/document.h>

#include "extension/diagnostics_route.h"
#include "extension/seg_video_filter.h"
#include "sdk/filter_settings.h"

namespace tavro {

namespace {
constexpr char kConfigsKey[] = "configs";
}  // namespace

int32_t SEGVideoFilter::setProperty(const char* key, const char* value) {
  if (!key || !value || key[0] == '\0') return -1;
  if (std::strcmp(key, kConfigsKey) != 0) return -1;
  try {
    std::lock_guard<std::mutex> lock(configsMutex_);
    applyConfigs(value);
  } catch (...) {  // nothing may escape to the host
  }
  return -1;  // the property call reports -1 whatever was applied
}

void SEGVideoFilter::applyConfigs(const char* json) {
  rapidjson::Document doc;
  // Strict default grammar; the iterative parser accepts exactly the same
  // documents but cannot run out of stack on deeply nested input.
  doc.Parse<rapidjson::kParseIterativeFlag>(json);
  if (doc.HasParseError() || !doc.IsObject()) return;

  // The members in list order. One that is present but not a boolean stops
  // the walk; what was applied before it stays applied. Every member after
  // "enable" edits one copy of the configuration and hands the whole copy
  // to the wrapper, so each call carries every edit made so far.
  SegmentationConfig config;
  bool copied = false;
  for (const tavro_rtc::FilterSettingInfo& member : tavro_rtc::kFilterSettings) {
    auto it = doc.FindMember(member.name);
    if (it == doc.MemberEnd()) continue;
    if (!it->value.IsBool()) return;
    const bool value = it->value.GetBool();
    if (member.field == &tavro_rtc::FilterSettings::enable) {
      setEnabled(value);
      continue;
    }
    if (!copied) config = wrapper_->config();
    copied = true;
    config.settings.*member.field = value;
    if (member.field == &tavro_rtc::FilterSettings::prefer_efficiency) {
      config.netWidth = value ? 224 : 320;
      config.netHeight = 224;
    }
    if (member.field == &tavro_rtc::FilterSettings::diagnostics_to_log)
      RouteDiagnosticsToHostLog(value);
    wrapper_->setConfig(config);
  }
}

}  // namespace tavro
