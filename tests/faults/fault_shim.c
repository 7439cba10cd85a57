// The fault-injection library: interposes the heap functions and
// pthread_create for a preloaded process and fails the calls an armed plan
// selects (see fault_shim.h). A plan can also come from the environment:
// TAVRO_FAULT="alloc|thread:THREADNAME:FIRST:COUNT", armed at load.
#define _GNU_SOURCE
#include "fault_shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);

static atomic_int armedKind = -1;
static char planThread[16];  // empty: any thread
static long planFirst, planCount;
static atomic_long counted, failed;
static __thread int exempt;

void tavro_fault_exempt(int on) { exempt = on; }

void tavro_fault_arm(int kind, const char* threadName, long first, long count) {
  atomic_store(&armedKind, -1);
  memset(planThread, 0, sizeof planThread);
  if (threadName && strcmp(threadName, "*") != 0)
    strncpy(planThread, threadName, sizeof planThread - 1);
  planFirst = first;
  planCount = count;
  atomic_store(&counted, 0);
  atomic_store(&failed, 0);
  atomic_store(&armedKind, kind);
}

void tavro_fault_disarm(void) { atomic_store(&armedKind, -1); }
long tavro_fault_counted(void) { return atomic_load(&counted); }
long tavro_fault_failed(void) { return atomic_load(&failed); }

// True when this call of the given kind is to fail.
static int ShouldFail(int kind) {
  if (atomic_load_explicit(&armedKind, memory_order_acquire) != kind) return 0;
  if (exempt) return 0;
  if (planThread[0]) {
    char name[16] = {0};
    prctl(PR_GET_NAME, name, 0, 0, 0);  // a system call: no allocation
    if (strncmp(name, planThread, sizeof name) != 0) return 0;
  }
  const long n = atomic_fetch_add(&counted, 1) + 1;
  if (n < planFirst || (planCount >= 0 && n >= planFirst + planCount)) return 0;
  atomic_fetch_add(&failed, 1);
  return 1;
}

void* malloc(size_t n) {
  if (ShouldFail(kTavroFaultAlloc)) return NULL;
  return __libc_malloc(n);
}

void* calloc(size_t n, size_t size) {
  if (ShouldFail(kTavroFaultAlloc)) return NULL;
  return __libc_calloc(n, size);
}

void* realloc(void* p, size_t n) {
  if (ShouldFail(kTavroFaultAlloc)) return NULL;
  return __libc_realloc(p, n);
}

void* memalign(size_t alignment, size_t n) {
  if (ShouldFail(kTavroFaultAlloc)) return NULL;
  return __libc_memalign(alignment, n);
}

void* aligned_alloc(size_t alignment, size_t n) { return memalign(alignment, n); }

int posix_memalign(void** out, size_t alignment, size_t n) {
  void* p = memalign(alignment, n);
  if (!p) return ENOMEM;
  *out = p;
  return 0;
}

typedef int (*CreateFn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

int pthread_create(pthread_t* thread, const pthread_attr_t* attr,
                   void* (*start)(void*), void* arg) {
  static CreateFn real;
  if (!real) real = (CreateFn)dlsym(RTLD_NEXT, "pthread_create");
  if (ShouldFail(kTavroFaultThread)) return EAGAIN;
  return real(thread, attr, start, arg);
}

__attribute__((constructor)) static void ArmFromEnvironment(void) {
  const char* plan = getenv("TAVRO_FAULT");
  if (!plan) return;
  char kind[16] = {0}, name[16] = {0};
  long first = 0, count = -1;
  const char* p = plan;
  const char* colon = strchr(p, ':');
  if (!colon || colon - p >= (long)sizeof kind) return;
  memcpy(kind, p, colon - p);
  p = colon + 1;
  colon = strchr(p, ':');
  if (!colon || colon - p >= (long)sizeof name) return;
  memcpy(name, p, colon - p);
  char* end;
  first = strtol(colon + 1, &end, 10);
  if (*end == ':') count = strtol(end + 1, NULL, 10);
  tavro_fault_arm(strcmp(kind, "thread") == 0 ? kTavroFaultThread : kTavroFaultAlloc,
                  name[0] ? name : NULL, first, count);
}
