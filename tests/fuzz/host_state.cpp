// The command-line host's state file (host-state.bin): its registry entries
// and last descriptor. The input is the file less its closing checksum,
// which is put right before decoding so that the decoder's checks behind the
// checksum are reached; the input as it is (wrong checksum) must be refused.
// A decoded state must encode to the same bytes, load from disk the same
// way, and go where the tool puts it (the host's registry and the replayed
// settings descriptor) for the module to read.
#include "hostkit/host_state.h"

#include "fuzz_support.h"
#include "host/scripting.h"
#include "hostkit/host.h"
#include "params/registry_parameters.h"
#include "settings.h"

namespace {

uint32_t Checksum(const uint8_t* bytes, size_t size) {
  uint32_t hash = 2166136261u;  // FNV-1a, as the file stores it
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

ParameterSet g_scripted, g_registry;
bool g_registryRead = false;

void ReadSettings(int16_t, void* record, intptr_t*, int16_t* result) {
  FilterRecord* filter = static_cast<FilterRecord*>(record);
  bool showDialog = false;
  g_scripted = g_registry = FACTORY_PARAMETER_SET;
  FUZZ_CHECK(ReadScriptingParameters(filter, &g_scripted, &showDialog) == 0);
  const int16_t status = ReadRegistryParameters(filter->sSPBasic, &g_registry);
  FUZZ_CHECK(status == 0 || status == errPlugInHostInsufficient || status == errHostVersionIncompatible);
  g_registryRead = status == 0;
  *result = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(data, data + size);
  hostkit::HostState state;
  std::string why;
  if (size >= 4) {
    uint32_t stored = 0;
    for (int i = 0; i < 4; ++i) stored |= static_cast<uint32_t>(data[size - 4 + i]) << (8 * i);
    if (stored != Checksum(data, size - 4)) FUZZ_CHECK(!hostkit::DecodeHostState(bytes, &state, &why));
  }
  const uint32_t checksum = Checksum(data, size);
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(checksum >> (8 * i)));
  if (!hostkit::DecodeHostState(bytes, &state, &why)) {
    FUZZ_CHECK(!why.empty());
    return 0;
  }
  FUZZ_CHECK(hostkit::EncodeHostState(state) == bytes);
  static const std::string path = std::string(fuzz::Home()) + "/config/glimmark/host-state.bin";
  std::string error;
  FUZZ_CHECK(hostkit::SaveHostState(path, state, &error));
  hostkit::HostState loaded;
  FUZZ_CHECK(hostkit::LoadHostState(path, &loaded, &why) == hostkit::StateLoad::kLoaded);
  FUZZ_CHECK(hostkit::EncodeHostState(loaded) == bytes);

  // As `glimmark apply` starts a run: the registry from the file, and a
  // replayed descriptor of the eight settings made from the last one.
  hostkit::Host host(&ReadSettings);
  for (const hostkit::RegistryRecord& record : state.registry) host.SetRegistryEntry(record.key, record.items, true);
  if (state.hasLastDescriptor) {
    const hostkit::DescriptorItems replayed = glimmark::BuildSettingsDescriptor({}, &state.lastDescriptor);
    FUZZ_CHECK(replayed.size() == 8);
    host.SetScriptDescriptor(replayed);
    host.SetPlayInfo(plugInDialogDontDisplay);
    glimmark::DescriptorLines(state.lastDescriptor);
  }
  FUZZ_CHECK(host.CallPrepare() == 0);
  FUZZ_CHECK(host.OpenDescriptorReaders() == 0 && host.OutstandingSuites() == 0 && host.LiveActionDescriptors() == 0);
  fuzz::DrawWith(g_scripted, static_cast<unsigned>(size));
  if (g_registryRead) fuzz::DrawWith(g_registry, static_cast<unsigned>(size) + 1);
  return 0;
}
