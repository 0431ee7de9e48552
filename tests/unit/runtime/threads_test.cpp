// Worker threads: the worker count rule, start failures, alertable waits.
#include "runtime/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "../test_hooks_support.h"
#include "runtime/ui_call_queue.h"

namespace {

int Workers(int cores, int logical) { return ComputeWorkerThreadCount(ProcessorTopology{true, cores, logical, 0}); }
int WorkersWithoutTopology(int processors) {
  return ComputeWorkerThreadCount(ProcessorTopology{false, 0, 0, processors});
}

TEST(WorkerThreadCount, FollowsCoresAndHardwareThreads) {
  EXPECT_EQ(Workers(4, 8), 6);
  EXPECT_EQ(Workers(4, 4), 3);
  EXPECT_EQ(Workers(2, 2), 2);
  EXPECT_EQ(Workers(8, 16), 12);
  EXPECT_EQ(Workers(1, 1), 1);
  EXPECT_EQ(Workers(1, 2), 2);
  EXPECT_EQ(Workers(32, 64), 24);  // never above 24
  EXPECT_EQ(Workers(0, 0), 1);     // nonsense from the system: at least one
}

TEST(WorkerThreadCount, FallsBackToTheProcessorCount) {
  EXPECT_EQ(WorkersWithoutTopology(8), 7);
  EXPECT_EQ(WorkersWithoutTopology(2), 2);
  EXPECT_EQ(WorkersWithoutTopology(1), 1);
  EXPECT_EQ(WorkersWithoutTopology(0), 1);
  EXPECT_EQ(WorkersWithoutTopology(64), 24);
}

TEST(WorkerThreadCount, ThisMachineGetsASaneCachedCount) {
  const int count = GetWorkerThreadCount();
  EXPECT_GE(count, 1);
  EXPECT_LE(count, 24);
  EXPECT_EQ(GetWorkerThreadCount(), count);
  const ProcessorTopology topology = QueryProcessorTopology();
  if (topology.available) {
    EXPECT_LE(topology.cores, topology.logicalProcessors);
  }
}

struct WorkerArgs {
  std::atomic<bool>* abort;
  std::atomic<int>* finished;
  uint32_t result;
};

uint32_t WaitForAbort(void* argument) {
  auto* args = static_cast<WorkerArgs*>(argument);
  while (!args->abort->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ++*args->finished;
  return args->result;
}

void ReleaseArgs(void* argument) { delete static_cast<WorkerArgs*>(argument); }

TEST(WorkerThreads, RunToTheEndAndReturnTheirResults) {
  std::atomic<bool> abort{true};
  std::atomic<int> finished{0};
  ThreadRecord records[4] = {};
  for (int i = 0; i < 4; ++i) {
    records[i].startRoutine = WaitForAbort;
    records[i].argument = new WorkerArgs{&abort, &finished, static_cast<uint32_t>(10 + i)};
    records[i].releaseArgument = ReleaseArgs;
  }
  ASSERT_TRUE(SpawnMultipleThreads(records, 4));
  for (auto& record : records) EXPECT_NE(record.handle, nullptr);
  EXPECT_TRUE(WaitForMultipleThreads(4, records, false, nullptr));
  EXPECT_EQ(finished.load(), 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(records[i].handle, nullptr);
    EXPECT_EQ(records[i].exitCode, static_cast<uint32_t>(10 + i));
    EXPECT_TRUE(DestroyThread(&records[i]));
    EXPECT_EQ(records[i].argument, nullptr);
  }
}

TEST(WorkerThreads, AStartFailureLetsTheCallerStopWaitAndDestroy) {
  std::atomic<bool> abort{false};
  std::atomic<int> finished{0};
  ThreadRecord records[5] = {};
  for (auto& record : records) {
    record.startRoutine = WaitForAbort;
    record.argument = new WorkerArgs{&abort, &finished, 0};
    record.releaseArgument = ReleaseArgs;
  }
  testhooks::Hooks().failThreadStart = 2;
  EXPECT_FALSE(SpawnMultipleThreads(records, 5));
  EXPECT_NE(records[0].handle, nullptr);
  EXPECT_NE(records[1].handle, nullptr);
  EXPECT_EQ(records[2].handle, nullptr);
  EXPECT_EQ(records[4].handle, nullptr);
  abort = true;
  EXPECT_TRUE(WaitForMultipleThreads(5, records, false, nullptr));
  EXPECT_EQ(finished.load(), 2);
  // Records that never started still free their arguments (ASan checks).
  for (auto& record : records) EXPECT_TRUE(DestroyThread(&record));
  // The injection is spent.
  ThreadRecord again[1] = {};
  again[0].startRoutine = WaitForAbort;
  again[0].argument = new WorkerArgs{&abort, &finished, 0};
  again[0].releaseArgument = ReleaseArgs;
  EXPECT_TRUE(SpawnMultipleThreads(again, 1));
  EXPECT_TRUE(WaitForMultipleThreads(1, again, false, nullptr));
  EXPECT_TRUE(DestroyThread(&again[0]));
}

TEST(WorkerThreads, DestroyWaitsForARunningThread) {
  std::atomic<bool> abort{false};
  std::atomic<int> finished{0};
  ThreadRecord record{};
  record.startRoutine = WaitForAbort;
  record.argument = new WorkerArgs{&abort, &finished, 0};
  record.releaseArgument = ReleaseArgs;
  ASSERT_TRUE(SpawnMultipleThreads(&record, 1));
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    abort = true;
  });
  EXPECT_TRUE(DestroyThread(&record));
  EXPECT_EQ(finished.load(), 1);  // the argument was freed only after the thread ended
  stopper.join();
  ThreadRecord zeroed{};
  EXPECT_TRUE(DestroyThread(&zeroed));
  EXPECT_TRUE(DestroyThread(nullptr));
  EXPECT_TRUE(WaitForMultipleThreads(0, nullptr, true, nullptr));
}

