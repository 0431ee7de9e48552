// Scripting and the stored settings through whole runs of the built module:
// what a recording host hands in at Start and gets back at Finish, and where
// the next run's settings come from (host registry, last saved file, factory).
//
// These tests are  until Start and Finish call the scripting reader
// and writer and the registry and file stores; run them with
// --gtest_also_run_disabled_tests meanwhile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "module_support.h"
#include "user_messages.h"

namespace {

using hostkit::DescriptorItem;
using hostkit::DescriptorItems;
using hostkit::Host;
using hostkit::HostImage;
using hostkit::HostOptions;

const char kRegistryKey[] = "93de9c7d-1906-4770-a930-6275943844bd";

// Parameter Sets byte for byte, as the module keeps them in the host: the
// factory set, and one that differs from it in every scripted field.
const std::vector<uint8_t> kFactory = {
    0, 0, 0, 0, 0, 0, 5, 0, 50, 0, 50, 0, 15, 0, 6, 0, 50, 0, 30, 0,
    50, 0, 50, 0, 0, 0, 30, 0, 0, 0, 0, 0, 0x30, 0x54, 0x66, 0x65, 50, 0, 0, 0,
};

struct Scripted {
  double quantity = 80, intensity = 70, length = 20, angle = -30;
  int32_t points = 4;
  double sharpness = 90, saturation = -50, softFlare = 10;
};

// The factory bytes with the scripted fields replaced (little-endian int16).
std::vector<uint8_t> BytesOf(const Scripted& s) {
  std::vector<uint8_t> bytes = kFactory;
  auto put = [&](size_t offset, int value) {
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>((value >> 8) & 0xFF);
  };
  put(36, static_cast<int>(s.quantity));
  put(8, static_cast<int>(s.intensity));
  put(10, static_cast<int>(s.length));
  put(12, static_cast<int>(s.angle));
  put(14, s.points);
  put(16, static_cast<int>(s.sharpness));
  put(18, static_cast<int>(s.saturation));
  put(26, static_cast<int>(s.softFlare));
  return bytes;
}

// The eight keys as a recording host keeps them.
DescriptorItems Recorded(const Scripted& s) {
  moduletest::Settings settings;
  settings.quantity = s.quantity;
  settings.intensity = s.intensity;
  settings.length = s.length;
  settings.angle = s.angle;
  settings.points = s.points;
  settings.sharpness = s.sharpness;
  settings.saturation = s.saturation;
  settings.softFlare = s.softFlare;
  return moduletest::SettingsDescriptor(settings);
}

// A registry entry holding `set` as the module stores it: 255 bytes.
DescriptorItems RegistryEntry(std::vector<uint8_t> set) {
  set.resize(255, 0);
  return {DescriptorItem::RawData(FourCC("PBlk"), set)};
}

class ScriptingAndStores : public ::testing::Test {
 protected:
  std::unique_ptr<Host> NewHost(HostOptions options = HostOptions()) {
    auto host = std::make_unique<Host>(moduletest::ModuleEntry(), options);
    HostImage image;
    EXPECT_TRUE(image.Allocate(32, 24, 3));
    host->SetImage(std::move(image));
    return host;
  }

  // After a run with Parameters the data byte says whether Start showed the
  // dialog: the dialog clears it, a run without one leaves it set.
  static bool DialogWasShown(const Host& host) { return host.DataByte() == 0; }

