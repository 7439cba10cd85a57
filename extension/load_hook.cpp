// The shared module's load hook: runs once when the library is loaded into
// the host process (the process-attach moment). Nothing runs at unload.
// Kept out of the static core library so that unit tests do not register.
#include "extension/module_entry.h"

namespace {
__attribute__((constructor)) void TavroSegmentationModuleLoaded() {
  tavro::OnModuleLoaded();
}
}  // namespace
