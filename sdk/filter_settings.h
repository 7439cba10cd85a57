// The members of the video filter's "configs" JSON object, listed once. The
// module reads them in this order, the GStreamer element makes a property of
// each one that has a property name, and the host program checks its
// --config and --set against the list. Every member is a boolean.
//
// The filter's walk: each member present is applied in list order; a member
// present with a value that is not a boolean stops the walk there (what came
// before stays applied). "enable" switches the filter; every other member
// edits the stream's FilterSettings, which travel unchanged from the filter
// through the wrapper and the adapter to the matting pipeline.
//
// Adding a boolean member: one line below (a lower-case field that is also
// its JSON name, the element's property name or nullptr, its initial value,
// one line of meaning), then the code that reads it from FilterSettings, a
// test, and docs/CONFIGS.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// X(field, element property, initial, meaning)
#define TAVRO_FILTER_SETTINGS(X)                                                          \
  X(enable, nullptr, false, "Process frames (the filter starts disabled)")                \
  X(enable_media_filter, "media-filter", false, "Skin-aware median filtering of the mask") \
  X(enable_optical_flow, "optical-flow", true,                                            \
    "Steady the mask over time with dense optical flow")                                  \
  X(prefer_efficiency, "prefer-efficiency", false,                                        \
    "Run the network at 224x224 instead of 320x224")                                      \
  X(bokeh, nullptr, false, "Blur the background into the frame's own pixels")             \
  X(diagnostics_to_log, nullptr, false,                                                   \
    "Send the module's diagnostic lines to the host's log instead of standard output")    \
  X(refine_edges, "refine-edges", false,                                                  \
    "Let the mask's edges follow the frame's own edges (guided by its luma)")

namespace tavro_rtc {

// One stream's switches, as the host last set them.
struct FilterSettings {
#define TAVRO_SETTING_FIELD(field, property, initial, meaning) bool field = initial;
  TAVRO_FILTER_SETTINGS(TAVRO_SETTING_FIELD)
#undef TAVRO_SETTING_FIELD
};

struct FilterSettingInfo {
  const char* name;      // the JSON member
  const char* property;  // the element's property, or nullptr
  bool initial;
  const char* meaning;
  bool FilterSettings::*field;
};

inline constexpr FilterSettingInfo kFilterSettings[] = {
#define TAVRO_SETTING_INFO(field, property, initial, meaning) \
  {#field, property, initial, meaning, &FilterSettings::field},
    TAVRO_FILTER_SETTINGS(TAVRO_SETTING_INFO)
#undef TAVRO_SETTING_INFO
};
inline constexpr size_t kFilterSettingCount = sizeof(kFilterSettings) / sizeof(kFilterSettings[0]);
static_assert(kFilterSettingCount <= 32, "the settings pack into 32 bits");

// The entry named name, or nullptr.
inline const FilterSettingInfo* FindFilterSetting(const char* name) {
  for (const FilterSettingInfo& info : kFilterSettings)
    if (name && std::strcmp(info.name, name) == 0) return &info;
  return nullptr;
}

// The switches as one word (bit i: list entry i), so that a record can cross
// threads through one atomic.
inline uint32_t PackFilterSettings(const FilterSettings& s) {
  uint32_t bits = 0;
  for (size_t i = 0; i < kFilterSettingCount; ++i)
    if (s.*kFilterSettings[i].field) bits |= uint32_t(1) << i;
  return bits;
}
inline FilterSettings UnpackFilterSettings(uint32_t bits) {
  FilterSettings s;
  for (size_t i = 0; i < kFilterSettingCount; ++i)
    s.*kFilterSettings[i].field = (bits >> i) & 1;
  return s;
}

}  // namespace tavro_rtc
