#pragma once
// What a host keeps across sessions: the persistent entries of its
// descriptor registry and the last scripting descriptor a module wrote back,
// in one file of the host's own. The file is only a cache of settings, so a
// damaged or foreign one is reported and ignored, never trusted.
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/descriptors.h"

namespace hostkit {

struct RegistryRecord {
  std::string key;
  DescriptorItems items;
};

struct HostState {
  bool hasLastDescriptor = false;
  DescriptorItems lastDescriptor;
  std::vector<RegistryRecord> registry;  // persistent entries only
};

// Byte form: "GMHS", format version, the last descriptor, the registry
// entries, and a checksum of everything before it (so that a truncated or
// altered file is recognised as such).
std::vector<uint8_t> EncodeHostState(const HostState& state);
// False (and *state untouched) for anything but a complete file of ours.
bool DecodeHostState(const std::vector<uint8_t>& bytes, HostState* state, std::string* why);

enum class StateLoad { kMissing, kLoaded, kUnusable };
StateLoad LoadHostState(const std::string& path, HostState* state, std::string* why);
// Creates the folder when needed and replaces the file in one step (a
// temporary beside it, renamed over it).
bool SaveHostState(const std::string& path, const HostState& state, std::string* error);

}  // namespace hostkit
