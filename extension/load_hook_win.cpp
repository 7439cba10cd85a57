// The DLL's load hook: at process attach it hands the host the provider name
// and the registration callback. Nothing runs at thread attach or detach, or
// at process detach. Kept out of the static core library so that unit tests
// do not register.
#include <windows.h>

#include "extension/module_entry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) tavro::OnModuleLoaded();
  return TRUE;
}
