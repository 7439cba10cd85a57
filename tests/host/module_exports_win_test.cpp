// The DLL's export and import tables, read from the loaded image: it exports
// Get_Matting_Version alone, imports the host's two functions by ordinal
// (7 and 9) and otherwise needs nothing a clean Windows lacks.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "sdk/sdk_host.h"

namespace {

struct ImageTables {
  std::set<std::string> exports;
  // Imported DLL (lower case) -> names, or "#n" for an import by ordinal n.
  std::map<std::string, std::set<std::string>> imports;
};

ImageTables ReadTables(HMODULE module) {
  ImageTables t;
  auto* base = reinterpret_cast<const BYTE*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& exp =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (exp.Size) {
    auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exp.VirtualAddress);
    auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
      t.exports.insert(reinterpret_cast<const char*>(base + names[i]));
    for (DWORD i = dir->NumberOfNames; i < dir->NumberOfFunctions; ++i)
      t.exports.insert("#unnamed");
  }
  const IMAGE_DATA_DIRECTORY& imp =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imp.VirtualAddress);
  for (; imp.Size && desc->Name; ++desc) {
    std::string dll = reinterpret_cast<const char*>(base + desc->Name);
    std::transform(dll.begin(), dll.end(), dll.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    std::set<std::string>& entries = t.imports[dll];
    // The lookup table keeps names and ordinals after binding.
    auto* thunk = reinterpret_cast<const IMAGE_THUNK_DATA64*>(
        base + (desc->OriginalFirstThunk ? desc->OriginalFirstThunk : desc->FirstThunk));
    for (; thunk->u1.AddressOfData; ++thunk) {
      if (IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)) {
        entries.insert("#" + std::to_string(IMAGE_ORDINAL64(thunk->u1.Ordinal)));
      } else {
        auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
            base + thunk->u1.AddressOfData);
        entries.insert(reinterpret_cast<const char*>(byName->Name));
      }
    }
  }
  return t;
}

HMODULE Load(const char* path) {
  return LoadLibraryW(std::filesystem::u8path(path).c_str());
}

}  // namespace

TEST(ModuleImage, ExportsOnlyTheVersionAndImportsTheHostByOrdinal) {
  HMODULE module = Load(TAVRO_MODULE_PATH);
  ASSERT_NE(module, nullptr) << GetLastError();
  const ImageTables t = ReadTables(module);
  EXPECT_EQ(t.exports, std::set<std::string>{"Get_Matting_Version"});

  ASSERT_TRUE(t.imports.count("tavro_rtc_sdk.dll"));
  EXPECT_EQ(t.imports.at("tavro_rtc_sdk.dll"), (std::set<std::string>{"#7", "#9"}));
  // Only libraries every Windows has: no C++ or threads runtime beside it.
  const std::set<std::string> system = {"kernel32.dll", "msvcrt.dll", "user32.dll",
                                        "advapi32.dll", "ole32.dll", "winmm.dll",
                                        "tavro_rtc_sdk.dll"};
  for (const auto& entry : t.imports) {
    const bool apiSet = entry.first.rfind("api-ms-win-", 0) == 0;
    EXPECT_TRUE(system.count(entry.first) || apiSet) << entry.first;
  }
  // Loading ran DllMain at process attach: the provider name reached the
  // host through ordinal 9.
  const auto names = tavro_rtc::PendingProviderNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "video_segmentation_provider"),
            names.end());
  tavro_rtc::ShutdownHost();
  FreeLibrary(module);
}

TEST(ModuleImage, HostExportsItsTwoFunctionsByOrdinalOnly) {
  HMODULE sdk = GetModuleHandleW(L"tavro_rtc_sdk.dll");
  ASSERT_NE(sdk, nullptr) << "the test links the host stand-in";
  EXPECT_NE(GetProcAddress(sdk, MAKEINTRESOURCEA(7)), nullptr);
  EXPECT_NE(GetProcAddress(sdk, MAKEINTRESOURCEA(9)), nullptr);
  EXPECT_EQ(GetProcAddress(sdk, "tavro_sdk_get_extension_control"), nullptr);
  EXPECT_EQ(GetProcAddress(sdk, "tavro_sdk_register_extension_provider"), nullptr);
}
