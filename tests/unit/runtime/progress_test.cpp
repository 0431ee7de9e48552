// Host progress: reduction to 100 ticks, delivery on the UI thread only,
// and aborts turning into the cancelled status.
#include "runtime/progress.h"

#include <mutex>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "platform/platform.h"
#include "runtime/status.h"
#include "runtime/threads.h"
#include "runtime/ui_call_queue.h"

namespace {

struct HostCall {
  int32_t done;
  int32_t total;
  uint32_t thread;
};

// The fake host: what it was shown, on which thread, and whether it wants
// to abort.
std::mutex g_hostMutex;
std::vector<HostCall> g_hostCalls;
std::atomic<bool> g_abort{false};
int16_t g_status = 0;

void FakeProgress(int32_t done, int32_t total) {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  g_hostCalls.push_back(HostCall{done, total, PlatformCurrentThreadId()});
}
bool FakeAbort() { return g_abort.load(); }
void FakeStoreStatus(int16_t status) {
  if (g_status == 0) __atomic_store_n(&g_status, status, __ATOMIC_RELEASE);
}

std::vector<HostCall> TakeHostCalls() {
  std::lock_guard<std::mutex> lock(g_hostMutex);
  std::vector<HostCall> calls;
  calls.swap(g_hostCalls);
  return calls;
}

class ProgressTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    DebugLogTest::SetUp();
    OpenLog(LOGMODE_IMMEDIATE);
    g_abort = false;
    g_status = 0;
    TakeHostCalls();
    DiscardQueuedUICalls();
    ASSERT_TRUE(InitializeImageEditorProgressBar(ProgressHostProcs{FakeProgress, FakeAbort, FakeStoreStatus}));
  }
  void TearDown() override {
    ShutdownImageEditorProgress();
    DebugLogTest::TearDown();
  }

  // Advances and delivers what was queued, as the waiting UI thread would.
  static void Advance(int32_t units) {
    EXPECT_TRUE(AdvanceImageEditorProgress(units));
    RunQueuedUICalls();
  }
};

TEST_F(ProgressTest, LargeTotalsAreReducedToAHundredTicks) {
  StartImageEditorProgress(250);
  std::vector<HostCall> calls = TakeHostCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].done, 0);
  EXPECT_EQ(calls[0].total, 100);

  Advance(3);  // 2 units per tick: one tick, one unit left over
  Advance(1);
  calls = TakeHostCalls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].done, 1);
  EXPECT_EQ(calls[1].done, 2);

  // The rest of the 250 units in uneven steps, some below a tick.
  const int32_t steps[] = {1, 7, 13, 1, 1, 40, 2, 99, 5, 74, 3};
  int32_t sum = 4;
  for (int32_t step : steps) {
    Advance(step);
    sum += step;
  }
  ASSERT_EQ(sum, 250);
  calls = TakeHostCalls();
  EXPECT_LE(calls.size(), 98u);
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].total, 100);
    if (i > 0) {
      EXPECT_GT(calls[i].done, calls[i - 1].done);
    }
  }
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().done, 100);
  EXPECT_EQ(g_status, 0);
}

TEST_F(ProgressTest, SmallTotalsTickPerUnitAndNeverPassTheEnd) {
  StartImageEditorProgress(40);
  TakeHostCalls();
  for (int i = 0; i < 20; ++i) Advance(1);
  Advance(15);
  Advance(5);
  std::vector<HostCall> calls = TakeHostCalls();
  ASSERT_EQ(calls.size(), 22u);
  EXPECT_EQ(calls[19].done, 20);
  EXPECT_EQ(calls[20].done, 35);
  EXPECT_EQ(calls.back().done, 40);
  EXPECT_EQ(calls.back().total, 40);
  // Reporting more work than announced changes nothing.
  Advance(10);
  EXPECT_TRUE(TakeHostCalls().empty());
}

