// Control of the fault-injection library (libtavro_fault.so). Preloaded into
// a process, it stands in for the heap functions and pthread_create and
// fails the ones an armed plan selects. Programs reach these functions with
// dlsym(RTLD_DEFAULT, ...) so that they also run, unarmed, without it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

enum TavroFaultKind {
  kTavroFaultAlloc = 0,   // malloc, calloc, realloc, memalign family
  kTavroFaultThread = 1,  // pthread_create
};

// From now on, counting only calls of the given kind made on threads whose
// name is threadName (any thread when null or "*"), the calls numbered
// first, first + 1, ... fail; count of them, or every one from first on
// when count < 0. Counting restarts at 1 with every arm.
void tavro_fault_arm(int kind, const char* threadName, long first, long count);
// Stops failing; the counts so far stay readable.
void tavro_fault_disarm(void);
// While on, calls made by the calling thread are neither counted nor
// failed: a test harness marks its own work this way and leaves only the
// calls into the code under test exposed.
void tavro_fault_exempt(int on);
// Calls of the armed kind counted, and calls failed, since the last arm.
long tavro_fault_counted(void);
long tavro_fault_failed(void);

#ifdef __cplusplus
}
#endif
