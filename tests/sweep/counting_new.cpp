#include "counting_new.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "hostkit/host_code.h"
#include "runtime/test_hooks.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace sweep {
namespace {
std::atomic<bool> g_armed{false};
std::atomic<int64_t> g_live{0};
bool g_show = false;

bool RefuseThisOne() {
  if (!g_armed.load(std::memory_order_relaxed) || hostkit::InHostCode()) return false;
  TestHooks* hooks = ActiveTestHooks();
  if (hooks == nullptr || !hooks->CountAllocation()) return false;
#if defined(__SANITIZE_ADDRESS__)
  if (g_show) __sanitizer_print_stack_trace();
#endif
  return true;
}

void* Allocate(std::size_t size, std::size_t alignment) {
  if (RefuseThisOne()) return nullptr;
  if (size == 0) size = 1;
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size);
  } else if (posix_memalign(&block, alignment, size) != 0) {
    block = nullptr;
  }
  if (block != nullptr) g_live.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void Free(void* block) {
  if (block == nullptr) return;
  g_live.fetch_sub(1, std::memory_order_relaxed);
  std::free(block);
}
}  // namespace

void ArmAllocationFailures(bool armed) { g_armed.store(armed); }
int64_t LiveBlocks() { return g_live.load(); }
void ShowFailedAllocations(bool show) { g_show = show; }

}  // namespace sweep

using sweep::Allocate;
using sweep::AllocateOrThrow;
using sweep::Free;
constexpr std::size_t kPlain = alignof(std::max_align_t);

void* operator new(std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size, kPlain); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size, kPlain); }
void* operator new(std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, std::size_t(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return AllocateOrThrow(size, std::size_t(a)); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, std::size_t(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return Allocate(size, std::size_t(a));
}
void operator delete(void* block) noexcept { Free(block); }
void operator delete[](void* block) noexcept { Free(block); }
void operator delete(void* block, std::size_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t) noexcept { Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Free(block); }
void operator delete(void* block, std::align_val_t) noexcept { Free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { Free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { Free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { Free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { Free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { Free(block); }
