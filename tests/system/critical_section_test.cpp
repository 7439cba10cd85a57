#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "system/critical_section_wrapper.h"

using namespace TavroRTCMP;

TEST(CriticalSection, ExcludesAndIsRecursive) {
  std::unique_ptr<CriticalSectionWrapper> cs(CreateCriticalSectionWrapper());
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        CriticalSectionScoped outer(cs.get());
        CriticalSectionScoped inner(cs.get());  // same thread enters again
        ++counter;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(counter, 40000);
}
