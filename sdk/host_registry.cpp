// The stand-in host's provider registry: ordinals 9 and 7, the extension
// control, and the providers registered through it.
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "sdk/sdk_host.h"

namespace tavro_rtc {
namespace {

struct Pending {
  std::string name;
  ProviderRegistrationCallback callback;
  bool ran;
};

class HostControl final : public ExtensionControl {
 public:
  void getCapabilities() override {}
  void recycleVideoCache() override {}
  void dumpVideoFrame() override {}
  void logMessage(int32_t level, const char* message) override;
  void fireEvent() override {}
  void registerProvider(const char* name, ExtensionProvider* provider) override;
};

struct Registry {
  std::mutex mutex;
  std::vector<Pending> pending;
  std::map<std::string, ExtensionProvider*> providers;
  LogHandler log;
  HostControl control;
  int contextToken = 0;
};

Registry& registry() {
  static Registry* r = new Registry;  // lives until exit, never destroyed
  return *r;
}

void HostControl::logMessage(int32_t level, const char* message) {
  LogHandler handler;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    handler = registry().log;
  }
  const std::string text = message ? message : "";
  if (handler)
    handler(level, text);
  else
    std::fprintf(stderr, "[host log %d] %s\n", level, text.c_str());
}

void HostControl::registerProvider(const char* name,
                                   ExtensionProvider* provider) {
  if (!provider) return;
  if (!name) {
    provider->release();
    return;
  }
  ExtensionProvider* old = nullptr;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    ExtensionProvider*& slot = registry().providers[name];
    old = slot;
    slot = provider;  // the handed-over reference is kept
  }
  if (old) old->release();
}

}  // namespace

int RunPendingRegistrations() {
  std::vector<ProviderRegistrationCallback> todo;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    for (Pending& p : registry().pending) {
      if (p.ran) continue;
      p.ran = true;
      todo.push_back(p.callback);
    }
  }
  for (ProviderRegistrationCallback cb : todo) cb(HostRegistrationContext());
  return static_cast<int>(todo.size());
}

std::vector<std::string> PendingProviderNames() {
  std::lock_guard<std::mutex> lock(registry().mutex);
  std::vector<std::string> names;
  for (const Pending& p : registry().pending) names.push_back(p.name);
  return names;
}

ExtensionProvider* FindProvider(const char* name) {
  if (!name) return nullptr;
  std::lock_guard<std::mutex> lock(registry().mutex);
  auto it = registry().providers.find(name);
  if (it == registry().providers.end()) return nullptr;
  it->second->addRef();
  return it->second;
}

void ShutdownHost() {
  std::map<std::string, ExtensionProvider*> providers;
  {
    std::lock_guard<std::mutex> lock(registry().mutex);
    providers.swap(registry().providers);
    registry().pending.clear();
  }
  for (auto& entry : providers) entry.second->release();
}

ExtensionControl* HostExtensionControl() { return &registry().control; }

void* HostRegistrationContext() { return &registry().contextToken; }

void SetLogHandler(LogHandler handler) {
  std::lock_guard<std::mutex> lock(registry().mutex);
  registry().log = std::move(handler);
}

}  // namespace tavro_rtc

extern "C" {

int32_t tavro_sdk_register_extension_provider(
    const char* providerName, tavro_rtc::ProviderRegistrationCallback callback) {
  if (!providerName || !callback) return -1;
  std::lock_guard<std::mutex> lock(tavro_rtc::registry().mutex);
  tavro_rtc::registry().pending.push_back({providerName, callback, false});
  return 0;
}

tavro_rtc::ExtensionControl* tavro_sdk_get_extension_control(void* hostContext) {
  if (hostContext != tavro_rtc::HostRegistrationContext()) return nullptr;
  return tavro_rtc::HostExtensionControl();
}

}  // extern "C"
