// The one way work runs in parallel: every item exactly once whatever the
// number of workers or a worker that cannot start, bands that cover the
// rows exactly, and a stop that ends the run early.
#include "runtime/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <new>
#include <vector>

#include "../test_hooks_support.h"
#include "runtime/threads.h"

namespace {

struct Tally {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> workersSeen{0};
  explicit Tally(int items) : runs(static_cast<size_t>(items)) {}
};

void Count(void* context, int32_t item, int32_t worker) {
  auto* tally = static_cast<Tally*>(context);
  tally->runs[static_cast<size_t>(item)].fetch_add(1);
  tally->workersSeen.fetch_or(1 << worker);
}

TEST(Parallel, EveryItemRunsOnceForAnyNumberOfWorkersEvenWhenOneCannotStart) {
  struct Case {
    int32_t items, workers, failingWorker;
  };
  const Case cases[] = {{1, 1, -1}, {24, 3, -1}, {7, 24, -1}, {50, 4, 1}, {50, 4, 0}, {3, 1, 0}};
  for (const Case& c : cases) {
    Tally tally(c.items);
    if (c.failingWorker >= 0) testhooks::Hooks().failThreadStart = c.failingWorker;
    const ParallelOutcome outcome =
        RunInParallel(ParallelWork{Count, &tally, c.items, c.workers, false, nullptr, nullptr});
    testhooks::Hooks().failThreadStart = -1;
    EXPECT_EQ(outcome.startFailed, c.failingWorker >= 0);
    EXPECT_FALSE(outcome.workerFailed);
    for (int32_t i = 0; i < c.items; ++i)
      EXPECT_EQ(tally.runs[static_cast<size_t>(i)].load(), 1) << c.items << " items, " << c.workers << " workers";
    EXPECT_EQ(tally.workersSeen.load() >> c.workers, 0);  // worker indices stay below the count
  }
}

TEST(Parallel, BandsCoverTheRowsInOrderWithTheRestInTheLast) {
  for (int32_t total : {0, 1, 7, 1068}) {
    for (int32_t bands : {1, 2, 5, 24}) {
      int32_t next = 0;
      for (int32_t k = 0; k < bands; ++k) {
        const BandRange r = BandOfRows(total, bands, k);
        EXPECT_EQ(r.begin, next);
        EXPECT_LE(r.begin, r.end);
        next = r.end;
      }
      EXPECT_EQ(next, total) << total << " rows in " << bands;
    }
  }
}

void StopAtFirst(void* context, int32_t, int32_t) { static_cast<std::atomic<bool>*>(context)->store(true); }
void Fail(void*, int32_t item, int32_t) {
  if (item == 2) throw 7;
}
void RunOutOfMemory(void*, int32_t item, int32_t) {
  if (item == 3) throw std::bad_alloc();
}

TEST(Parallel, AStopEndsTheRunAndAFailingItemIsReported) {
  std::atomic<bool> stop{false};
  const ParallelOutcome stopped = RunInParallel(ParallelWork{StopAtFirst, &stop, 1000000, 1, false, nullptr, &stop});
  EXPECT_TRUE(stop.load());
  EXPECT_FALSE(stopped.workerFailed);
  const ParallelOutcome failed = RunInParallel(ParallelWork{Fail, nullptr, 5, 2, false, nullptr, nullptr});
  EXPECT_TRUE(failed.workerFailed);
  EXPECT_FALSE(failed.outOfMemory);
  // A worker out of memory is told apart: the caller reports memory, not a
  // failure of its own.
  const ParallelOutcome exhausted = RunInParallel(ParallelWork{RunOutOfMemory, nullptr, 5, 2, false, nullptr, nullptr});
  EXPECT_TRUE(exhausted.workerFailed);
  EXPECT_TRUE(exhausted.outOfMemory);
}

}  // namespace
