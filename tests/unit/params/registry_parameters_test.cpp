// The Parameter Set in the host's descriptor registry, against a small host
// of our own that offers the basic suite, the registry suite and the slots
// of the action descriptor suite that raw data needs. Its options take each
// of those away again.
#include "params/registry_parameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "store_test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct FakeDescriptor {
  std::map<DescriptorKeyID, Bytes> data;
};

struct FakeRegistryHost {
  // What the host offers.
  bool offerRegistry = true;
  int32_t maxDescriptorVersion = 3;
  bool offerGetData = true;
  OSErr registerResult = noErr;
  bool claimLength = false;    // GetDataLength answers claimedLength instead of the truth
  int32_t claimedLength = 0;

  // What it keeps and counts.
  std::map<std::string, std::pair<FakeDescriptor, bool>> registry;
  std::map<std::string, int> acquired;  // "name#version" → count
  std::map<FakeDescriptor*, std::unique_ptr<FakeDescriptor>> live;
  int badCalls = 0;
};

FakeRegistryHost* g_host = nullptr;

std::string SuiteKey(const char* name, int32_t version) { return std::string(name) + "#" + std::to_string(version); }

FakeDescriptor* Find(PIActionDescriptor d) {
  auto found = g_host->live.find(reinterpret_cast<FakeDescriptor*>(d));
  if (found == g_host->live.end()) {
    ++g_host->badCalls;
    return nullptr;
  }
  return found->second.get();
}

PIActionDescriptor Keep(FakeDescriptor descriptor) {
  auto owned = std::make_unique<FakeDescriptor>(std::move(descriptor));
  FakeDescriptor* raw = owned.get();
  g_host->live.emplace(raw, std::move(owned));
  return reinterpret_cast<PIActionDescriptor>(raw);
}

OSErr Make(PIActionDescriptor* out) {
  *out = Keep(FakeDescriptor());
  return noErr;
}
OSErr Free(PIActionDescriptor d) {
  if (Find(d) == nullptr) return paramErr;
  g_host->live.erase(reinterpret_cast<FakeDescriptor*>(d));
  return noErr;
}
OSErr PutData(PIActionDescriptor d, DescriptorKeyID key, int32_t length, void* value) {
  FakeDescriptor* descriptor = Find(d);
  if (descriptor == nullptr || length < 0) return paramErr;
  const auto* bytes = static_cast<const uint8_t*>(value);
  descriptor->data[key] = Bytes(bytes, bytes + length);
  return noErr;
}
OSErr GetDataLength(PIActionDescriptor d, DescriptorKeyID key, int32_t* length) {
  FakeDescriptor* descriptor = Find(d);
  if (descriptor == nullptr) return paramErr;
  auto found = descriptor->data.find(key);
  if (found == descriptor->data.end()) return errMissingParameter;
  *length = g_host->claimLength ? g_host->claimedLength : static_cast<int32_t>(found->second.size());
  return noErr;
}
OSErr GetData(PIActionDescriptor d, DescriptorKeyID key, void* buffer) {
  FakeDescriptor* descriptor = Find(d);
  if (descriptor == nullptr) return paramErr;
  auto found = descriptor->data.find(key);
  if (found == descriptor->data.end()) return errMissingParameter;
  if (!found->second.empty()) std::memcpy(buffer, found->second.data(), found->second.size());
  return noErr;
}

OSErr Register(const char* key, PIActionDescriptor d, Boolean persistent) {
  FakeDescriptor* descriptor = Find(d);
  if (descriptor == nullptr) return paramErr;
  if (g_host->registerResult != noErr) return g_host->registerResult;
  g_host->registry[key] = {*descriptor, persistent != 0};
  return noErr;
}
OSErr Erase(const char* key) {
  g_host->registry.erase(key);
  return noErr;
}
OSErr Get(const char* key, PIActionDescriptor* out) {
  auto found = g_host->registry.find(key);
  // Nothing stored: success and no descriptor, as several hosts answer.
  *out = found == g_host->registry.end() ? nullptr : Keep(found->second.first);
  return noErr;
}

