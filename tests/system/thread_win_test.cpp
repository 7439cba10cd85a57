// The Win32 side of the thread wrapper: priorities, debugger names, COM on
// the engine monitor thread and affinity, observed from inside the body.
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "system/thread_win.h"
#include "system/thread_wrapper.h"

using namespace TavroRTCMP;

namespace {

constexpr DWORD kNameException = 0x406D1388;
constexpr int kUnset = -12345;

struct Probe {
  std::atomic<int> calls{0};
  std::atomic<int> priority{kUnset};
  std::atomic<DWORD> threadId{0};
  std::atomic<long> comResult{kUnset};
  std::atomic<bool> go{false};
  std::atomic<bool> recorded{false};
  DWORD_PTR pinnedTo = 0;
  DWORD_PTR processMask = 0;
};

bool RecordPriority(void* obj) {
  auto* p = static_cast<Probe*>(obj);
  p->threadId = GetCurrentThreadId();
  p->priority = GetThreadPriority(GetCurrentThread());
  ++p->calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return true;
}

// Asks COM for the multithreaded apartment again: S_FALSE means the wrapper
// already entered it for this thread, S_OK that it did not.
bool RecordCom(void* obj) {
  auto* p = static_cast<Probe*>(obj);
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (SUCCEEDED(hr)) CoUninitialize();
  p->comResult = hr;
  p->recorded = true;
  return false;
}

bool RecordAffinity(void* obj) {
  auto* p = static_cast<Probe*>(obj);
  if (!p->go) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  // SetThreadAffinityMask answers with the mask it replaces.
  p->pinnedTo = SetThreadAffinityMask(GetCurrentThread(), p->processMask);
  p->recorded = true;
  return false;
}

bool ReturnFalse(void*) { return false; }

template <typename Pred>
bool WaitFor(Pred pred) {
  for (int i = 0; i < 2000 && !pred(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return pred();
}

// What a debugger would see of the naming exceptions raised while it is
// installed (first in line, passing them on).
struct NameRecord {
  std::atomic<int> count{0};
  DWORD type = 0, threadId = 0, flags = 0;
  std::string name;
};
NameRecord* g_names = nullptr;

LONG CALLBACK WatchNames(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  if (rec->ExceptionCode == kNameException && g_names) {
    // The parameters are the debugger's naming record copied word by word:
    // type, name, thread id and flags in the layout below.
    struct {
      DWORD type;
      LPCSTR name;
      DWORD threadId;
      DWORD flags;
    } record{};
    if (rec->NumberParameters * sizeof(ULONG_PTR) == sizeof(record)) {
      std::memcpy(&record, rec->ExceptionInformation, sizeof(record));
      g_names->type = record.type;
      g_names->name = record.name ? record.name : "";
      g_names->threadId = record.threadId;
      g_names->flags = record.flags;
    }
    ++g_names->count;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

TEST(ThreadWindows, PrioritiesReachTheRunningThread) {
  const struct {
    int given;
    int expected;
  } cases[] = {
      {1, THREAD_PRIORITY_BELOW_NORMAL}, {2, THREAD_PRIORITY_NORMAL},
      {3, THREAD_PRIORITY_ABOVE_NORMAL}, {4, THREAD_PRIORITY_HIGHEST},
      {5, THREAD_PRIORITY_TIME_CRITICAL},
      // Values outside 1..5 leave the new thread at its default.
      {0, THREAD_PRIORITY_NORMAL},       {6, THREAD_PRIORITY_NORMAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given);
    Probe p;
    std::unique_ptr<ThreadWrapper> t(
        CreateThreadWrapper(&RecordPriority, &p, c.given, "prio"));
    uint32_t id = 0;
    ASSERT_TRUE(t->Start(id));
    // Start sets the priority after the handshake; the body sees it on a
    // later pass.
    const int before = p.calls;
    EXPECT_TRUE(WaitFor([&] { return p.calls > before + 2; }));
    EXPECT_TRUE(WaitFor([&] { return p.priority == c.expected; }))
        << "last seen " << p.priority;
    EXPECT_EQ(p.threadId, id) << "Start reports the new thread's id";
    EXPECT_TRUE(t->Stop());
  }
}

TEST(ThreadWindows, NameIsRaisedForDebuggers) {
  NameRecord seen;
  g_names = &seen;
  PVOID watcher = AddVectoredExceptionHandler(1, &WatchNames);
  ASSERT_NE(watcher, nullptr);
  {
    // Unnamed threads raise nothing.
    std::unique_ptr<ThreadWrapper> t(
        CreateThreadWrapper(&ReturnFalse, nullptr, 2, nullptr));
    uint32_t id = 0;
    ASSERT_TRUE(t->Start(id));
    EXPECT_TRUE(t->Stop());
    EXPECT_EQ(seen.count, 0);
  }
  std::unique_ptr<ThreadWrapper> t(
      CreateThreadWrapper(&ReturnFalse, nullptr, 3, "MattingThread"));
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  EXPECT_TRUE(WaitFor([&] { return seen.count > 0; }));
  EXPECT_TRUE(t->Stop()) << "the body survives its naming exception";
  RemoveVectoredExceptionHandler(watcher);
  g_names = nullptr;

  EXPECT_EQ(seen.count, 1);
  EXPECT_EQ(seen.type, 0x1000u);
  EXPECT_EQ(seen.name, "MattingThread");
  EXPECT_EQ(seen.threadId, 0xFFFFFFFFu) << "-1: the calling thread";
  EXPECT_EQ(seen.flags, 0u);
}

TEST(ThreadWindows, ComOnlyOnTheEngineMonitorThread) {
  const struct {
    const char* name;
    HRESULT expected;
  } cases[] = {
      {"EngineMonitorThread", S_FALSE},   // already in the apartment
      {"EngineMonitorThreadX", S_OK},     // one character more: no COM
      {"EngineMonitorThrea", S_OK},
      {"MattingThread", S_OK},
      {nullptr, S_OK},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name ? c.name : "(no name)");
    Probe p;
    std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&RecordCom, &p, 2, c.name));
    uint32_t id = 0;
    ASSERT_TRUE(t->Start(id));
    EXPECT_TRUE(WaitFor([&] { return p.recorded.load(); }));
    EXPECT_TRUE(t->Stop());
    EXPECT_EQ(p.comResult, c.expected);
  }
}

TEST(ThreadWindows, AffinityMaskAndPinning) {
  const int32_t zeroAndTwo[] = {0, 2};
  EXPECT_EQ(AffinityMaskFor(zeroAndTwo, 2), DWORD_PTR{0b101});
  const int32_t outOfRange[] = {-1, 64, 3};
  EXPECT_EQ(AffinityMaskFor(outOfRange, 3), DWORD_PTR{0b1000});
  EXPECT_EQ(AffinityMaskFor(zeroAndTwo, 0), DWORD_PTR{0});

  Probe p;
  DWORD_PTR systemMask = 0;
  ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &p.processMask, &systemMask));
  int cpu = 0;
  while (!(p.processMask & (DWORD_PTR{1} << cpu))) ++cpu;

  std::unique_ptr<ThreadWrapper> t(CreateThreadWrapper(&RecordAffinity, &p, 2, "pin"));
  const int32_t procs[] = {cpu};
  EXPECT_FALSE(t->SetAffinity(procs, 1)) << "not running yet";
  uint32_t id = 0;
  ASSERT_TRUE(t->Start(id));
  EXPECT_FALSE(t->SetAffinity(procs, 0));
  EXPECT_TRUE(t->SetAffinity(procs, 1));
  p.go = true;
  EXPECT_TRUE(WaitFor([&] { return p.recorded.load(); }));
  EXPECT_TRUE(t->Stop());
  EXPECT_EQ(p.pinnedTo, DWORD_PTR{1} << cpu);
}
