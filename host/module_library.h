// The platform's dynamic loader behind three calls, for ModuleSession.
#pragma once

#include <string>

namespace tavro_host {

// Loads the library at path; null with *error set when it cannot be loaded.
void* OpenModuleLibrary(const std::string& path, std::string* error);
// The address of an exported function, or null.
void* ModuleLibrarySymbol(void* handle, const char* name);
void CloseModuleLibrary(void* handle);

}  // namespace tavro_host
