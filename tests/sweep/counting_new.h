#pragma once
// The fault sweep's global operator new and delete: while armed, every
// allocation the plug-in makes (on any thread, host code excepted) counts
// through the installed test hooks, and the one the hooks pick fails as the
// system would fail it (bad_alloc, or null for the nothrow forms).
#include <cstdint>

namespace sweep {

void ArmAllocationFailures(bool armed);
// With the sanitizers built in: print the stack of every allocation failed.
void ShowFailedAllocations(bool show);
// Blocks from operator new not yet given back, whoever allocated them.
int64_t LiveBlocks();

}  // namespace sweep
