// The pthread side of the thread wrapper: OS thread names, nice values and
// CPU affinity.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "system/thread_posix.h"
#include "system/thread_wrapper.h"

using namespace TavroRTCMP;

namespace {

struct Recorder {
  std::atomic<bool> sawName{false};
  std::vector<int> cpus;
  std::atomic<bool> go{false};
  std::atomic<bool> recorded{false};
};

bool RecordName(void* obj) {
  auto* c = static_cast<Recorder*>(obj);
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof(name));
  c->sawName = std::string(name) == "AVeryLongThread";
  c->recorded = true;
  return false;
}

bool RecordCpus(void* obj) {
  auto* c = static_cast<Recorder*>(obj);
  if (!c->go) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;  // keep running until the test has set the affinity
  }
  cpu_set_t set;
  sched_getaffinity(0, sizeof(set), &set);
  for (int i = 0; i < 64; ++i)
    if (CPU_ISSET(i, &set)) c->cpus.push_back(i);
  c->recorded = true;
  return false;
}

}  // namespace

TEST(ThreadWrapper, NameIsCutToTheOsLimit) {
  EXPECT_EQ(ThreadNameForOs("MattingThread"), "MattingThread");
  EXPECT_EQ(ThreadNameForOs("AVeryLongThreadName"), "AVeryLongThread");
  Recorder c;
  std::unique_ptr<ThreadWrapper> t(
      CreateThreadWrapper(&RecordName, &c, 3, "AVeryLongThreadName"));
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  for (int i = 0; i < 1000 && !c.recorded; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(t->Stop());
  EXPECT_TRUE(c.sawName);
}

TEST(ThreadWrapper, PriorityMapping) {
  int nice = 99;
  EXPECT_FALSE(NiceValueForPriority(0, &nice));
  EXPECT_FALSE(NiceValueForPriority(6, &nice));
  EXPECT_EQ(nice, 99);
  int prev = 100;
  for (int p = 1; p <= 5; ++p) {
    ASSERT_TRUE(NiceValueForPriority(p, &nice));
    EXPECT_LT(nice, prev) << "higher priority must mean a lower nice value";
    prev = nice;
  }
  NiceValueForPriority(2, &nice);
  EXPECT_EQ(nice, 0) << "priority 2 is normal";
}

TEST(ThreadWrapper, AffinityPinsTheRunningThread) {
  cpu_set_t own;
  ASSERT_EQ(sched_getaffinity(0, sizeof(own), &own), 0);
  int cpu = -1;
  for (int i = 0; i < CPU_SETSIZE && cpu < 0; ++i)
    if (CPU_ISSET(i, &own)) cpu = i;
  ASSERT_GE(cpu, 0);

  Recorder c;
  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&RecordCpus, &c, 2, "pin"));
  const int32_t procs[] = {cpu};
  EXPECT_FALSE(t->SetAffinity(procs, 1)) << "not running yet";
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  EXPECT_FALSE(t->SetAffinity(nullptr, 1));
  EXPECT_FALSE(t->SetAffinity(procs, 0));
  EXPECT_TRUE(t->SetAffinity(procs, 1));
  c.go = true;
  for (int i = 0; i < 1000 && !c.recorded; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_TRUE(t->Stop());
  ASSERT_TRUE(c.recorded);
  EXPECT_EQ(c.cpus, std::vector<int>{cpu});
}
