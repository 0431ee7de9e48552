#include "runtime/threads.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "platform/platform.h"
#include "runtime/event.h"
#include "runtime/report.h"
#include "runtime/test_hooks.h"
#include "runtime/ui_call_queue.h"

struct ThreadHandle {
  std::thread thread;
  std::atomic<bool> ended{false};
  uint32_t exitCode = 0;
  uint32_t threadId = 0;
  Event started{true, false};
};

namespace {
constexpr int MAX_WORKER_THREADS = 24;

void RunThread(ThreadHandle* handle, ThreadStartRoutine routine, void* argument) {
  handle->threadId = PlatformCurrentThreadId();
  handle->started.Set();
  uint32_t code = 0;
  // Nothing thrown may leave a thread's entry function.
  try {
    code = routine != nullptr ? routine(argument) : 0;
  } catch (const std::exception& e) {
    REPORT_DEBUG("Worker thread ended by an internal failure: %s", e.what());
    code = 1;
  } catch (...) {
    REPORT_DEBUG("Worker thread ended by an internal failure.");
    code = 1;
  }
  handle->exitCode = code;
  handle->ended.store(true);
  NotifyUICallQueueWaiters();
}

std::string FirstLine(const std::string& text) {
  const size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

void JoinAndRelease(ThreadRecord* record) {
  ThreadHandle* handle = record->handle;
  if (handle->thread.joinable()) handle->thread.join();
  record->exitCode = handle->exitCode;
  delete handle;
  record->handle = nullptr;
}
}  // namespace

bool SpawnMultipleThreads(ThreadRecord* records, int count) {
  if (records == nullptr && count > 0) {
    REPORT_DEBUG("SpawnMultipleThreads() - No thread records.");
    return false;
  }
  TestHooks* hooks = ActiveTestHooks();
  const int failIndex = hooks != nullptr ? hooks->failThreadStart.exchange(-1) : -1;
  for (int i = 0; i < count; ++i) {
    ThreadRecord& record = records[i];
    ThreadHandle* handle = nullptr;
    try {
      if (i == failIndex) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
      handle = new ThreadHandle;
      handle->thread = std::thread(RunThread, handle, record.startRoutine, record.argument);
    } catch (const std::system_error& e) {
      delete handle;
      REPORT_DEBUG("SpawnMultipleThreads() - Could not start thread %d : %s.", i, FirstLine(e.code().message()).c_str());
      return false;
    } catch (const std::bad_alloc&) {
      delete handle;
      REPORT_DEBUG("SpawnMultipleThreads() - Could not start thread %d : %s.", i, "Not enough memory");
      return false;
    }
    handle->started.Wait();
    record.threadId = handle->threadId;
    record.handle = handle;
  }
  return true;
}

bool WaitForMultipleThreads(int count, ThreadRecord* records, bool alertable, const int16_t* status) {
  if (records == nullptr || count <= 0) return true;
  auto allEnded = [records, count] {
    for (int i = 0; i < count; ++i) {
      if (records[i].handle != nullptr && !records[i].handle->ended.load()) return false;
    }
    return true;
  };
  for (;;) {
    if (WaitForConditionOrUICalls(allEnded, alertable)) break;
    RunQueuedUICalls();
    if (status != nullptr && __atomic_load_n(status, __ATOMIC_ACQUIRE) != 0) return false;
  }
  // What the workers queued just before they ended still belongs to this
  // operation: deliver it now rather than at some later wait.
  if (alertable) RunQueuedUICalls();
  for (int i = 0; i < count; ++i) {
    if (records[i].handle != nullptr) JoinAndRelease(&records[i]);
  }
  return true;
}

bool DestroyThread(ThreadRecord* record) {
  if (record == nullptr) return true;
  if (record->handle != nullptr) JoinAndRelease(record);
  if (record->argument != nullptr && record->releaseArgument != nullptr) record->releaseArgument(record->argument);
  record->argument = nullptr;
  return true;
}

int ComputeWorkerThreadCount(const ProcessorTopology& topology) {
  int workers = 1;
  if (topology.available) {
    const int logical = topology.logicalProcessors;
    const int shared = logical - topology.cores;  // logical processors beyond one per core
    // Half of the extra hardware threads are worth a worker.
    workers = logical - shared / 2;
    if (workers <= 0) workers = 1;
    // Without hyper-threading leave one processor to the host's UI.
    if (shared < 2 && logical > 2) workers = logical - 1;
  } else {
    const int processors = topology.processors;
    if (processors < 2) workers = 1;
    else if (processors == 2) workers = 2;
    else workers = processors - 1;
  }
  return std::clamp(workers, 1, MAX_WORKER_THREADS);
}

int GetWorkerThreadCount() {
  static const int count = ComputeWorkerThreadCount(QueryProcessorTopology());
  return count;
}
