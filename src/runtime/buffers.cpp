#include "runtime/buffers.h"

#include <atomic>
#include <cinttypes>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/platform.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/test_hooks.h"

namespace {
// 'BufferUsageSection'. A function-level static with a constant constructor
// exists before any caller, so allocations from static objects, from tests
// and from threads that outlive a shutdown never meet a missing lock.
std::mutex& BufferUsageSection() {
  static std::mutex section;
  return section;
}

uint64_t g_currentUsage = 0;
uint64_t g_peakUsage = 0;
std::atomic<bool> g_trackingActive{false};

bool InjectedFailure() {
  TestHooks* hooks = ActiveTestHooks();
  if (hooks == nullptr) return false;
  if (hooks->CountAllocation()) return true;
  int left = hooks->failAllocations.load();
  while (left > 0) {
    if (hooks->failAllocations.compare_exchange_weak(left, left - 1)) return true;
  }
  return false;
}

// Image-sized blocks come from the platform's large-block allocator (huge
// pages natively); a descriptor's size tells which allocator owns its block.
constexpr size_t LARGE_BLOCK = size_t{4} << 20;

bool IsLarge(size_t size) { return size >= LARGE_BLOCK; }

void* AllocateBlock(size_t size) {
  if (InjectedFailure()) return nullptr;
  return IsLarge(size) ? PlatformAllocateLarge(size) : std::malloc(size);
}

void FreeBlock(void* block, size_t size) {
  if (IsLarge(size))
    PlatformFreeLarge(block, size);
  else
    std::free(block);
}

// Grows a block to `size` keeping its first `previous` bytes; the old block
// is freed only on success.
void* ResizeBlock(void* block, size_t previous, size_t size) {
  if (InjectedFailure()) return nullptr;
  if (!IsLarge(previous) && !IsLarge(size)) return std::realloc(block, size);
  void* grown = AllocateBlock(size);
  if (grown == nullptr) return nullptr;
  if (previous != 0) {
    std::memcpy(grown, block, previous < size ? previous : size);
    FreeBlock(block, previous);
  }
  return grown;
}

// Applies a change of one buffer's size to the counters.
void RecordResize(size_t previous, size_t now) {
  std::lock_guard<std::mutex> lock(BufferUsageSection());
  g_currentUsage += static_cast<uint64_t>(now);
  g_currentUsage -= static_cast<uint64_t>(previous);
  if (g_currentUsage > g_peakUsage) g_peakUsage = g_currentUsage;
}

const char* const CAPTION_DEALLOCATE = "Debug:  Unexepected error.";
}  // namespace

bool InitializeBufferUsageTracking() {
  g_trackingActive = true;
  return true;
}

void DeleteBufferUsageTracking() { g_trackingActive = false; }

BufferUsage GetBufferUsage() {
  std::lock_guard<std::mutex> lock(BufferUsageSection());
  return BufferUsage{g_currentUsage, g_peakUsage};
}

void ReportBufferUsage() {
  const BufferUsage usage = GetBufferUsage();
  REPORT_TRACE("ReportBufferUsage(): Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64 "\n", usage.current,
               usage.peak);
}

int16_t ReallocateBuffer(size_t requested, BufferDescriptor* descriptor) {
  if (descriptor == nullptr) {
    REPORT_DEBUG("NULL buffer descriptor pointer received in ReallocateBuffer().");
    return STATUS_OUT_OF_MEMORY;
  }
  if (descriptor->size >= requested) return 0;
  const size_t previous = descriptor->size;
  if (previous != 0) FreeBlock(descriptor->buffer, previous);
  descriptor->buffer = AllocateBlock(requested);
  if (descriptor->buffer == nullptr) {
    // The old block is gone either way: take it off the counters too, or
    // the usage would stay inflated for the rest of the process.
    descriptor->size = 0;
    RecordResize(previous, 0);
    const BufferUsage usage = GetBufferUsage();
    REPORT_DEBUG("ReallocateBuffer() Allocation Failed: Requested = %" PRIu64 ", Previous Size = %" PRIu64
                 ", Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64,
                 static_cast<uint64_t>(requested), static_cast<uint64_t>(previous), usage.current, usage.peak);
    return STATUS_OUT_OF_MEMORY;
  }
  descriptor->size = requested;
  RecordResize(previous, requested);
  return 0;
}

int16_t ReallocateBufferPreserveContents(size_t requested, BufferDescriptor* descriptor) {
  if (descriptor == nullptr) {
    REPORT_DEBUG("NULL buffer descriptor pointer received in ReallocateBufferPreserveContents().");
    return STATUS_OUT_OF_MEMORY;
  }
  if (descriptor->size >= requested) return 0;
  const size_t previous = descriptor->size;
  // A descriptor without a size owns nothing, whatever its pointer says.
  void* grown = ResizeBlock(previous == 0 ? nullptr : descriptor->buffer, previous, requested);
  if (grown == nullptr) {
    const BufferUsage usage = GetBufferUsage();
    REPORT_DEBUG("ReallocateBufferPreserveContents() Allocation Failed: Requested = %" PRIu64
                 ", Previous Size = %" PRIu64 ", Current Usage = %" PRIu64 ", Peak Usage = %" PRIu64,
                 static_cast<uint64_t>(requested), static_cast<uint64_t>(previous), usage.current, usage.peak);
    return STATUS_OUT_OF_MEMORY;
  }
  descriptor->buffer = grown;
  descriptor->size = requested;
  RecordResize(previous, requested);
  return 0;
}

void DeallocateBuffer(BufferDescriptor* descriptor) {
  if (descriptor == nullptr) {
    DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
    ReportMessage(&message, STYLE_ERROR, CAPTION_DEALLOCATE, "NULL buffer descriptor pointer received in DeallocateBuffer()");
    return;
  }
  if (descriptor->size == 0) return;
  FreeBlock(descriptor->buffer, descriptor->size);
  RecordResize(descriptor->size, 0);
  descriptor->buffer = nullptr;
  descriptor->size = 0;
}
