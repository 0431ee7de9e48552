#pragma once
// Worker threads: start a set of them from an array of records, wait for
// all of them (optionally serving calls queued for the UI thread meanwhile),
// dispose of them; and the rule for how many workers a machine gets.
#include <cstdint>

using ThreadStartRoutine = uint32_t (*)(void* argument);
using ThreadArgumentRelease = void (*)(void* argument);

struct ThreadHandle;  // opaque; owned by the record while the thread exists

// One worker. Zero-initialise, then fill in the routine, the argument and,
// when the record owns the argument, the routine that frees it.
struct ThreadRecord {
  void* securityAttributes;       // always null
  uint32_t stackSize;             // 0: the default
  ThreadStartRoutine startRoutine;
  void* argument;                 // owned when releaseArgument is set
  ThreadArgumentRelease releaseArgument;
  uint32_t creationFlags;         // 0
  uint32_t threadId;              // filled in when the thread starts
  ThreadHandle* handle;           // filled in; cleared once the thread is joined
  uint32_t exitCode;              // the routine's result, once joined
  intptr_t userValue;             // for the caller (a band index, say)
};

// Starts the records' threads in order. At the first failure reports it and
// returns false; the threads already started keep running, so the caller
// tells them to stop and still waits for and destroys every record.
bool SpawnMultipleThreads(ThreadRecord* records, int count);

// Waits without time limit until every started thread has ended, then joins
// them and clears their handles (true). Alertable: calls queued for the UI
// thread run on the calling thread while it waits, and after they ran the
// wait gives up (false) as soon as *status is not 0. `status` may be null.
bool WaitForMultipleThreads(int count, ThreadRecord* records, bool alertable, const int16_t* status);

// Disposes of one record: joins its thread if it still has one (a running
// thread is waited for, as threads cannot be stopped from outside safely),
// then frees the argument. Safe on a zeroed record.
bool DestroyThread(ThreadRecord* record);

// Number of workers for this machine, 1 to 24, computed on first use.
int GetWorkerThreadCount();

// What the system says about the processors this process may run on.
struct ProcessorTopology {
  bool available;   // cores and logicalProcessors are known
  int cores;
  int logicalProcessors;
  int processors;   // plain processor count, used when !available
};
// The worker count rule, separate from the system queries so that it can be
// checked for any machine.
int ComputeWorkerThreadCount(const ProcessorTopology& topology);
// Platform side (threads_win32.cpp, threads_posix.cpp).
ProcessorTopology QueryProcessorTopology();
