// The module's dynamic symbol table: Get_Matting_Version and nothing else;
// and no libyuv from outside (it links its own, with hidden symbols).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

namespace {

// The last word of each line of a command's output.
std::set<std::string> LastWords(const std::string& cmd) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  std::set<std::string> words;
  if (!pipe) return words;
  char line[1024];
  while (fgets(line, sizeof(line), pipe.get())) {
    std::string s(line);
    const size_t end = s.find_last_not_of(" \r\n");
    if (end == std::string::npos) continue;
    const size_t sp = s.find_last_of(' ', end);
    words.insert(s.substr(sp + 1, end - sp));
  }
  return words;
}

}  // namespace

TEST(ModuleExports, OnlyTheVersionFunction) {
  EXPECT_EQ(LastWords(std::string("nm -D --defined-only ") + TAVRO_MODULE_PATH),
            std::set<std::string>{"Get_Matting_Version"});
}

TEST(ModuleExports, NoLibyuvFromOutside) {
  // Needed libraries: readelf's "Shared library: [name]" lines.
  const std::set<std::string> needed =
      LastWords(std::string("readelf -d ") + TAVRO_MODULE_PATH + " | grep NEEDED");
  ASSERT_FALSE(needed.empty());
  for (const std::string& lib : needed)
    EXPECT_EQ(lib.find("libyuv"), std::string::npos) << lib;
  // Nor a libyuv function left for the loader to find elsewhere.
  const std::set<std::string> undefined =
      LastWords(std::string("nm -D --undefined-only ") + TAVRO_MODULE_PATH);
  ASSERT_FALSE(undefined.empty());
  for (const char* name : {"ScalePlane", "I420Scale", "I420ToRGB24", "tavro_yuv_malloc"})
    for (const std::string& symbol : undefined)
      EXPECT_EQ(symbol.find(name), std::string::npos) << symbol;
}
