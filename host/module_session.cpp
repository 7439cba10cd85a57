#include "host/module_session.h"

#include <cstring>

#include "host/module_library.h"

namespace tavro_host {

namespace {
constexpr char kProvider[] = "video_segmentation_provider";
constexpr char kExtension[] = "PortraitSegmentation";
}  // namespace

ModuleSession::~ModuleSession() { close(); }

bool ModuleSession::open(const std::string& modulePath,
                         const std::string& configsJson, std::string* error) {
  close();
  handle_ = OpenModuleLibrary(modulePath, error);
  if (!handle_) return false;
  tavro_rtc::RunPendingRegistrations();
  provider_ = tavro_rtc::FindProvider(kProvider);
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
  filter_->setProperty("configs", configsJson.c_str());
  filter_->setEnabled(true);
  tavro_rtc::HostEventSink* sink = tavro_rtc::HostEventSink::Create(true);
  filter_->start(sink);  // our reference goes to the filter
  return true;
}

int32_t ModuleSession::process(I420Image& frame, std::vector<uint8_t>& mask) {
  mask.clear();
  if (!filter_) return 2;
  tavro_rtc::HostVideoFrame* hostFrame =
      tavro_rtc::HostVideoFrame::Create(frame.width, frame.height);
  hostFrame->setPlanes(frame.data);
  tavro_rtc::VideoFrame* out = nullptr;
  hostFrame->addRef();  // handed to the filter
  const int32_t result = filter_->adaptVideoFrame(hostFrame, &out);
  if (out) out->release();
  hostFrame->getPlanes(frame.data);
  if (hostFrame->attachCount() > 0) mask = hostFrame->alpha();
  hostFrame->release();
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
  tavro_rtc::ShutdownHost();
  if (handle_) {
    CloseModuleLibrary(handle_);
    handle_ = nullptr;
  }
}

}  // namespace tavro_host
