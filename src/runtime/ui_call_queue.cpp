#include "runtime/ui_call_queue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <utility>

namespace {
struct CallQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::function<void()>> calls;
};

CallQueue& Queue() {
  static CallQueue queue;
  return queue;
}
}  // namespace

bool QueueUICall(std::function<void()> call) {
  CallQueue& q = Queue();
  try {
    std::lock_guard<std::mutex> lock(q.mutex);
    q.calls.push_back(std::move(call));
  } catch (const std::bad_alloc&) {
    return false;
  }
  q.changed.notify_all();
  return true;
}

size_t RunQueuedUICalls() {
  CallQueue& q = Queue();
  std::deque<std::function<void()>> taken;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    taken.swap(q.calls);
  }
  // Outside the lock: a call may queue further calls.
  for (auto& call : taken) {
    if (call) call();
  }
  return taken.size();
}

void DiscardQueuedUICalls() {
  CallQueue& q = Queue();
  std::deque<std::function<void()>> dropped;
  std::lock_guard<std::mutex> lock(q.mutex);
  dropped.swap(q.calls);
}

bool WaitForConditionOrUICalls(const std::function<bool()>& ready, bool alertable) {
  CallQueue& q = Queue();
  std::unique_lock<std::mutex> lock(q.mutex);
  for (;;) {
    if (ready()) return true;
    if (alertable && !q.calls.empty()) return false;
    q.changed.wait(lock);
  }
}

void NotifyUICallQueueWaiters() {
  CallQueue& q = Queue();
  // Taking the lock orders the change before a waiter's next test of it.
  { std::lock_guard<std::mutex> lock(q.mutex); }
  q.changed.notify_all();
}
