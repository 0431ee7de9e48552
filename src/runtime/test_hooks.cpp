#include "runtime/test_hooks.h"

namespace {
std::atomic<TestHooks*> g_installed{nullptr};
}  // namespace

TestHooks* ActiveTestHooks() { return g_installed.load(std::memory_order_acquire); }
void InstallTestHooks(TestHooks* hooks) { g_installed.store(hooks, std::memory_order_release); }

bool TestHooks::CountAllocation() {
  const int64_t at = failAllocationAt.load(std::memory_order_relaxed);
  const int64_t count = allocationsCounted.fetch_add(1, std::memory_order_relaxed) + 1;
  return at > 0 && count == at;
}

void TestHooks::SetOverride(TestOverride which, const char* text) {
  if (which < 0 || which >= TEST_OVERRIDE_COUNT) return;
  std::lock_guard<std::mutex> guard(overrideLock_);
  overridden_[which] = text != nullptr;
  overrides_[which] = text != nullptr ? text : "";
}

bool TestHooks::Override(TestOverride which, std::string* text) {
  if (which < 0 || which >= TEST_OVERRIDE_COUNT) return false;
  std::lock_guard<std::mutex> guard(overrideLock_);
  if (!overridden_[which]) return false;
  if (text != nullptr) *text = overrides_[which];
  return true;
}
