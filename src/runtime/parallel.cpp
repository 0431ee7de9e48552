#include "runtime/parallel.h"

#include <algorithm>
#include <exception>
#include <new>

#include "runtime/report.h"
#include "runtime/threads.h"

namespace {

constexpr int32_t MAX_WORKERS = 24;

struct SharedWork {
  const ParallelWork* work;
  std::atomic<int32_t> next{0};
  std::atomic<bool> failed{false};
  std::atomic<bool> outOfMemory{false};
};

struct WorkerSeat {
  SharedWork* shared;
  int32_t worker;
};

void TakeItems(SharedWork* shared, int32_t worker) {
  const ParallelWork& work = *shared->work;
  // Nothing thrown may leave a worker; the item's failure is the run's.
  try {
    for (;;) {
      if (work.stop != nullptr && work.stop->load(std::memory_order_relaxed)) break;
      const int32_t item = shared->next.fetch_add(1);
      if (item >= work.items) break;
      work.routine(work.context, item, worker);
    }
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("A worker ran out of memory.");
    shared->outOfMemory.store(true);
    shared->failed.store(true);
  } catch (const std::exception& e) {
    REPORT_DEBUG("A worker ended by an internal failure: %s", e.what());
    shared->failed.store(true);
  } catch (...) {
    REPORT_DEBUG("A worker ended by an internal failure.");
    shared->failed.store(true);
  }
}

uint32_t WorkerEntry(void* argument) {
  const auto* seat = static_cast<const WorkerSeat*>(argument);
  TakeItems(seat->shared, seat->worker);
  return 0;
}

}  // namespace

BandRange BandOfRows(int32_t total, int32_t bands, int32_t k) {
  if (bands < 1) bands = 1;
  const int32_t height = total / bands;
  return BandRange{k * height, k == bands - 1 ? total : (k + 1) * height};
}

ParallelOutcome RunInParallel(const ParallelWork& work) {
  ParallelOutcome outcome{false, false, false, false};
  if (work.routine == nullptr || work.items <= 0) return outcome;
  SharedWork shared;
  shared.work = &work;
  const int32_t workers = std::clamp(work.workers, 1, MAX_WORKERS);
  ThreadRecord records[MAX_WORKERS] = {};
  WorkerSeat seats[MAX_WORKERS];
  for (int32_t w = 0; w < workers; ++w) {
    seats[w] = WorkerSeat{&shared, w};
    records[w].startRoutine = WorkerEntry;
    records[w].argument = &seats[w];
    records[w].userValue = w;
  }
  outcome.startFailed = !SpawnMultipleThreads(records, workers);
  if (outcome.startFailed) {
    // Take the share of the first worker that did not start; the items left
    // when the others end are picked up here too.
    int32_t seat = 0;
    while (seat < workers && records[seat].handle != nullptr) ++seat;
    TakeItems(&shared, std::min(seat, workers - 1));
  }
  // The records and the work live in this frame: whatever happens while the
  // calls queued for the UI thread run, no worker may outlive it.
  bool allEnded = false;
  try {
    allEnded = WaitForMultipleThreads(workers, records, work.serveUICalls, work.status);
    outcome.stopped = !allEnded;
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("RunInParallel() ran out of memory while serving the workers' calls.");
    shared.outOfMemory.store(true);
    shared.failed.store(true);
  } catch (...) {
    REPORT_DEBUG("RunInParallel() ended its wait by an internal failure.");
    shared.failed.store(true);
  }
  if (!allEnded) {
    if (work.stop != nullptr) work.stop->store(true);
    WaitForMultipleThreads(workers, records, false, nullptr);
  }
  for (int32_t w = 0; w < workers; ++w) DestroyThread(&records[w]);
  outcome.workerFailed = shared.failed.load();
  outcome.outOfMemory = shared.outOfMemory.load();
  return outcome;
}
