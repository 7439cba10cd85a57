// The module's version text and its one exported function.
#include "extension/version.h"

#include <cstring>

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

extern "C" __attribute__((visibility("default"))) const char*
Get_Matting_Version() {
  return tavro::GetMattingVersionText();
}