  static void ExpectClean(const Host& host) {
    EXPECT_EQ(host.OutstandingSuites(), 0);
    EXPECT_EQ(host.LiveActionDescriptors(), 0u);
    EXPECT_EQ(host.OpenDescriptorReaders(), 0u);
    EXPECT_EQ(host.OpenDescriptorWriters(), 0u);
  }
};

const char kIncomplete[] = "Incomplete Settings: The settings provided by the editor are incomplete.";

TEST_F(ScriptingAndStores, AllEightKeysAreAppliedAndThePlayModeDecidesTheDialog) {
  const Scripted s;
  for (int16_t mode : {plugInDialogDontDisplay, plugInDialogDisplay}) {
    SCOPED_TRACE("play mode " + std::to_string(mode));
    auto host = NewHost();
    host->SetScriptDescriptor(Recorded(s));
    host->SetPlayInfo(mode);
    moduletest::UserMessageCapture capture;
    ASSERT_EQ(host->RunFilter(true), 0);
    EXPECT_TRUE(capture.Stop().empty());
    EXPECT_EQ(host->ParametersBytes(), BytesOf(s));
    EXPECT_EQ(DialogWasShown(*host), mode == plugInDialogDisplay);
    EXPECT_EQ(host->ErrorStringText(), "");
    ExpectClean(*host);
  }
}

TEST_F(ScriptingAndStores, SevenKeysInSilentModeFillTheErrorStringAndUseFactoryForTheEighth) {
  Scripted s;
  DescriptorItems items = Recorded(s);
  items.erase(items.begin() + 3);  // no angle
  auto host = NewHost();
  host->SetScriptDescriptor(items);
  host->SetPlayInfo(plugInDialogSilent);
  // The host clears its error string at every call: look right after Start.
  moduletest::UserMessageCapture capture;
  ASSERT_EQ(host->CallParameters(), 0);
  ASSERT_EQ(host->CallPrepare(), 0);
  ASSERT_EQ(host->CallStart(), 0);
  EXPECT_EQ(moduletest::CountMessages(capture.Stop(), kIncomplete), 1);
  EXPECT_EQ(host->ErrorStringText().size(), 93u);
  EXPECT_EQ(host->ErrorStringText().rfind("The settings provided by the editor are incomplete.", 0), 0u);
  EXPECT_FALSE(DialogWasShown(*host));
  s.angle = 15;  // the factory angle
  EXPECT_EQ(host->ParametersBytes(), BytesOf(s));
  ASSERT_EQ(host->CallFinish(), 0);
  ExpectClean(*host);
}

TEST_F(ScriptingAndStores, AnUnknownKeyMakesTheDescriptorIncomplete) {
  DescriptorItems items = Recorded(Scripted());
  items.push_back(DescriptorItem::Integer(FourCC("zzzz"), 1));
  auto host = NewHost();
  host->SetScriptDescriptor(items);
  host->SetPlayInfo(plugInDialogDontDisplay);
  moduletest::UserMessageCapture capture;
  ASSERT_EQ(host->RunFilter(true), 0);
  EXPECT_EQ(moduletest::CountMessages(capture.Stop(), kIncomplete), 1);
  EXPECT_TRUE(DialogWasShown(*host)) << "incomplete settings are shown to the user";
  EXPECT_EQ(host->ParametersBytes(), BytesOf(Scripted())) << "the eight known keys still apply";
  ExpectClean(*host);
}

TEST_F(ScriptingAndStores, NumbersBeyondTheSixteenBitFieldsArePinnedNotWrapped) {
  // Recorded value -> stored value. Cutting to the low 16 bits would have
  // made 65542 points 6, an Intensity of 65536 0 and one of 40000 negative.
  struct Case {
    int32_t points;
    double intensity;
    int16_t storedPoints, storedIntensity;
  };
  const Case cases[] = {
      {65542, 65536.0, 32767, 32767},  {INT32_MAX, 40000.75, 32767, 32767},
      {-70000, -1e12, -32768, -32768}, {INT32_MIN, -32768.9, -32768, -32768},
      {32767, 32767.9, 32767, 32767},  // the field's own ends pass as they are
      {300, -250.5, 300, -250},        // out of the dialog's range, kept as given
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.points) + " points, intensity " + std::to_string(c.intensity));
    Scripted s;
    s.points = c.points;
    s.intensity = c.intensity;
    auto host = NewHost();
    host->SetScriptDescriptor(Recorded(s));
    moduletest::UserMessageCapture capture;
    ASSERT_EQ(host->RunFilter(true), 0);
    EXPECT_TRUE(capture.Stop().empty()) << "a pinned value is a value, not an incomplete descriptor";
    s.points = c.storedPoints;
    s.intensity = c.storedIntensity;
    EXPECT_EQ(host->ParametersBytes(), BytesOf(s));
  }
}

