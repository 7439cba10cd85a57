// Loads the segmentation module through the stand-in SDK and drives one
// "PortraitSegmentation" filter the way a host application does. Shared by
// the host program and the GStreamer element (library tavro_host_module,
// which needs neither OpenCV nor GStreamer).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sdk/sdk_host.h"

namespace tavro_host {

struct I420Image;

// One I420 picture as a host keeps it: Y, U and V planes with strides of
// their own; chroma planes of (width / 2) x (height / 2).
struct PlaneSet {
  int width = 0;
  int height = 0;
  uint8_t* data[3] = {nullptr, nullptr, nullptr};
  int stride[3] = {0, 0, 0};
};

// Not thread-safe: one thread at a time calls process() and setConfigs()
// (a GStreamer element does both on its streaming thread).
class ModuleSession {
 public:
  ModuleSession() = default;
  ~ModuleSession();
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  // Loads the module, runs its registration, creates the filter, applies
  // configsJson to "configs", enables and starts it. False with *error set
  // when any step fails. Several sessions may be open at once in a process
  // (they share the loaded module).
  bool open(const std::string& modulePath, const std::string& configsJson,
            std::string* error);
  // Passes the frame through the filter. With writeBack the filter's pixels
  // are copied back into the planes (bokeh changes them). mask gets the
  // attached alpha, width x height bytes (empty when none was attached).
  // Returns the filter's result code. (The overload for a contiguous
  // I420Image below is defined with I420Image, in tavro_host_core.)
  int32_t process(const PlaneSet& frame, bool writeBack, std::vector<uint8_t>& mask);
  // Passes frame through the filter (its pixels may change: bokeh). mask gets
  // the attached alpha (empty when none was attached). Returns the filter's
  // result code.
  int32_t process(I420Image& frame, std::vector<uint8_t>& mask);
  // Applies configsJson to the filter's "configs" property.
  void setConfigs(const std::string& configsJson);
  // The filter, for callers that drive it frame by frame themselves.
  tavro_rtc::VideoFilter* filter() const { return filter_; }
  // The module's Get_Matting_Version text, or "" when not loaded.
  std::string version() const;
  bool isOpen() const { return filter_ != nullptr; }
  // True once a mask with a non-zero byte has come back since open(): the
  // network has warmed up (a frame without anyone in it may delay this).
  bool sawMask() const { return sawMask_; }
  // Stops and releases the filter and provider and unloads the module.
  void close();

 private:
  void applyConfigs(const std::string& json);

  void* handle_ = nullptr;
  tavro_rtc::ExtensionProvider* provider_ = nullptr;
  tavro_rtc::VideoFilter* filter_ = nullptr;
  bool counted_ = false;  // counted among the process's open sessions
  bool preferEfficiency_ = false;
  bool sawMask_ = false;
};

// Where "prefer_efficiency" ends up after the filter reads configsJson:
// true or false when the member is reached and is a boolean, otherwise
// unchanged (the filter reads the members in the order of
// sdk/filter_settings.h and stops at the first that is not a boolean).
bool PreferEfficiencyAfter(const std::string& configsJson, bool current);

// The module warms its network up on a thread of its own after the first
// frame and answers all-zero masks until then. To give a first frame a real
// mask, a host calls resend (which passes a fresh copy of that frame through
// the filter and returns its result) every 100 ms until a mask with a
// non-zero byte comes back or waitMs pass. result and mask are those of the
// first attempt; the last answer is returned and left in mask.
int32_t WaitForWarmup(const std::function<int32_t(std::vector<uint8_t>&)>& resend,
                      int waitMs, std::vector<uint8_t>& mask, int32_t result);

// Where the module lives when not given: ../lib next to this program, or
// this program's own folder on Windows.
std::string DefaultModulePath();

}  // namespace tavro_host
