#include "extension/module_entry.h"

#include <new>

#include "extension/ref_counted_object.h"
#include "extension/seg_extension_provider.h"
#include "sdk/tavro_rtc_sdk.h"

namespace tavro {

void RegisterSegmentationProvider(void* hostContext) {
  tavro_rtc::ExtensionControl* control =
      tavro_sdk_get_extension_control(hostContext);
  if (!control) return;
  auto* provider = new (std::nothrow) RefCountedObject<SEGExtensionProvider>();
  if (!provider) return;
  provider->addRef();
  control->registerProvider(kProviderName, provider);  // the host keeps it
}

void OnModuleLoaded() {
  tavro_sdk_register_extension_provider(kProviderName,
                                        &RegisterSegmentationProvider);
}

}  // namespace tavro