// A worker that hands calls to the waiting thread until the status changes.
struct QueueingArgs {
  std::atomic<bool>* abort;
  int16_t* status;
  std::atomic<uint32_t>* ranOn;
};

uint32_t QueueUntilAborted(void* argument) {
  auto* args = static_cast<QueueingArgs*>(argument);
  int queued = 0;
  while (!args->abort->load()) {
    if (queued < 3) {
      ++queued;
      int16_t* status = args->status;
      std::atomic<uint32_t>* ranOn = args->ranOn;
      const bool last = queued == 3;
      QueueUICall([status, ranOn, last] {
        ranOn->store(static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id())));
        if (last) __atomic_store_n(status, static_cast<int16_t>(-128), __ATOMIC_RELEASE);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

TEST(WorkerThreads, AlertableWaitRunsQueuedCallsAndStopsOnAStatus) {
  DiscardQueuedUICalls();
  std::atomic<bool> abort{false};
  std::atomic<uint32_t> ranOn{0};
  int16_t status = 0;
  QueueingArgs args{&abort, &status, &ranOn};
  ThreadRecord record{};
  record.startRoutine = QueueUntilAborted;
  record.argument = &args;  // not owned: no release routine
  ASSERT_TRUE(SpawnMultipleThreads(&record, 1));

  EXPECT_FALSE(WaitForMultipleThreads(1, &record, true, &status));
  EXPECT_EQ(status, -128);
  EXPECT_EQ(ranOn.load(), static_cast<uint32_t>(std::hash<std::thread::id>()(std::this_thread::get_id())));
  EXPECT_NE(record.handle, nullptr);  // still running: the caller decides

  abort = true;
  EXPECT_TRUE(WaitForMultipleThreads(1, &record, false, &status));
  EXPECT_TRUE(DestroyThread(&record));
  EXPECT_EQ(record.argument, nullptr);
  DiscardQueuedUICalls();
}

TEST(WorkerThreads, PlainWaitLeavesQueuedCallsAlone) {
  DiscardQueuedUICalls();
  std::atomic<int> ran{0};
  ThreadRecord record{};
  record.startRoutine = [](void* argument) -> uint32_t {
    auto* counter = static_cast<std::atomic<int>*>(argument);
    QueueUICall([counter] { ++*counter; });
    return 0;
  };
  record.argument = &ran;
  ASSERT_TRUE(SpawnMultipleThreads(&record, 1));
  EXPECT_TRUE(WaitForMultipleThreads(1, &record, false, nullptr));
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(RunQueuedUICalls(), 1u);
  EXPECT_EQ(ran.load(), 1);
  DestroyThread(&record);
}

}  // namespace
