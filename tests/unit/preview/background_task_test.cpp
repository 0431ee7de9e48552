// The preview's background task with a fake render pass: the one-slot
// queue, the start-up states, and that closing never waits for a pass or a
// dialog that will not come. The test thread plays the UI thread and the
// proxy window: it receives what the task posts and hands redraw requests
// back as the window would.
#include "preview/background_task.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "params/parameter_set.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Posted {
  WindowHandle window;
  uint32_t message;
  uintptr_t first;
  intptr_t second;
};

struct Pass {
  int16_t intensity;  // which request it drew
  bool hasRegion;
  std::vector<bool> covers;  // RegionContains at each probe point
};

// The windows, the render pass and the product callback of one test.
struct FakePreview {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<Posted> messages;
  std::vector<Pass> passes;
  std::vector<std::pair<int32_t, int32_t>> probes;
  bool passGateOpen = true;  // a closed gate holds the pass until opened
  bool passRunning = false;
  bool drawingWorks = true;
  bool longPass = false;  // polls its abort flag until told to stop
  std::atomic<bool> ready{false};
  std::atomic<int16_t> intensity{0};
  std::atomic<int16_t> resultCode{0};
  std::vector<std::string> traces;

  static FakePreview* current;

  BackgroundTaskHost Host() {
    BackgroundTaskHost host{};
    host.context = this;
    host.createDrawing = [](void* c) { return static_cast<FakePreview*>(c)->drawingWorks; };
    host.releaseDrawing = [](void*) {};
    host.renderPass = [](void* c, const RenderingParameters* p, RegionHandle region) {
      return static_cast<FakePreview*>(c)->Render(p, region);
    };
    host.postMessage = [](void* c, WindowHandle w, uint32_t m, uintptr_t first, intptr_t second) {
      auto* fake = static_cast<FakePreview*>(c);
      {
        std::lock_guard<std::mutex> guard(fake->lock);
        fake->messages.push_back(Posted{w, m, first, second});
      }
      fake->changed.notify_all();
    };
    host.clientRect = [](void*, WindowHandle) { return ImageRect{0, 0, 400, 300}; };
    host.resultCode = &resultCode;
    return host;
  }

  bool Render(const RenderingParameters* p, RegionHandle region) {
    std::unique_lock<std::mutex> guard(lock);
    passRunning = true;
    changed.notify_all();
    changed.wait(guard, [&] { return passGateOpen; });
    bool ok = true;
    if (longPass) {
      guard.unlock();
      while (!BackgroundAbortFlagOf(ABORT_SCALED_PROXY)->load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ok = false;
      guard.lock();
    }
    Pass pass{p->intensity, region != nullptr, {}};
    for (const auto& probe : probes) pass.covers.push_back(RegionContains(region, probe.first, probe.second));
    passes.push_back(pass);
    passRunning = false;
    changed.notify_all();
    return ok;
  }

  static intptr_t Product(int32_t operation, void* record) {
    FakePreview* fake = current;
    switch (operation) {
      case PRODUCT_WAIT_FOR_INITIALIZATION: {
        auto* state = static_cast<InitializationState*>(record);
        *state->waitInterval = 20;
        if (fake->ready.load()) state->ready = 1;
        return 1;
      }
      case PRODUCT_TRACE_RENDERING_PARAMETERS: {
        std::lock_guard<std::mutex> guard(fake->lock);
        fake->traces.push_back(static_cast<RenderingParametersTrace*>(record)->message);
        return 1;
      }
      default: {
        ParameterSet set = FACTORY_PARAMETER_SET;
        set.intensity = fake->intensity.load();
        return reinterpret_cast<intptr_t>(NewRenderingParameters(&set, nullptr));
      }
    }
  }

  // Waits up to `ms` for a message; the proxy window's part of an update
  // request is done here, as the window procedure would.
  bool Pump(uint32_t wanted, int ms = 2000) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    std::unique_lock<std::mutex> guard(lock);
    while (true) {
      while (!messages.empty()) {
        const Posted m = messages.front();
        messages.pop_front();
        guard.unlock();
        if (m.message == UPDATE_PROXY_DISPLAY)
          UpdateProxyDisplay(reinterpret_cast<RegionHandle>(m.first), static_cast<uint32_t>(m.second));
        guard.lock();
        if (m.message == wanted) return true;
      }
      if (changed.wait_until(guard, end) == std::cv_status::timeout && messages.empty()) return false;
    }
  }

  template <typename Predicate>
  bool WaitUntil(Predicate predicate, int ms = 2000) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(ms), predicate);
  }
};
FakePreview* FakePreview::current = nullptr;

class BackgroundTaskTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FakePreview::current = &fake_;
    SetProductCallback(FakePreview::Product);
  }
  void TearDown() override {
    {
      std::lock_guard<std::mutex> guard(fake_.lock);
      fake_.passGateOpen = true;
    }
    fake_.changed.notify_all();
    DestroyBackgroundTask();
    SetProductCallback(nullptr);
    FakePreview::current = nullptr;
  }

  // Up to the first full pass, which is left to finish.
  void StartReady() {
    fake_.ready = true;
    ASSERT_TRUE(CreateBackgroundTask(&proxy_, &dialog_, fake_.Host()));
    ReleaseMainDialogInitialization();
    SignalRenderingStarted();
    ASSERT_TRUE(fake_.Pump(READY_FOR_PROXY_OPERATIONS));
    ASSERT_TRUE(fake_.WaitUntil([&] { return fake_.passes.size() == 1 && !fake_.passRunning; }));
  }

  FakePreview fake_;
  int proxy_ = 0;
  int dialog_ = 0;
};

