// The module's version text and its one exported function.
#include "extension/version.h"

#include <cstring>

// Windows builds define this as __declspec(dllexport).
#ifndef TAVRO_MODULE_EXPORT
#define TAVRO_MODULE_EXPORT __attribute__((visibility("default")))
#endif

namespace tavro {

namespace {
char g_versionBuffer[256];
constexpr char kVersionText[] = "\"matting_release_2.0.5\"";
}  // namespace

const char* GetMattingVersionText() {
  // The first call copies the text into the static buffer and keeps its
  // address; later calls return that pointer. The buffer never changes again.
  static const char* const version = [] {
    std::memcpy(g_versionBuffer, kVersionText, sizeof(kVersionText));
    return static_cast<const char*>(g_versionBuffer);
  }();
  return version;
}

}  // namespace tavro

extern "C" TAVRO_MODULE_EXPORT const char*
Get_Matting_Version() {
  return tavro::GetMattingVersionText();
}
