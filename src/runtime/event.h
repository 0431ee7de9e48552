#pragma once
// A manual-reset or auto-reset event over std::condition_variable: the
// behaviour of the Win32 event objects the lifecycle is described with, in
// portable form.
#include <chrono>
#include <condition_variable>
#include <mutex>

class Event {
 public:
  explicit Event(bool manualReset = true, bool initiallySet = false)
      : manualReset_(manualReset), set_(initiallySet) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      set_ = true;
    }
    if (manualReset_) changed_.notify_all();
    else changed_.notify_one();
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = false;
  }
  bool IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  // Waits until set; false after the time-out. An auto-reset event is
  // consumed by the waiter that sees it.
  bool WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, timeout, [this] { return set_; })) return false;
    if (!manualReset_) set_ = false;
    return true;
  }
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return set_; });
    if (!manualReset_) set_ = false;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  const bool manualReset_;
  bool set_;
};