PSDescriptorRegistryProcs RegistryProcs() {
  PSDescriptorRegistryProcs procs{};
  procs.Register = Register;
  procs.Erase = Erase;
  procs.Get = Get;
  return procs;
}

PSActionDescriptorProcs ActionProcs(bool withGetData) {
  PSActionDescriptorProcs procs{};  // every other slot empty
  procs.Make = Make;
  procs.Free = Free;
  procs.PutData = PutData;
  procs.GetDataLength = GetDataLength;
  procs.GetData = withGetData ? GetData : nullptr;
  return procs;
}

SPErr AcquireSuite(const char* name, int32_t version, const void** suite) {
  static PSDescriptorRegistryProcs registry = RegistryProcs();
  static PSActionDescriptorProcs actions = ActionProcs(true);
  static PSActionDescriptorProcs actionsWithoutGetData = ActionProcs(false);
  *suite = nullptr;
  if (std::strcmp(name, kPSDescriptorRegistrySuite) == 0 && version == 1 && g_host->offerRegistry) {
    *suite = &registry;
  } else if (std::strcmp(name, kPSActionDescriptorSuite) == 0 && version >= 2 &&
             version <= g_host->maxDescriptorVersion) {
    *suite = g_host->offerGetData ? &actions : &actionsWithoutGetData;
  }
  if (*suite == nullptr) return kSPSuiteNotFoundError;
  ++g_host->acquired[SuiteKey(name, version)];
  return kSPNoError;
}

SPErr ReleaseSuite(const char* name, int32_t version) {
  auto found = g_host->acquired.find(SuiteKey(name, version));
  if (found == g_host->acquired.end()) {
    ++g_host->badCalls;
    return kSPBadParameterError;
  }
  if (--found->second == 0) g_host->acquired.erase(found);
  return kSPNoError;
}

class RegistryParameters : public storetest::QuietLogTest {
 protected:
  void SetUp() override {
    QuietLogTest::SetUp();
    OpenQuietLog();
    g_host = &host_;
    basic_.AcquireSuite = AcquireSuite;
    basic_.ReleaseSuite = ReleaseSuite;
  }
  void TearDown() override {
    // Whatever happened, everything acquired was released and every
    // descriptor the module was handed was freed.
    EXPECT_TRUE(host_.acquired.empty());
    EXPECT_TRUE(host_.live.empty());
    EXPECT_EQ(host_.badCalls, 0);
    g_host = nullptr;
    QuietLogTest::TearDown();
  }

  void Store(const Bytes& block) {
    FakeDescriptor descriptor;
    descriptor.data[FourCC("PBlk")] = block;
    host_.registry["93de9c7d-1906-4770-a930-6275943844bd"] = {descriptor, true};
  }

  static Bytes Block(const ParameterSet& set, size_t size = 255) {
    Bytes bytes(size, 0);
    if (size > 0) std::memcpy(bytes.data(), &set, std::min(size, sizeof set));
    return bytes;
  }

  FakeRegistryHost host_;
  SPBasicSuite basic_{};
};

TEST_F(RegistryParameters, WhatFinishStoresStartReadsBack) {
  ParameterSet current = FACTORY_PARAMETER_SET;
  current.angle = -90;
  current.quantity = 100;
  current.versionBuild = 2;  // stored with the current stamp whatever it held
  ASSERT_EQ(WriteRegistryParameters(&basic_, &current), 0);

  auto entry = host_.registry.find("93de9c7d-1906-4770-a930-6275943844bd");
  ASSERT_NE(entry, host_.registry.end());
  EXPECT_TRUE(entry->second.second) << "the entry outlives the session";
  ParameterSet expected = current;
  expected.versionBuild = 5;
  EXPECT_EQ(entry->second.first.data[FourCC("PBlk")], Block(expected));

  ParameterSet read = FACTORY_PARAMETER_SET;
  ASSERT_EQ(ReadRegistryParameters(&basic_, &read), 0);
  EXPECT_EQ(0, std::memcmp(&read, &expected, sizeof read));
}

