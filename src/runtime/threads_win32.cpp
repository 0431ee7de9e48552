// Processor topology on Windows: the logical processor information, looked
// up at run time because the oldest systems lack it.
#include <windows.h>

#include <cstdlib>

#include "runtime/report.h"
#include "runtime/threads.h"

namespace {
using GetLogicalProcessorInformationFunction = BOOL(WINAPI*)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);

int CountBits(ULONG_PTR mask) {
  int bits = 0;
  for (; mask != 0; mask &= mask - 1) ++bits;
  return bits;
}

int ProcessorCount() {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  return static_cast<int>(info.dwNumberOfProcessors);
}
}  // namespace

ProcessorTopology QueryProcessorTopology() {
  ProcessorTopology topology{false, 0, 0, ProcessorCount()};
  HMODULE kernel = GetModuleHandleA("kernel32");
  auto query = kernel != nullptr ? reinterpret_cast<GetLogicalProcessorInformationFunction>(reinterpret_cast<void*>(
                                       GetProcAddress(kernel, "GetLogicalProcessorInformation")))
                                 : nullptr;
  if (query == nullptr) return topology;

  DWORD length = 0;
  if (query(nullptr, &length)) {
    REPORT_DEBUG("Call to GetLogicalProcessorInformation() succeeded.");
    return topology;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get size of Logical Processor Information buffer.");
    return topology;
  }
  auto* info = static_cast<SYSTEM_LOGICAL_PROCESSOR_INFORMATION*>(std::malloc(length));
  if (info == nullptr) {
    REPORT_DEBUG("Failed to allocate Logical Processor Information buffer.");
    return topology;
  }
  if (!query(info, &length)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "GetLogicalProcessorInformation() failed.");
    std::free(info);
    return topology;
  }
  int cores = 0;
  int logical = 0;
  const DWORD entries = length / sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION);
  for (DWORD i = 0; i < entries; ++i) {
    switch (info[i].Relationship) {
      case RelationProcessorCore:
        ++cores;
        logical += CountBits(info[i].ProcessorMask);
        break;
      case RelationNumaNode:
      case RelationCache:
      case RelationProcessorPackage:
        break;
      default:
        REPORT_DEBUG("Unsupported LOGICAL_PROCESSOR_RELATIONSHIP value %d.", static_cast<int>(info[i].Relationship));
        break;
    }
  }
  std::free(info);
  if (cores > 0 && logical > 0) {
    topology.available = true;
    topology.cores = cores;
    topology.logicalProcessors = logical;
  }
  return topology;
}