TEST_F(ScriptingAndStores, FinishRecordsTheSettingsAndStoresThemInTheRegistry) {
  const Scripted s;
  auto host = NewHost();
  host->SetScriptDescriptor(Recorded(s));
  ASSERT_EQ(host->RunFilter(true), 0);

  // The recording is the eight keys again, in the same form.
  DescriptorItems recorded;
  ASSERT_TRUE(host->GetScriptDescriptor(&recorded));
  EXPECT_EQ(recorded, Recorded(s));

  // The registry entry is persistent and holds the set, stamped, in 255 bytes.
  DescriptorItems entry;
  bool persistent = false;
  ASSERT_TRUE(host->GetRegistryEntry(kRegistryKey, &entry, &persistent));
  EXPECT_TRUE(persistent);
  EXPECT_EQ(entry, RegistryEntry(BytesOf(s)));
  ExpectClean(*host);
}

TEST_F(ScriptingAndStores, WithoutADescriptorTheRegistryDecidesTheSettings) {
  Scripted s;
  s.quantity = 5;
  auto host = NewHost();
  host->SetRegistryEntry(kRegistryKey, RegistryEntry(BytesOf(s)), true);
  ASSERT_EQ(host->RunFilter(false), 0);  // "repeat last filter" with nothing recorded
  EXPECT_EQ(host->ParametersBytes(), BytesOf(s));

  // A set of another version is not converted: the factory set is used.
  std::vector<uint8_t> old = BytesOf(s);
  old[6] = 4;  // version 0.0.0.4
  auto second = NewHost();
  second->SetRegistryEntry(kRegistryKey, RegistryEntry(old), true);
  ASSERT_EQ(second->RunFilter(false), 0);
  EXPECT_EQ(second->ParametersBytes(), kFactory);
  ExpectClean(*second);
}

TEST_F(ScriptingAndStores, HostsWithoutScriptingOrRegistryStillRun) {
  HostOptions poor;
  poor.offerDescriptorParameters = false;
  poor.offerDescriptorSuites = false;
  auto host = NewHost(poor);
  ASSERT_EQ(host->RunFilter(true), 0);
  EXPECT_TRUE(DialogWasShown(*host));
  ExpectClean(*host);

  HostOptions nullProcs;
  nullProcs.nullDescriptorProcs = true;
  auto other = NewHost(nullProcs);
  ASSERT_EQ(other->RunFilter(true), 0);
  ExpectClean(*other);
}

#if !defined(_WIN32)
// The last saved file lives in the user's settings folder, which only the
// native suite has to itself (under Wine all tests share one prefix).
TEST_F(ScriptingAndStores, FirstRunUsesFactorySettingsAndTheNextHostFindsTheLastSavedFile) {
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_NE(data, nullptr);
  const std::string path = std::string(data) + "/Brightwerk/Glimmark2/Settings/LastSavedParameters.sss";
  std::remove(path.c_str());

  HostOptions noRegistry;
  noRegistry.offerDescriptorSuites = false;
  auto first = NewHost(noRegistry);
  ASSERT_EQ(first->RunFilter(true), 0);
  EXPECT_EQ(first->ParametersBytes(), kFactory);

  // Finish saved the set the run ended with; a fresh host without a
  // registry (or with an empty one) starts from it.
  Scripted s;
  s.length = 1;
  auto second = NewHost(noRegistry);
  second->SetScriptDescriptor(Recorded(s));
  ASSERT_EQ(second->RunFilter(true), 0);
  std::ifstream file(path, std::ios::binary);
  const std::vector<uint8_t> saved((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<uint8_t> expected = BytesOf(s);
  expected.resize(255, 0);
  EXPECT_EQ(saved, expected);

  auto third = NewHost();  // registry suites offered, but nothing stored yet
  ASSERT_EQ(third->RunFilter(false), 0);
  EXPECT_EQ(third->ParametersBytes(), BytesOf(s));
}
#endif

}  // namespace
