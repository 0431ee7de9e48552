#pragma once
// Faults and overrides that tests inject into the plug-in's own code, all in
// one record. The product never installs one: ActiveTestHooks() is null and
// every seam behaves as shipped. A test build installs a record once
// (InstallTestHooks) and sets what a test needs; each field's initial value
// means "as shipped", so a test puts back what it changed.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

using AnalysisRowObserver = void (*)(int32_t rowsDone);

enum TestOverride : int {
  TEST_OVERRIDE_HOST_EXECUTABLE,   // the host's path as scripting sees it
  TEST_OVERRIDE_HELP_VIEWER,       // the program started as the help viewer
  TEST_OVERRIDE_DEBUG_LOG_FOLDER,  // where the debug log is written
  TEST_OVERRIDE_MACHINE_SETTINGS,  // the key machine-wide settings use instead of the product's
  TEST_OVERRIDE_COUNT
};

struct TestHooks {
  // Faults.
  std::atomic<int> failAllocations{0};           // the next N tracked buffer allocations fail
  // The N-th counted allocation from now fails (0 = none): tracked buffers
  // count here, and so may a test's own allocator, so that one number walks
  // through every allocation of a run. CountAllocation counts one and says
  // whether it is the one to fail; `allocationsCounted` tells, after a run,
  // whether the run reached the N-th at all.
  std::atomic<int64_t> failAllocationAt{0};
  std::atomic<int64_t> allocationsCounted{0};
  bool CountAllocation();
  std::atomic<int> failThreadStart{-1};          // next SpawnMultipleThreads: this thread index fails to start
  std::atomic<int> failAnalysisWorkerStart{-1};  // the same for the next analysis pass
  std::atomic<bool> stopParameterFileWriteBeforeReplace{false};  // writes stop before their rename
  std::atomic<bool> stopSettingsWriteBeforeReplace{false};
  // Machine-wide settings open for writing as for a user without
  // administrator rights: access denied.
  std::atomic<bool> machineSettingsReadOnly{false};
  // Observers and switches.
  std::atomic<AnalysisRowObserver> analysisRowObserver{nullptr};
  std::atomic<bool> analysisMemosDisabled{false};

  // Overrides of what the system would say; null text removes one.
  void SetOverride(TestOverride which, const char* text);
  bool Override(TestOverride which, std::string* text);  // false: none set

 private:
  std::mutex overrideLock_;
  bool overridden_[TEST_OVERRIDE_COUNT] = {};
  std::string overrides_[TEST_OVERRIDE_COUNT];
};

// The installed record, or null (always null in the product).
TestHooks* ActiveTestHooks();
void InstallTestHooks(TestHooks* hooks);