TEST_F(BackgroundTaskTest, RequestsDuringAPassBecomeOnePassWithTheLastSettingsAndEveryRegion) {
  fake_.probes = {{5, 5}, {105, 5}, {205, 5}, {305, 205}};
  StartReady();
  EXPECT_TRUE(fake_.passes[0].covers[3]) << "the first pass redraws the whole proxy";

  // Hold the next pass, then queue three more behind it.
  fake_.passGateOpen = false;
  fake_.intensity = 10;
  ASSERT_TRUE(NewBackgroundTaskParameters(nullptr));
  ASSERT_TRUE(fake_.WaitUntil([&] { return fake_.passRunning; }));
  fake_.intensity = 11;
  EXPECT_TRUE(NewBackgroundTaskParameters(CreateRectRegion(ImageRect{0, 0, 10, 10})));
  fake_.intensity = 12;
  EXPECT_TRUE(NewBackgroundTaskParameters(CreateRectRegion(ImageRect{100, 0, 110, 10})));
  fake_.intensity = 13;
  EXPECT_TRUE(NewBackgroundTaskParameters(nullptr));  // inherits both regions
  {
    std::lock_guard<std::mutex> guard(fake_.lock);
    fake_.passGateOpen = true;
  }
  fake_.changed.notify_all();
  ASSERT_TRUE(fake_.WaitUntil([&] { return fake_.passes.size() == 3 && !fake_.passRunning; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::lock_guard<std::mutex> guard(fake_.lock);
  ASSERT_EQ(fake_.passes.size(), 3u) << "one pass for the three requests";
  const Pass& last = fake_.passes[2];
  EXPECT_EQ(last.intensity, 13);
  ASSERT_TRUE(last.hasRegion);
  EXPECT_EQ(last.covers, (std::vector<bool>{true, true, false, false}));
  EXPECT_EQ(std::count(fake_.traces.begin(), fake_.traces.end(),
                       std::string("NewBackgroundTaskParameters() - Removed pending requests.")),
            2);
}

TEST_F(BackgroundTaskTest, RequestsBeforeReadyAreDroppedAndReadinessQueuesOneFullPass) {
  ASSERT_TRUE(CreateBackgroundTask(&proxy_, &dialog_, fake_.Host()));
  ReleaseMainDialogInitialization();
  SignalRenderingStarted();
  fake_.intensity = 1;
  NewBackgroundTaskParameters(CreateRectRegion(ImageRect{0, 0, 10, 10}));
  fake_.intensity = 2;
  NewBackgroundTaskParameters(nullptr);
  // Several initialisation steps go by (20 ms each) without a pass.
  EXPECT_FALSE(fake_.Pump(READY_FOR_PROXY_OPERATIONS, 150));
  EXPECT_TRUE(fake_.passes.empty());

  // Asked from another thread: refused, nothing queued.
  std::thread([] { EXPECT_FALSE(NewBackgroundTaskParameters(nullptr)); }).join();

  fake_.probes = {{399, 299}};
  fake_.intensity = 3;
  fake_.ready = true;
  ASSERT_TRUE(fake_.Pump(READY_FOR_PROXY_OPERATIONS));
  ASSERT_TRUE(fake_.WaitUntil([&] { return fake_.passes.size() == 1 && !fake_.passRunning; }));
  fake_.Pump(0, 150);
  std::lock_guard<std::mutex> guard(fake_.lock);
  ASSERT_EQ(fake_.passes.size(), 1u);
  EXPECT_EQ(fake_.passes[0].intensity, 3) << "the first pass draws the settings of its own time";
  EXPECT_EQ(fake_.passes[0].covers, std::vector<bool>{true});
}

TEST_F(BackgroundTaskTest, ClosingEndsALongPassAtOnce) {
  StartReady();
  fake_.longPass = true;
  ASSERT_TRUE(NewBackgroundTaskParameters(nullptr));
  ASSERT_TRUE(fake_.WaitUntil([&] { return fake_.passRunning; }));
  const auto start = Clock::now();
  AbortBackgroundRendering();
  DestroyBackgroundTask();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(BackgroundTaskRunning());
  EXPECT_NE(std::find(fake_.traces.begin(), fake_.traces.end(),
                      std::string("Background Task - Parameter Set Processing Aborted.")),
            fake_.traces.end());
}

TEST_F(BackgroundTaskTest, NoDialogOrNoDrawingNeverHangsTheClose) {
  // A dialog that never finishes its initialisation (it failed first).
  ASSERT_TRUE(CreateBackgroundTask(&proxy_, &dialog_, fake_.Host()));
  auto start = Clock::now();
  DestroyBackgroundTask();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(fake_.resultCode.load(), 0) << "a task that drew nothing has not failed";

  // No rendering context: the task ends by itself, with -50 for the dialog
  // and a message that makes it look.
  fake_.drawingWorks = false;
  ASSERT_TRUE(CreateBackgroundTask(&proxy_, &dialog_, fake_.Host()));
  EXPECT_TRUE(fake_.Pump(BACKGROUND_BUSY));
  EXPECT_EQ(fake_.resultCode.load(), -50);
  EXPECT_FALSE(BackgroundTaskRunning());
  EXPECT_FALSE(NewBackgroundTaskParameters(nullptr)) << "requests after the end are dropped";
  start = Clock::now();
  DestroyBackgroundTask();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

}  // namespace
