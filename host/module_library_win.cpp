// LoadLibrary() and friends; DLLs sit beside the programs in bin/.
#include <windows.h>

#include <filesystem>

#include "host/module_library.h"
#include "host/module_session.h"

namespace tavro_host {

namespace {
constexpr wchar_t kModuleFile[] = L"libtavro_segmentation_extension.dll";
}  // namespace

std::string DefaultModulePath() {
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return std::filesystem::path(kModuleFile).string();
  return (std::filesystem::path(exe).parent_path() / kModuleFile).string();
}

void* OpenModuleLibrary(const std::string& path, std::string* error) {
  // Paths are UTF-8 on our side; the loader takes UTF-16.
  const std::filesystem::path p = std::filesystem::u8path(path);
  HMODULE module = LoadLibraryExW(p.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module) {
    *error = "cannot load " + path + ": error " + std::to_string(GetLastError());
  }
  return reinterpret_cast<void*>(module);
}

void* ModuleLibrarySymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}

void CloseModuleLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

}  // namespace tavro_host