TEST_F(ProgressTest, TotalsThatDoNotDivideStopAtTheEnd) {
  StartImageEditorProgress(199);  // 1 unit per tick, 100 ticks
  TakeHostCalls();
  Advance(150);
  Advance(49);
  const std::vector<HostCall> calls = TakeHostCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].done, 100);
  EXPECT_EQ(calls[0].total, 100);
}

TEST_F(ProgressTest, WorkersReachTheHostOnlyThroughTheUiThread) {
  constexpr int WORKERS = 4;
  StartImageEditorProgress(WORKERS * 60);
  TakeHostCalls();
  ThreadRecord records[WORKERS] = {};
  for (auto& record : records) {
    record.startRoutine = [](void*) -> uint32_t {
      const int32_t steps[] = {7, 1, 13, 2, 20, 17};  // 60 units
      for (int32_t step : steps) AdvanceImageEditorProgress(step);
      return 0;
    };
  }
  ASSERT_TRUE(SpawnMultipleThreads(records, WORKERS));
  EXPECT_TRUE(WaitForMultipleThreads(WORKERS, records, true, &g_status));
  for (auto& record : records) DestroyThread(&record);

  const std::vector<HostCall> calls = TakeHostCalls();
  ASSERT_FALSE(calls.empty());
  EXPECT_LE(calls.size(), 100u);
  const uint32_t ui = PlatformCurrentThreadId();
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].thread, ui);
    if (i > 0) {
      EXPECT_GT(calls[i].done, calls[i - 1].done);
    }
  }
  EXPECT_EQ(calls.back().done, 100);
  EXPECT_EQ(g_status, 0);
}

TEST_F(ProgressTest, AnAbortSeenByTheUiThreadBecomesTheStatus) {
  StartImageEditorProgress(1000);
  g_abort = true;
  std::atomic<bool> stop{false};
  ThreadRecord record{};
  record.argument = &stop;
  record.startRoutine = [](void* argument) -> uint32_t {
    auto* stopFlag = static_cast<std::atomic<bool>*>(argument);
    // Works until told to stop, as a band worker checks the status.
    while (!stopFlag->load()) {
      AdvanceImageEditorProgress(10);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
  };
  ASSERT_TRUE(SpawnMultipleThreads(&record, 1));
  EXPECT_FALSE(WaitForMultipleThreads(1, &record, true, &g_status));
  EXPECT_EQ(g_status, STATUS_USER_CANCELLED);
  stop = true;
  EXPECT_TRUE(WaitForMultipleThreads(1, &record, false, nullptr));
  DestroyThread(&record);
}

TEST_F(ProgressTest, DisplayingFromAWorkerIsRefusedAndLogged) {
  bool fromWorker = true;
  std::thread([&] { fromWorker = DisplayImageEditorProgressBar(1, 2); }).join();
  EXPECT_FALSE(fromWorker);
  EXPECT_TRUE(TakeHostCalls().empty());
  // The UI thread itself goes through; an empty total is not shown.
  EXPECT_TRUE(DisplayImageEditorProgressBar(3, 4));
  EXPECT_TRUE(DisplayImageEditorProgressBar(0, 0));
  const std::vector<HostCall> calls = TakeHostCalls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].done, 3);
  g_abort = true;
  EXPECT_FALSE(DisplayImageEditorProgressBar(4, 4));
  const std::string text = CloseAndRead();
  EXPECT_NE(text.find("DisplayImageEditorProgressBar() - Function was not called from UI thread."), std::string::npos)
      << text;
}

TEST_F(ProgressTest, NothingHappensAfterShutdown) {
  ShutdownImageEditorProgress();
  StartImageEditorProgress(10);
  EXPECT_TRUE(AdvanceImageEditorProgress(5));
  EXPECT_EQ(RunQueuedUICalls(), 0u);
  EXPECT_FALSE(DisplayImageEditorProgressBar(1, 10));
  EXPECT_TRUE(TakeHostCalls().empty());
}

}  // namespace
