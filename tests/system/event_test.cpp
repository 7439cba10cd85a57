#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "system/event_wrapper.h"

using namespace TavroRTCMP;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

TEST(EventWrapper, AutoResetReleasesOneWait) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  EXPECT_EQ(e->Wait(0), kEventTimeout);
  EXPECT_TRUE(e->Set());
  EXPECT_EQ(e->Wait(0), kEventSignaled);
  EXPECT_EQ(e->Wait(0), kEventTimeout);
  // Two Sets without a Wait in between still release only one Wait.
  e->Set();
  e->Set();
  EXPECT_EQ(e->Wait(0), kEventSignaled);
  EXPECT_EQ(e->Wait(0), kEventTimeout);
  e->Set();
  EXPECT_TRUE(e->Reset());
  EXPECT_EQ(e->Wait(0), kEventTimeout);
}

TEST(EventWrapper, TimedWaitTimesOut) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  auto t0 = Clock::now();
  EXPECT_EQ(e->Wait(30), kEventTimeout);
  EXPECT_GE(Clock::now() - t0, milliseconds(29));
}

TEST(EventWrapper, SetFromAnotherThreadWakesInfiniteWait) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(10));
    e->Set();
  });
  EXPECT_EQ(e->Wait(kEventInfinite), kEventSignaled);
  setter.join();
}

TEST(EventWrapper, HandshakeBetweenTwoThreads) {
  // The worker pattern: a start event wakes the worker, a done event answers.
  std::unique_ptr<EventWrapper> start(CreateEventWrapper());
  std::unique_ptr<EventWrapper> done(CreateEventWrapper());
  std::atomic<bool> quit{false};
  int work = 0;
  std::thread worker([&] {
    while (!quit) {
      if (start->Wait(100) != kEventSignaled) continue;
      ++work;
      done->Set();
    }
  });
  for (int i = 0; i < 100; ++i) {
    start->Set();
    ASSERT_EQ(done->Wait(5000), kEventSignaled);
    EXPECT_EQ(work, i + 1);
  }
  quit = true;
  worker.join();
}

TEST(EventWrapper, OneShotTimerSetsOnce) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  EXPECT_FALSE(e->StartTimer(false, 0));
  ASSERT_TRUE(e->StartTimer(false, 10));
  EXPECT_EQ(e->Wait(5000), kEventSignaled);
  EXPECT_EQ(e->Wait(40), kEventTimeout);
  EXPECT_TRUE(e->StopTimer());
}

TEST(EventWrapper, OneShotTimerSignalStaysUntilWaited) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  ASSERT_TRUE(e->StartTimer(false, 5));
  std::this_thread::sleep_for(milliseconds(50));
  EXPECT_EQ(e->Wait(0), kEventSignaled);
}

TEST(EventWrapper, PeriodicTimerPulsesWaiters) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  ASSERT_TRUE(e->StartTimer(true, 5));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(e->Wait(5000), kEventSignaled);
  EXPECT_TRUE(e->StopTimer());
  // A pulse leaves nothing behind once the timer is gone.
  std::this_thread::sleep_for(milliseconds(20));
  EXPECT_EQ(e->Wait(0), kEventTimeout);
}

TEST(EventWrapper, RestartAndDestroyWithRunningTimer) {
  std::unique_ptr<EventWrapper> e(CreateEventWrapper());
  ASSERT_TRUE(e->StartTimer(true, 1000));
  ASSERT_TRUE(e->StartTimer(false, 5));  // replaces the periodic timer
  EXPECT_EQ(e->Wait(5000), kEventSignaled);
  ASSERT_TRUE(e->StartTimer(true, 3));
  e.reset();  // the destructor stops the timer
}
