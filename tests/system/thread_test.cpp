#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "system/thread_wrapper.h"

using namespace TavroRTCMP;

namespace {

struct Counter {
  std::atomic<int> calls{0};
  int stopAfter = -1;  // return false on this call number (1-based)
};

bool CountCall(void* obj) {
  auto* c = static_cast<Counter*>(obj);
  int n = ++c->calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return c->stopAfter < 0 || n < c->stopAfter;
}

bool CountAndThrow(void* obj) {
  ++static_cast<Counter*>(obj)->calls;
  throw 42;
}

}  // namespace

TEST(ThreadWrapper, EmptyFunctionDoesNotStart) {
  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(nullptr, nullptr, 2, "x"));
  uint32_t id = 7;
  EXPECT_FALSE(t->Start(id));
  EXPECT_EQ(id, 7u);
  EXPECT_TRUE(t->Stop());
}

TEST(ThreadWrapper, StopWithoutStartSucceeds) {
  Counter c;
  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&CountCall, &c, 3, nullptr));
  EXPECT_TRUE(t->Stop());
  EXPECT_EQ(c.calls, 0);
  uint32_t id = 0;
  EXPECT_FALSE(t->Start(id)) << "Stop empties the callable";
}

TEST(ThreadWrapper, BodyEndingItselfIsSeenByStop) {
  Counter c;
  c.stopAfter = 1;
  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&CountCall, &c, 2, "once"));
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  EXPECT_NE(id, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(t->Stop());
  EXPECT_EQ(c.calls, 1);

  // A body that throws ends its thread, not the process.
  Counter thrower;
  std::unique_ptr<ThreadWrapper> u(CreateThreadWrapper(&CountAndThrow, &thrower, 2, "throws"));
  ASSERT_TRUE(u->Start(id));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_TRUE(u->Stop());
  EXPECT_EQ(thrower.calls, 1);
}

TEST(ThreadWrapper, StopRightAfterStartEndsTheBody) {
  // The start handshake makes alive true before Start returns, so this Stop
  // is never lost; the body ends after at most one more call.
  for (int round = 0; round < 20; ++round) {
    Counter c;
    std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&CountCall, &c, round % 7, "loop"));
    uint32_t id = 0;
    ASSERT_TRUE(t->Start(id));
    EXPECT_TRUE(t->Stop());
    int after = c.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(c.calls, after);
  }
}

TEST(ThreadWrapper, RequestStopEndsBodyWithoutWaiting) {
  Counter c;
  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&CountCall, &c, 1, "req"));
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  t->RequestStop();
  EXPECT_TRUE(t->Stop());
}

TEST(ThreadWrapper, WrapperMayGoFirstWhileBodyRuns) {
  // Destroying the wrapper only drops its share; the body finishes on its own.
  // The counter outlives the test because nothing joins the body here.
  static Counter c;
  c.stopAfter = 20;
  {
    std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&CountCall, &c, 2, "orphan"));
    uint32_t id = 0;
    ASSERT_TRUE(t->Start(id));
  }
  for (int i = 0; i < 200 && c.calls < 20; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(c.calls, 20);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
}
