// The filter's one property, "configs": a JSON object whose boolean members
// switch the filter and edit the segmentation configuration.
#include <cstring>

#include <rapidjson/document.h>

#include "extension/diagnostics_route.h"
#include "extension/seg_video_filter.h"

namespace tavro {

namespace {

constexpr char kConfigsKey[] = "configs";

// The members after "enable", in the order they are looked at, and the edit
// each makes to the configuration.
struct ConfigMember {
  const char* name;
  void (*apply)(SegmentationConfig& config, bool value);
};

const ConfigMember kConfigMembers[] = {
    {"enable_media_filter",
     [](SegmentationConfig& c, bool v) { c.enableMediaFilter = v ? 1 : 0; }},
    {"enable_optical_flow",
     [](SegmentationConfig& c, bool v) { c.enableOpticalFlow = v ? 1 : 0; }},
    {"prefer_efficiency",
     [](SegmentationConfig& c, bool v) {
       c.netWidth = v ? 224 : 320;
       c.netHeight = 224;
     }},
    {"bokeh", [](SegmentationConfig& c, bool v) { c.bokeh = v; }},
};

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

  // A member that is present but not a boolean stops the walk; what was
  // applied before it stays applied.
  auto it = doc.FindMember("enable");
  if (it != doc.MemberEnd()) {
    if (!it->value.IsBool()) return;
    setEnabled(it->value.GetBool());
  }
  SegmentationConfig config = wrapper_->config();
  for (const ConfigMember& member : kConfigMembers) {
    it = doc.FindMember(member.name);
    if (it == doc.MemberEnd()) continue;
    if (!it->value.IsBool()) return;
    member.apply(config, it->value.GetBool());
    wrapper_->setConfig(config);
  }
  // Our addition, looked at last: where the module's diagnostics go.
  it = doc.FindMember("diagnostics_to_log");
  if (it == doc.MemberEnd() || !it->value.IsBool()) return;
  RouteDiagnosticsToHostLog(it->value.GetBool());
}

}  // namespace tavro
