// Scripting descriptors and the descriptor registry: the module reads its
// settings from what a host recorded, through hostkit's real descriptor
// procedures. The input's first byte picks the host's play mode and options;
// after it comes either the raw bytes of the descriptor handle (hostkit's
// encoding, whatever it holds) or items built from the bytes: any keys,
// types and values, repeats, wrong types, duplicates, long runs. The same
// items are the host's registry entry for the module's parameter block.
//
// Properties: the readers return what they promise, every reader, writer,
// suite and descriptor the module opened is closed again, a set the module
// writes back reads back equal, and whatever was read draws.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

#include "fuzz_support.h"
#include "host/scripting.h"
#include "hostkit/host.h"
#include "params/parameter_table.h"
#include "params/registry_parameters.h"

namespace {

using hostkit::DescriptorItem;
using hostkit::DescriptorItems;

ParameterSet g_scripted;  // what the scripting reader made of the descriptor
ParameterSet g_registry;  // what the registry reader made of the entry
bool g_registryRead = false;

DescriptorKeyID PickKey(FuzzedDataProvider& in) {
  static const DescriptorKeyID kKeys[] = {
      FourCC("qntY"), FourCC("Intn"), FourCC("Lngt"), FourCC("Angl"),      FourCC("numP"),
      FourCC("spsH"), FourCC("Strt"), FourCC("sflB"), PARAMETER_BLOCK_KEY, 0};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  return pick < 250 ? kKeys[pick % 10] : in.ConsumeIntegral<uint32_t>();
}

double PickNumber(FuzzedDataProvider& in) {
  static const double kNumbers[] = {0, 1, -1, 50, 100, 101, -90, 360, 32767.9, 32768, -32769, 65536, 1e300, -1e300};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 128) return kNumbers[pick % 14];
  double value = 0;
  const uint64_t bits = in.ConsumeIntegral<uint64_t>();  // NaN and infinities included
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

DescriptorItem PickItem(FuzzedDataProvider& in) {
  const DescriptorKeyID key = PickKey(in);
  switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
      return DescriptorItem::Integer(key, in.ConsumeIntegral<int32_t>());
    case 1:
      return DescriptorItem::Float(key, PickNumber(in));
    case 2: {
      const DescriptorUnitID unit = in.ConsumeBool() ? unitPercent : in.ConsumeIntegral<uint32_t>();
      return DescriptorItem::UnitFloat(key, unit, PickNumber(in));
    }
    case 3:
      return DescriptorItem::Boolean(key, in.ConsumeBool());
    case 4: {
      const DescriptorEnumTypeID type = in.ConsumeIntegral<uint32_t>();
      return DescriptorItem::Enumerated(key, type, in.ConsumeIntegral<uint32_t>());
    }
    case 5:
    case 6: {
      // Mostly the module's own block: a Parameter Set image of any length.
      std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 300));
      DescriptorItem item = DescriptorItem::RawData(key, std::move(bytes));
      if (in.ConsumeBool()) item.type = hostkit::typeText;
      return item;
    }
    default: {
      DescriptorItem item;
      item.key = key;
      return item;  // typeNull
    }
  }
}

// Up to a few items more than the scripting reader takes (4096 keys).
constexpr size_t MAX_ITEMS = 4200;

DescriptorItems BuildItems(FuzzedDataProvider& in) {
  DescriptorItems items;
  while (in.remaining_bytes() > 0 && items.size() < MAX_ITEMS) {
    const DescriptorItem item = PickItem(in);
    // Now and then an item repeats many times: descriptors longer than the
    // reader's patience, from short inputs.
    size_t copies = in.ConsumeIntegral<uint8_t>() == 255 ? in.ConsumeIntegralInRange<size_t>(1, MAX_ITEMS) : 1;
    copies = std::min(copies, MAX_ITEMS - items.size());
    items.insert(items.end(), copies, item);
  }
  return items;
}

// The module's side, called by the host as a selector: the readers run with
// the record and suites the host hands a module.
void Probe(int16_t, void* record, intptr_t*, int16_t* result) {
  FilterRecord* filter = static_cast<FilterRecord*>(record);
  g_scripted = FACTORY_PARAMETER_SET;
  bool showDialog = false;
  FUZZ_CHECK(ReadScriptingParameters(filter, &g_scripted, &showDialog) == 0);
  g_registry = FACTORY_PARAMETER_SET;
  const int16_t status = ReadRegistryParameters(filter->sSPBasic, &g_registry);
  FUZZ_CHECK(status == 0 || status == errPlugInHostInsufficient || status == errHostVersionIncompatible);
  FUZZ_CHECK(status == 0 || std::memcmp(&g_registry, &FACTORY_PARAMETER_SET, sizeof g_registry) == 0);
  g_registryRead = status == 0;

  // What the module writes back (the scripted fields of the set it read)
  // reads back as exactly those fields over the factory set, and the same
  // set stored in the registry reads back whole.
  FUZZ_CHECK(WriteScriptingParameters(filter, &g_scripted) == 0);
  ParameterSet reread = FACTORY_PARAMETER_SET;
  reread.intensity = 1234;  // a non-factory value the complete read replaces
  FUZZ_CHECK(ReadScriptingParameters(filter, &reread, &showDialog) == 0);
  ParameterSet expected = FACTORY_PARAMETER_SET;
  for (const ParameterField& field : PARAMETER_TABLE)
    if (field.key != 0)
      *ParameterFieldByIndex(&expected, field.index) = *ParameterFieldByIndex(&g_scripted, field.index);
  FUZZ_CHECK(std::memcmp(&reread, &expected, sizeof reread) == 0);
  FUZZ_CHECK(WriteRegistryParameters(filter->sSPBasic, &g_scripted) == 0);
  FUZZ_CHECK(ReadRegistryParameters(filter->sSPBasic, &reread) == 0);
  FUZZ_CHECK(ParameterSetsEqual(&reread, &g_scripted));
  *result = 0;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SetUpModule();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  FuzzedDataProvider in(data + 1, size - 1);
  std::vector<uint8_t> handleBytes;
  DescriptorItems items;
  if (flags & 1) {
    handleBytes = in.ConsumeRemainingBytes<uint8_t>();
    hostkit::DecodeDescriptor(handleBytes, &items);
  } else {
    items = BuildItems(in);
    handleBytes = hostkit::EncodeDescriptor(items);
  }

  hostkit::HostOptions options;
  options.maxActionDescriptorVersion = flags & 2 ? 2 : 3;
  options.offerErrorString = (flags & 4) == 0;
  hostkit::Host host(&Probe, options);
  host.SetPlayInfo(static_cast<int16_t>((flags >> 3) % 4));  // the three play modes and one no host uses
  host.SetScriptDescriptorBytes(handleBytes);
  host.SetRegistryEntry(PARAMETER_REGISTRY_KEY, items, true);
  FUZZ_CHECK(host.CallPrepare() == 0);

  FUZZ_CHECK(host.OpenDescriptorReaders() == 0 && host.OpenDescriptorWriters() == 0);
  FUZZ_CHECK(host.OutstandingSuites() == 0 && host.LiveActionDescriptors() == 0 && host.LiveBlocks() == 0);
  FUZZ_CHECK(host.handles().BadCallCount() == 0);
  fuzz::DrawWith(g_scripted, flags >> 5);
  if (g_registryRead) fuzz::DrawWith(g_registry, flags >> 5);
  return 0;
}
