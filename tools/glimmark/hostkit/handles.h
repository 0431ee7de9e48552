#pragma once
// Host handles as the module sees them: a Handle points to a cell whose first
// member is the data pointer, so hosts that allow `*h` access work as well as
// the lock procedure. Every cell is tracked, so calls with a handle the table
// never gave out (or already disposed) are counted instead of crashing, and
// the handles a run leaves behind can be counted.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "host_abi/host_interface.h"

namespace hostkit {

class HandleTable {
 public:
  HandleTable() = default;
  ~HandleTable();
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // A zero-filled handle of `size` bytes; null for a negative size, when out
  // of memory, or when the allocation limit is used up.
  Handle New(int32_t size);
  Handle NewFromBytes(const std::vector<uint8_t>& bytes);
  // False (and counted as a bad call) for a handle not in the table.
  bool Dispose(Handle handle);
  bool IsValid(Handle handle) const;
  // 0 for an unknown handle.
  int32_t Size(Handle handle);
  OSErr SetSize(Handle handle, int32_t size);
  Ptr Lock(Handle handle);
  void Unlock(Handle handle);
  int32_t LockCount(Handle handle) const;
  void RecoverSpace(int32_t size);
  // A copy of the contents; empty for an unknown handle.
  std::vector<uint8_t> Bytes(Handle handle) const;

  size_t LiveCount() const { return cells_.size(); }
  // Calls that named a handle the table does not hold (or a negative size).
  size_t BadCallCount() const { return badCalls_; }
  size_t AllocationCount() const { return allocations_; }
  // After `count` more successful allocations New fails; -1 = no limit.
  void SetAllocationLimit(long count) { allocationsLeft_ = count; }

 private:
  struct Cell {
    char* data = nullptr;  // must stay first: the Handle points here
    int32_t size = 0;
    int32_t locks = 0;
  };
  Cell* Find(Handle handle) const;

  std::unordered_map<Handle, std::unique_ptr<Cell>> cells_;
  size_t badCalls_ = 0;
  size_t allocations_ = 0;
  long allocationsLeft_ = -1;
};

}  // namespace hostkit
