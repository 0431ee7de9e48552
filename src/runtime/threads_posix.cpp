// Processor topology natively: the CPUs of this process's affinity mask (so
// that task sets and container limits count) and, from sysfs, which of them
// share a core.
#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <new>
#include <set>
#include <string>
#include <utility>

#include "runtime/threads.h"

namespace {
bool ReadNumber(const std::string& path, long* value) {
  std::ifstream in(path);
  return static_cast<bool>(in >> *value);
}

// The cores of the processors in `mask`, from sysfs; leaves *topology
// unavailable when sysfs does not say.
void ReadCores(const cpu_set_t& mask, ProcessorTopology* topology) {
  std::set<std::pair<long, long>> cores;  // (package, core)
  int logical = 0;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (!CPU_ISSET(cpu, &mask)) continue;
    const std::string folder = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
    long package = 0;
    long core = 0;
    if (!ReadNumber(folder + "physical_package_id", &package) || !ReadNumber(folder + "core_id", &core))
      return;  // no topology: the processor count serves
    cores.emplace(package, core);
    ++logical;
  }
  if (logical == 0) return;
  topology->available = true;
  topology->cores = static_cast<int>(cores.size());
  topology->logicalProcessors = logical;
}
}  // namespace

ProcessorTopology QueryProcessorTopology() {
  ProcessorTopology topology{false, 0, 0, 0};
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (sched_getaffinity(0, sizeof mask, &mask) != 0) {
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    topology.processors = online > 0 ? static_cast<int>(online) : 1;
    return topology;
  }
  topology.processors = CPU_COUNT(&mask);
  // Reading the cores needs memory; without it the processor count serves.
  try {
    ReadCores(mask, &topology);
  } catch (const std::bad_alloc&) {
    topology.available = false;
  }
  return topology;
}
