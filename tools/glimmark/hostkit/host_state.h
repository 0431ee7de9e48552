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

// kUnusable with the reason for anything but a readable file of ours: a
// folder, named pipe or device in its place is refused without opening it.
enum class StateLoad { kMissing, kLoaded, kUnusable };
StateLoad LoadHostState(const std::string& path, HostState* state, std::string* why);
// Creates the folder when needed and replaces the file with ReplaceFileContents.
bool SaveHostState(const std::string& path, const HostState& state, std::string* error);

// Replaces the file at `path` in one step, so that it is never found
// half-written: the bytes go to a temporary beside it, are flushed to disk
// and renamed over it. A link is followed and the file it names replaced.
// Refuses, leaving it alone, anything but a regular file in the way (a
// folder, a named pipe, a device). On failure the temporary is removed, the
// old file stays, and *error says why in words.
bool ReplaceFileContents(const std::string& path, const void* data, size_t size, std::string* error);
// Why ReplaceFileContents would refuse `path` before writing anything (what
// stands there is not a regular file); empty when it would go ahead.
std::string ReplaceabilityProblem(const std::string& path);

}  // namespace hostkit
