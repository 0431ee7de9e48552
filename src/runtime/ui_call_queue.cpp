#include "runtime/ui_call_queue.h"

#include <condition_variable>
#include <list>
#include <mutex>
#include <new>
#include <utility>

namespace {
// A list: made on first use, possibly by a worker that is ending, so its
// making must not need memory (an empty deque already holds a block).
struct CallQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::list<std::function<void()>> calls;
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
  // One call at a time, moved out of the queue: nothing here allocates, so
  // that a wait for workers that ran out of memory still ends in order.
  // Calls that these calls queue wait for the next time.
  size_t left = 0;
  {
    std::lock_guard<std::mutex> lock(q.mutex);
    left = q.calls.size();
  }
  size_t ran = 0;
  for (; ran < left; ++ran) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(q.mutex);
      if (q.calls.empty()) break;
      call = std::move(q.calls.front());
      q.calls.pop_front();
    }
    // Outside the lock: a call may queue further calls.
    if (call) call();
  }
  return ran;
}

void DiscardQueuedUICalls() {
  CallQueue& q = Queue();
  // Cleared in place: an exchange with a fresh queue would allocate, and
  // this runs in the clean-up after an allocation failed.
  std::lock_guard<std::mutex> lock(q.mutex);
  q.calls.clear();
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
