#include "host/module_session.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include <rapidjson/document.h>

#include "host/module_library.h"
#include "sdk/filter_settings.h"

namespace tavro_host {

namespace {
constexpr char kProvider[] = "video_segmentation_provider";
constexpr char kExtension[] = "PortraitSegmentation";
// Sessions of one process share the loaded module and the host's provider
// registry: the registry is shut down only when the last session closes.
std::mutex& LoadMutex() {
  static std::mutex mutex;
  return mutex;
}
int openSessions = 0;

void CopyPlane(const uint8_t* src, int srcStride, uint8_t* dst, int dstStride,
               int width, int height) {
  for (int y = 0; y < height; ++y)
    std::memcpy(dst + size_t(y) * dstStride, src + size_t(y) * srcStride, width);
}
}  // namespace

bool PreferEfficiencyAfter(const std::string& configsJson, bool current) {
  rapidjson::Document doc;
  doc.Parse(configsJson.c_str());
  if (doc.HasParseError() || !doc.IsObject()) return current;
  // The filter's walk over the members, up to "prefer_efficiency".
  for (const tavro_rtc::FilterSettingInfo& member : tavro_rtc::kFilterSettings) {
    auto it = doc.FindMember(member.name);
    if (it == doc.MemberEnd()) continue;
    if (!it->value.IsBool()) return current;
    if (member.field == &tavro_rtc::FilterSettings::prefer_efficiency) return it->value.GetBool();
  }
  return current;
}

int32_t WaitForWarmup(const std::function<int32_t(std::vector<uint8_t>&)>& resend,
                      int waitMs, std::vector<uint8_t>& mask, int32_t result) {
  using Clock = std::chrono::steady_clock;
  const auto anyNonZero = [&mask] {
    return std::any_of(mask.begin(), mask.end(), [](uint8_t v) { return v != 0; });
  };
  const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
  while (result == 0 && !anyNonZero() && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    result = resend(mask);
  }
  return result;
}

ModuleSession::~ModuleSession() { close(); }

bool ModuleSession::open(const std::string& modulePath,
                         const std::string& configsJson, std::string* error) {
  close();
  {
    std::lock_guard<std::mutex> lock(LoadMutex());
    ++openSessions;
    counted_ = true;
    handle_ = OpenModuleLibrary(modulePath, error);
    if (!handle_) return false;  // close() still counts this session out
    tavro_rtc::RunPendingRegistrations();
    provider_ = tavro_rtc::FindProvider(kProvider);
  }
  if (!provider_) {
    *error = modulePath + " registered no \"" + kProvider + "\"";
    close();
    return false;
  }
  provider_->setExtensionControl(tavro_rtc::HostExtensionControl());
  tavro_rtc::ExtensionRecord record{0, 0, nullptr};
  int32_t count = 0;
  provider_->enumerateExtensions(&record, &count);
  if (count < 1 || !record.name || std::strcmp(record.name, kExtension) != 0) {
    *error = std::string("the provider does not offer \"") + kExtension + "\"";
    close();
    return false;
  }
  provider_->createVideoFilter(kExtension, &filter_);
  if (!filter_) {
    *error = "createVideoFilter gave no filter";
    close();
    return false;
  }
  preferEfficiency_ = false;
  sawMask_ = false;
  // The module's diagnostic lines go to the host's log (the SDK's log
  // handler, level kLogDiagnostic), never into the host's standard output,
  // which may carry video.
  filter_->setProperty("configs", "{\"diagnostics_to_log\":true}");
  applyConfigs(configsJson);
  filter_->setEnabled(true);
  tavro_rtc::HostEventSink* sink = tavro_rtc::HostEventSink::Create(true);
  filter_->start(sink);  // our reference goes to the filter
  return true;
}

void ModuleSession::applyConfigs(const std::string& json) {
  filter_->setProperty("configs", json.c_str());
  preferEfficiency_ = PreferEfficiencyAfter(json, preferEfficiency_);
}

void ModuleSession::setConfigs(const std::string& configsJson) {
  if (filter_) applyConfigs(configsJson);
}

int32_t ModuleSession::process(const PlaneSet& frame, bool writeBack,
                               std::vector<uint8_t>& mask) {
  mask.clear();
  if (!filter_) return 2;
  const int w = frame.width, h = frame.height;
  tavro_rtc::HostVideoFrame* hostFrame = tavro_rtc::HostVideoFrame::Create(w, h);
  uint8_t* planes[3] = {hostFrame->pixels(), hostFrame->pixels() + size_t(w) * h,
                        hostFrame->pixels() + tavro_rtc::HostVideoFrame::VOffset(w, h)};
  const int widths[3] = {w, w / 2, w / 2}, heights[3] = {h, h / 2, h / 2};
  for (int p = 0; p < 3; ++p)
    CopyPlane(frame.data[p], frame.stride[p], planes[p], widths[p], widths[p], heights[p]);
  tavro_rtc::VideoFrame* out = nullptr;
  hostFrame->addRef();  // handed to the filter
  const int32_t result = filter_->adaptVideoFrame(hostFrame, &out);
  if (out) out->release();
  if (writeBack) {
    for (int p = 0; p < 3; ++p)
      CopyPlane(planes[p], widths[p], frame.data[p], frame.stride[p], widths[p], heights[p]);
  }
  if (hostFrame->attachCount() > 0) mask = hostFrame->alpha();
  hostFrame->release();
  if (!sawMask_)
    sawMask_ = std::any_of(mask.begin(), mask.end(), [](uint8_t v) { return v != 0; });
  // The module puts its network back to 320x224 whenever it initialises for
  // a stream (first frame, warm-up, new frame size), whatever the settings
  // said; re-stating the choice after every frame makes it hold from the
  // next frame on.
  if (preferEfficiency_) filter_->setProperty("configs", "{\"prefer_efficiency\":true}");
  return result;
}

std::string ModuleSession::version() const {
  if (!handle_) return "";
  using VersionFn = const char* (*)();
  auto fn = reinterpret_cast<VersionFn>(
      ModuleLibrarySymbol(handle_, "Get_Matting_Version"));
  const char* text = fn ? fn() : nullptr;
  return text ? text : "";
}

void ModuleSession::close() {
  if (filter_) {
    filter_->stop();
    filter_->release();  // joins the filter's warm-up threads
    filter_ = nullptr;
  }
  if (provider_) {
    provider_->release();
    provider_ = nullptr;
  }
  std::lock_guard<std::mutex> lock(LoadMutex());
  if (counted_) {
    counted_ = false;
    if (--openSessions == 0) tavro_rtc::ShutdownHost();
  }
  if (handle_) {
    CloseModuleLibrary(handle_);
    handle_ = nullptr;
  }
}

}  // namespace tavro_host
