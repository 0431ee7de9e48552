#include "hostkit/handles.h"

#include <cstdlib>
#include <cstring>

namespace hostkit {

HandleTable::~HandleTable() {
  for (auto& entry : cells_) std::free(entry.second->data);
}

HandleTable::Cell* HandleTable::Find(Handle handle) const {
  if (!handle) return nullptr;
  auto found = cells_.find(handle);
  return found == cells_.end() ? nullptr : found->second.get();
}

Handle HandleTable::New(int32_t size) {
  if (size < 0) {
    ++badCalls_;
    return nullptr;
  }
  if (allocationsLeft_ == 0) return nullptr;
  // At least one byte so that a zero-size handle still has a valid pointer.
  char* data = static_cast<char*>(std::calloc(size > 0 ? static_cast<size_t>(size) : 1u, 1));
  if (!data) return nullptr;
  auto cell = std::make_unique<Cell>();
  cell->data = data;
  cell->size = size;
  Handle handle = &cell->data;
  cells_.emplace(handle, std::move(cell));
  ++allocations_;
  if (allocationsLeft_ > 0) --allocationsLeft_;
  return handle;
}

Handle HandleTable::NewFromBytes(const std::vector<uint8_t>& bytes) {
  if (bytes.size() > INT32_MAX) return nullptr;
  Handle handle = New(static_cast<int32_t>(bytes.size()));
  if (handle && !bytes.empty()) std::memcpy(*handle, bytes.data(), bytes.size());
  return handle;
}

bool HandleTable::Dispose(Handle handle) {
  if (!handle) return true;  // disposing of nothing is allowed
  auto found = cells_.find(handle);
  if (found == cells_.end()) {
    ++badCalls_;
    return false;
  }
  std::free(found->second->data);
  cells_.erase(found);
  return true;
}

bool HandleTable::IsValid(Handle handle) const { return Find(handle) != nullptr; }

int32_t HandleTable::Size(Handle handle) {
  Cell* cell = Find(handle);
  if (!cell) {
    ++badCalls_;
    return 0;
  }
  return cell->size;
}

OSErr HandleTable::SetSize(Handle handle, int32_t size) {
  Cell* cell = Find(handle);
  if (!cell || size < 0) {
    ++badCalls_;
    return cell ? paramErr : nilHandleErr;
  }
  char* data = static_cast<char*>(std::realloc(cell->data, size > 0 ? static_cast<size_t>(size) : 1u));
  if (!data) return memFullErr;
  if (size > cell->size) std::memset(data + cell->size, 0, static_cast<size_t>(size - cell->size));
  cell->data = data;
  cell->size = size;
  return noErr;
}

Ptr HandleTable::Lock(Handle handle) {
  Cell* cell = Find(handle);
  if (!cell) {
    ++badCalls_;
    return nullptr;
  }
  ++cell->locks;
  return cell->data;
}

void HandleTable::Unlock(Handle handle) {
  Cell* cell = Find(handle);
  if (!cell) {
    ++badCalls_;
    return;
  }
  if (cell->locks > 0) --cell->locks;
}

int32_t HandleTable::LockCount(Handle handle) const {
  Cell* cell = Find(handle);
  return cell ? cell->locks : 0;
}

void HandleTable::RecoverSpace(int32_t) {}

std::vector<uint8_t> HandleTable::Bytes(Handle handle) const {
  Cell* cell = Find(handle);
  if (!cell) return {};
  const uint8_t* data = reinterpret_cast<const uint8_t*>(cell->data);
  return std::vector<uint8_t>(data, data + cell->size);
}

}  // namespace hostkit
