// Loads the segmentation module through the stand-in SDK and drives one
// "PortraitSegmentation" filter the way a host application does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/i420_image.h"
#include "host/sdk/sdk_host.h"

namespace tavro_host {

class ModuleSession {
 public:
  ModuleSession() = default;
  ~ModuleSession();
  ModuleSession(const ModuleSession&) = delete;
  ModuleSession& operator=(const ModuleSession&) = delete;

  // Loads the module, runs its registration, creates the filter, applies
  // configsJson to "configs", enables and starts it. False with *error set
  // when any step fails.
  bool open(const std::string& modulePath, const std::string& configsJson,
            std::string* error);
  // Passes frame through the filter (its pixels may change: bokeh). mask gets
  // the attached alpha (empty when none was attached). Returns the filter's
  // result code.
  int32_t process(I420Image& frame, std::vector<uint8_t>& mask);
  // The module's Get_Matting_Version text, or "" when not loaded.
  std::string version() const;
  // Stops and releases the filter and provider and unloads the module.
  void close();

 private:
  void* handle_ = nullptr;
  tavro_rtc::ExtensionProvider* provider_ = nullptr;
  tavro_rtc::VideoFilter* filter_ = nullptr;
};

// Where the module lives when not given: ../lib next to this program, or
// this program's own folder on Windows.
std::string DefaultModulePath();

}  // namespace tavro_host
