// The module's dynamic symbol table: Get_Matting_Version and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <set>
#include <string>

TEST(ModuleExports, OnlyTheVersionFunction) {
  const std::string cmd = std::string("nm -D --defined-only ") + TAVRO_MODULE_PATH;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  ASSERT_TRUE(pipe);
  std::set<std::string> names;
  char line[1024];
  while (fgets(line, sizeof(line), pipe.get())) {
    std::string s(line);
    const size_t sp = s.find_last_of(' ');
    names.insert(s.substr(sp + 1, s.find_last_not_of("\r\n") - sp));
  }
  EXPECT_EQ(names, std::set<std::string>{"Get_Matting_Version"});
}
