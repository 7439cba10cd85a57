// Start-up of the module inside the host: the load hook hands the host the
// provider name and RegisterSegmentationProvider; the host calls it back.
#pragma once

namespace tavro {

// The registration callback: fetches the host's extension control with the
// host's own argument and registers one SEGExtensionProvider with it.
void RegisterSegmentationProvider(void* hostContext);

// What the load hook does at process attach.
void OnModuleLoaded();

}  // namespace tavro
