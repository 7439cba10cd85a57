#include "system/thread_posix.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

namespace TavroRTCMP {

namespace {

constexpr long kStopWaitMs = 10000;

struct StartArgs {
  std::shared_ptr<ThreadData> data;
};

void* ThreadEntry(void* arg) {
  std::unique_ptr<StartArgs> args(static_cast<StartArgs*>(arg));
  std::shared_ptr<ThreadData> data = std::move(args->data);
  args.reset();
  PlatformThread::Run(std::move(data));
  return nullptr;
}

// Waits for the thread to end, at most ms milliseconds; true when joined.
bool JoinWithTimeout(pthread_t thread, long ms) {
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += (ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return pthread_timedjoin_np(thread, nullptr, &deadline) == 0;
}

}  // namespace

bool NiceValueForPriority(int priority, int* nice) {
  static const int kNice[] = {5, 0, -5, -10, -15};
  if (priority < 1 || priority > 5) return false;
  *nice = kNice[priority - 1];
  return true;
}

std::string ThreadNameForOs(const std::string& name) {
  return name.size() > 15 ? name.substr(0, 15) : name;
}

ThreadWrapper* CreateThreadWrapper(ThreadRunFunction func, void* object,
                                   int priority, const char* name) {
  return new (std::nothrow) PlatformThread(BindRunFunction(func, object), priority, name);
}

ThreadData::~ThreadData() {
  if (hasHandle) {
    // The last share is dropped either by the body itself on its way out or
    // by another thread after the body has let go; both are safe to release.
    if (pthread_equal(handle, pthread_self()))
      pthread_detach(handle);
    else
      pthread_join(handle, nullptr);
  }
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
    if (d.hasHandle && !d.dead) return false;  // already running
  }
  if (d.hasHandle) {  // an earlier run has ended: release its handle
    pthread_join(d.handle, nullptr);
    d.hasHandle = false;
  }
  auto* args = new (std::nothrow) StartArgs{data_};
  if (!args) return false;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, &ThreadEntry, args) != 0) {
    delete args;
    return false;
  }
  d.handle = thread;
  d.hasHandle = true;
  // The body sets the start event once it is running (alive is true then,
  // priority and name are applied), so a Stop right after Start is seen.
  d.startEvent->Wait(kEventInfinite);
  threadId = d.threadId;
  return true;
}

void PlatformThread::Run(std::shared_ptr<ThreadData> data) {
  ThreadData& d = *data;
  MarkBodyRunning(d);
  d.threadId = static_cast<uint32_t>(syscall(SYS_gettid));
  int nice;
  if (NiceValueForPriority(d.priority, &nice)) {
    // Raising the priority needs privileges; without them the thread simply
    // keeps the default.
    setpriority(PRIO_PROCESS, static_cast<id_t>(d.threadId), nice);
  }
  if (!d.name.empty())
    pthread_setname_np(pthread_self(), ThreadNameForOs(d.name).c_str());
  d.startEvent->Set();
  CallUntilDone(d);
  MarkBodyEnded(d);
}

bool PlatformThread::Stop() {
  ThreadData& d = *data_;
  bool waited = false;
  d.lock->Enter();
  d.alive.store(false);
  if (d.hasHandle && !d.dead) {
    d.lock->Leave();
    if (!pthread_equal(d.handle, pthread_self()) &&
        JoinWithTimeout(d.handle, kStopWaitMs)) {
      waited = true;
    }
    d.lock->Enter();
    if (waited) d.hasHandle = false;
  }
  d.callable = nullptr;  // a body still running ends at its next pass
  const bool ended = d.dead || waited;
  d.lock->Leave();
  return ended;
}

bool PlatformThread::SetAffinity(const int32_t* processors, int32_t count) {
  if (!processors || count <= 0) return false;
  cpu_set_t set;
  CPU_ZERO(&set);
  bool any = false;
  for (int32_t i = 0; i < count; ++i) {
    if (processors[i] < 0 || processors[i] >= CPU_SETSIZE) continue;
    CPU_SET(processors[i], &set);
    any = true;
  }
  if (!any) return false;
  ThreadData& d = *data_;
  CriticalSectionScoped lock(d.lock.get());
  if (!d.hasHandle || d.dead) return false;
  return pthread_setaffinity_np(d.handle, sizeof(set), &set) == 0;
}

}  // namespace TavroRTCMP
