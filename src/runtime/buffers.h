#pragma once
// Tracked heap buffers: grow-only memory blocks whose sizes add up to a
// process-wide current and peak usage, traced when the plug-in shuts down.
//
// A descriptor is embedded, zero-initialised, in the record that uses it; a
// zeroed descriptor owns nothing and every routine here accepts one.
#include <cstddef>
#include <cstdint>

#include "runtime/status.h"

struct BufferDescriptor {
  void* buffer;
  size_t size;
};

// Opens and closes the tracking window of one plug-in initialisation
// ('BufferUsageSection'). The counters' lock lives for the whole process,
// so buffers may be used before, between and after these calls.
bool InitializeBufferUsageTracking();
void DeleteBufferUsageTracking();

// Makes the descriptor at least `requested` bytes long. Contents survive only
// when the buffer is already large enough. Returns 0 or -108; after a failure
// the descriptor is empty.
int16_t ReallocateBuffer(size_t requested, BufferDescriptor* descriptor);
// The same, but a grown buffer keeps its contents; after a failure the
// descriptor keeps its old memory.
int16_t ReallocateBufferPreserveContents(size_t requested, BufferDescriptor* descriptor);
// Frees the memory and empties the descriptor.
void DeallocateBuffer(BufferDescriptor* descriptor);

struct BufferUsage {
  uint64_t current;
  uint64_t peak;
};
BufferUsage GetBufferUsage();
// Trace line with both counters.
void ReportBufferUsage();
