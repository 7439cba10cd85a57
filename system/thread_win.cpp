#include "system/thread_win.h"

#include <objbase.h>
#include <process.h>

#include <new>

namespace TavroRTCMP {

namespace {

constexpr DWORD kStopWaitMs = 10000;
constexpr DWORD kSetThreadNameException = 0x406D1388;

// The record a debugger reads from the naming exception.
#pragma pack(push, 8)
struct ThreadNameInfo {
  DWORD type;        // always 0x1000
  LPCSTR name;
  DWORD threadId;    // -1: the calling thread
  DWORD flags;       // reserved, 0
};
#pragma pack(pop)

// Continues after the naming exception when no debugger handled it first
// (debuggers see exceptions before vectored handlers do).
LONG CALLBACK SwallowThreadNameException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == kSetThreadNameException)
    return EXCEPTION_CONTINUE_EXECUTION;
  return EXCEPTION_CONTINUE_SEARCH;
}

struct StartArgs {
  std::shared_ptr<ThreadData> data;
};

unsigned __stdcall ThreadEntry(void* arg) {
  std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(arg));
  std::shared_ptr<ThreadData> data = std::move(args->data);
  args.reset();
  PlatformThread::Run(std::move(data));
  return 0;
}

}  // namespace

bool WindowsPriorityFor(int priority, int* winPriority) {
  static const int kPriority[] = {
      THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
      THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
      THREAD_PRIORITY_TIME_CRITICAL};
  if (priority < 1 || priority > 5) return false;
  *winPriority = kPriority[priority - 1];
  return true;
}

void NameCurrentThread(const char* name) {
  ThreadNameInfo info;
  info.type = 0x1000;
  info.name = name;
  info.threadId = static_cast<DWORD>(-1);
  info.flags = 0;
  PVOID handler = AddVectoredExceptionHandler(0, &SwallowThreadNameException);
  if (handler) {
    RaiseException(kSetThreadNameException, 0,
                   sizeof(info) / sizeof(ULONG_PTR),
                   reinterpret_cast<const ULONG_PTR*>(&info));
    RemoveVectoredExceptionHandler(handler);
  }
}

ThreadWrapper* CreateThreadWrapper(ThreadRunFunction func, void* object,
                                   int priority, const char* name) {
  return new (std::nothrow) PlatformThread(BindRunFunction(func, object), priority, name);
}

ThreadData::~ThreadData() {
  if (handle) CloseHandle(handle);
}

PlatformThread::PlatformThread(std::function<bool()> fn, int priority, const char* name)
    : data_(std::make_shared<ThreadData>(std::move(fn), priority, name)) {}

PlatformThread::~PlatformThread() = default;

void PlatformThread::RequestStop() { data_->alive.store(false); }

bool PlatformThread::Start(uint32_t& threadId) {
  ThreadData& d = *data_;
  {
    CriticalSectionScoped lock(d.lock.get());
    if (!d.callable) return false;
    if (d.handle && !d.dead) return false;  // already running
  }
  if (d.handle) {  // an earlier run has ended: release its handle
    CloseHandle(d.handle);
    d.handle = nullptr;
  }
  auto* args = new (std::nothrow) StartArgs{data_};
  if (!args) return false;
  // _beginthreadex rather than CreateThread so the C runtime's per-thread
  // state is set up for the body.
  unsigned id = 0;
  const uintptr_t h = _beginthreadex(nullptr, 0, &ThreadEntry, args, 0, &id);
  if (h == 0) {
    delete args;
    return false;
  }
  d.handle = reinterpret_cast<HANDLE>(h);
  d.threadId = id;
  threadId = id;
  // The body sets the start event once it is running (alive is true then),
  // so a Stop right after Start is seen.
  d.startEvent->Wait(kEventInfinite);
  int winPriority;
  if (WindowsPriorityFor(d.priority, &winPriority))
    SetThreadPriority(d.handle, winPriority);
  return true;
}

void PlatformThread::Run(std::shared_ptr<ThreadData> data) {
  ThreadData& d = *data;
  MarkBodyRunning(d);
  d.startEvent->Set();

  d.coInitResult = 1;
  const bool comThread = d.name == kComThreadName;
  if (comThread) d.coInitResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (!d.name.empty()) NameCurrentThread(d.name.c_str());

  CallUntilDone(d);

  if (comThread && d.coInitResult == S_OK) {
    CoUninitialize();
    d.coInitResult = 1;
  }
  MarkBodyEnded(d);
}

bool PlatformThread::Stop() {
  ThreadData& d = *data_;
  bool waited = false;
  d.lock->Enter();
  d.alive.store(false);
  if (d.handle && !d.dead) {
    d.lock->Leave();
    if (GetThreadId(d.handle) != GetCurrentThreadId() &&
        WaitForSingleObject(d.handle, kStopWaitMs) == WAIT_OBJECT_0) {
      waited = true;
    }
    d.lock->Enter();
  }
  d.callable = nullptr;  // a body still running ends at its next pass
  const bool ended = d.dead || waited;
  d.lock->Leave();
  return ended;
}

DWORD_PTR AffinityMaskFor(const int32_t* processors, int32_t count) {
  constexpr int kMaskBits = static_cast<int>(sizeof(DWORD_PTR) * 8);
  DWORD_PTR mask = 0;
  for (int32_t i = 0; processors && i < count; ++i) {
    if (processors[i] < 0 || processors[i] >= kMaskBits) continue;
    mask |= static_cast<DWORD_PTR>(1) << processors[i];
  }
  return mask;
}

bool PlatformThread::SetAffinity(const int32_t* processors, int32_t count) {
  const DWORD_PTR mask = AffinityMaskFor(processors, count);
  if (mask == 0) return false;
  ThreadData& d = *data_;
  CriticalSectionScoped lock(d.lock.get());
  if (!d.handle || d.dead) return false;
  return SetThreadAffinityMask(d.handle, mask) != 0;
}

}  // namespace TavroRTCMP
