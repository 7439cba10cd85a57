// dlopen() and friends; the module sits in ../lib beside bin/.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "host/module_library.h"
#include "host/module_session.h"

namespace tavro_host {

namespace {
constexpr char kModuleFile[] = "libtavro_segmentation_extension.so";
}  // namespace

std::string DefaultModulePath() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n <= 0) return kModuleFile;
  exe[n] = '\0';
  const std::filesystem::path prefix = std::filesystem::path(exe).parent_path().parent_path();
  const std::filesystem::path inLib = prefix / "lib" / kModuleFile;
#ifdef TAVRO_LIBDIR_NAME
  // An installed tavro-host (Debian puts libraries in lib/<multiarch>).
  const std::filesystem::path installed = prefix / TAVRO_LIBDIR_NAME / kModuleFile;
  std::error_code ec;
  if (!std::filesystem::exists(inLib, ec) && std::filesystem::exists(installed, ec))
    return installed.string();
#endif
  return inLib.string();
}

void* OpenModuleLibrary(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = dlerror();
    *error = "cannot load " + path + ": " + (why ? why : "unknown error");
  }
  return handle;
}

void* ModuleLibrarySymbol(void* handle, const char* name) {
  return dlsym(handle, name);
}

void CloseModuleLibrary(void* handle) { dlclose(handle); }

}  // namespace tavro_host