TEST_F(RegistryParameters, NothingStoredAndOtherVersionsLeaveTheSetAlone) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.length = 3;
  EXPECT_EQ(ReadRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
  EXPECT_EQ(set.length, 3);

  ParameterSet old = FACTORY_PARAMETER_SET;
  old.versionBuild = 4;
  old.length = 99;
  Store(Block(old));
  EXPECT_EQ(ReadRegistryParameters(&basic_, &set), errHostVersionIncompatible);
  EXPECT_EQ(set.length, 3);
  EXPECT_TRUE(Contains(TakeLog(), "Stored version = 0.0.0.4, current version = 0.0.0.5"));
}

TEST_F(RegistryParameters, DamagedEntriesAreNothingUsable) {
  const ParameterSet good = FACTORY_PARAMETER_SET;
  const struct {
    const char* what;
    Bytes block;
    bool claim;
    int32_t claimed;
  } cases[] = {
      {"empty", Bytes(), false, 0},
      {"shorter than a set", Block(good, 39), false, 0},
      {"longer than we write", Block(good, 256), false, 0},
      {"a length of zero", Block(good), true, 0},
      {"a negative length", Block(good), true, -5},
      {"a length beyond any buffer", Block(good), true, 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Store(c.block);
    host_.claimLength = c.claim;
    host_.claimedLength = c.claimed;
    ParameterSet set = FACTORY_PARAMETER_SET;
    set.spikeSharpness = 1;
    EXPECT_EQ(ReadRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
    EXPECT_EQ(set.spikeSharpness, 1);
  }
  host_.claimLength = false;

  // An entry without the data key.
  host_.registry["93de9c7d-1906-4770-a930-6275943844bd"] = {FakeDescriptor(), true};
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_EQ(ReadRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
  EXPECT_TRUE(Contains(TakeLog(), "couldn't get the parameter block length or it was zero"));
}

TEST_F(RegistryParameters, HostsWithoutTheSuitesOrTheirProceduresAreInsufficient) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  EXPECT_EQ(ReadRegistryParameters(nullptr, &set), errPlugInHostInsufficient);
  EXPECT_EQ(WriteRegistryParameters(nullptr, &set), errPlugInHostInsufficient);
  SPBasicSuite empty{};
  EXPECT_EQ(ReadRegistryParameters(&empty, &set), errPlugInHostInsufficient);

  host_.offerRegistry = false;
  EXPECT_EQ(WriteRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
  EXPECT_TRUE(host_.registry.empty());
  host_.offerRegistry = true;

  host_.maxDescriptorVersion = 1;
  EXPECT_EQ(WriteRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
  host_.maxDescriptorVersion = 3;

  // A suite with an empty slot we need is as good as no suite.
  Store(Block(set));
  host_.offerGetData = false;
  EXPECT_EQ(ReadRegistryParameters(&basic_, &set), errPlugInHostInsufficient);
  host_.offerGetData = true;
}

TEST_F(RegistryParameters, VersionTwoOfTheDescriptorSuiteIsEnough) {
  host_.maxDescriptorVersion = 2;
  ParameterSet current = FACTORY_PARAMETER_SET;
  current.softFlareIntensity = 0;
  ASSERT_EQ(WriteRegistryParameters(&basic_, &current), 0);
  ParameterSet read = FACTORY_PARAMETER_SET;
  ASSERT_EQ(ReadRegistryParameters(&basic_, &read), 0);
  EXPECT_EQ(read.softFlareIntensity, 0);
}

TEST_F(RegistryParameters, ARefusedRegistrationIsReported) {
  host_.registerResult = memFullErr;
  EXPECT_EQ(WriteRegistryParameters(&basic_, &FACTORY_PARAMETER_SET), errPlugInHostInsufficient);
  EXPECT_TRUE(host_.registry.empty());
  EXPECT_TRUE(Contains(TakeLog(), "WriteRegistryParameters() failed to register the data."));
}

}  // namespace
