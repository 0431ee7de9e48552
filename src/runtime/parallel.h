#pragma once
// One way to run work on the worker threads. The work is cut into items in
// a fixed way that never depends on the number of threads (rows into bands,
// an image into sections), and each item goes to the next free worker, so
// what the items compute is the same whether one thread ran them or many.
//
// The workers are the thread records of runtime/threads.h. A worker that
// cannot start is reported there; its share is taken by the others and, if
// none started, by the calling thread, so every item is done.
#include <atomic>
#include <cstdint>

// Rows [begin, end) of band k when `total` rows are cut into `bands` bands of
// total / bands rows, the last taking what is left over.
struct BandRange {
  int32_t begin;
  int32_t end;
};
BandRange BandOfRows(int32_t total, int32_t bands, int32_t k);

// Runs on a worker for one item. `worker` (0 .. workers - 1) tells which
// worker runs it, for per-worker scratch such as sampling shapes; it must not
// change what the item computes.
using ParallelItemRoutine = void (*)(void* context, int32_t item, int32_t worker);

struct ParallelWork {
  ParallelItemRoutine routine;
  void* context;
  int32_t items;
  int32_t workers;  // threads to start, 1 or more (no more than items are useful)
  // The UI thread's wait: while the workers run, serve the calls queued for
  // the UI thread; once *status is not 0 after such a call, set *stop.
  bool serveUICalls;
  const int16_t* status;
  // Workers take no new item once this is set (by the caller or the wait).
  std::atomic<bool>* stop;
};

struct ParallelOutcome {
  bool workerFailed;  // an item ended by an internal failure (reported)
  bool stopped;       // the wait set *stop because of *status
  bool startFailed;   // not every worker could start (reported)
  bool outOfMemory;   // of the failures, an item ran out of memory (with workerFailed)
};

// Runs every item (unless stopped) and returns after all workers ended.
ParallelOutcome RunInParallel(const ParallelWork& work);
