// The machine-wide store of the drawing mode: a fresh machine, round trips,
// values no version writes, and a user who may read but not write it.
#include <gtest/gtest.h>

#include <string>

#include "../runtime/log_test_support.h"
#include "gl/drawing_settings.h"
#include "platform/platform.h"
#include "settings_store_support.h"

namespace {

class SettingsStoreTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    logtest::DebugLogTest::SetUp();
    storetest::UsePrivateStore();
    storetest::RemoveStore();
  }
  void TearDown() override {
    testhooks::Hooks().machineSettingsReadOnly = false;
    storetest::RemoveStore();
    logtest::DebugLogTest::TearDown();
  }

  static void WriteRawNumber(const char* name, uint32_t value) {
    MachineSettingsKey* key = nullptr;
    ASSERT_EQ(PlatformOpenMachineSettings(OPENGL_SETTINGS_KEY, true, &key, nullptr), 0u);
    EXPECT_EQ(PlatformWriteMachineNumber(key, name, value), 0u);
    PlatformCloseMachineSettings(key);
  }
};

TEST_F(SettingsStoreTest, AFreshMachineHasNoModeUntilOneIsWrittenAndReadBack) {
  OpenLog(LOGMODE_IMMEDIATE);
  OpenGLSettings settings{"stale", 3, 3, false};
  ASSERT_TRUE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);
  EXPECT_EQ(settings.installedProductVersion, "");
  // The key exists now but holds no values: still undecided.
  ASSERT_TRUE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);

  settings.drawingMode = OPTIMIZE_FOR_SPEED;
  settings.installedProductVersion = "2.0.0.1";
  ASSERT_TRUE(WriteOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.storedDrawingMode, OPTIMIZE_FOR_SPEED);
  OpenGLSettings again{};
  ASSERT_TRUE(ReadOpenGLRegistryData(&again));
  EXPECT_EQ(again.drawingMode, OPTIMIZE_FOR_SPEED);
  EXPECT_EQ(again.storedDrawingMode, OPTIMIZE_FOR_SPEED);
  EXPECT_EQ(again.installedProductVersion, "2.0.0.1");
  EXPECT_FALSE(again.readOnly);
  EXPECT_EQ(CloseAndRead().find("Error"), std::string::npos);
}

TEST_F(SettingsStoreTest, ValuesNoVersionWritesAreNotModes) {
  OpenLog(LOGMODE_IMMEDIATE);
  WriteRawNumber("OpenGLOptimizationSetting", 7);
  OpenGLSettings settings{};
  ASSERT_TRUE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);
  EXPECT_EQ(settings.storedDrawingMode, 7);

  // A text where the number belongs is a damaged store: reported, mode 0.
  MachineSettingsKey* key = nullptr;
  ASSERT_EQ(PlatformOpenMachineSettings(OPENGL_SETTINGS_KEY, true, &key, nullptr), 0u);
  EXPECT_EQ(PlatformWriteMachineText(key, "OpenGLOptimizationSetting", "1"), 0u);
  PlatformCloseMachineSettings(key);
  EXPECT_FALSE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);
  EXPECT_NE(CloseAndRead().find("Could not read the m_OpenGLDrawingMode registry key. Error = "), std::string::npos);
}

TEST_F(SettingsStoreTest, AUserWithoutWriteAccessReadsTheStoreAndIsToldOnceThatWritesFail) {
  OpenLog(LOGMODE_IMMEDIATE);
  WriteRawNumber("OpenGLOptimizationSetting", OPTIMIZE_FOR_COMPATIBILITY);
  testhooks::Hooks().machineSettingsReadOnly = true;
  BeginOpenGLSettingsRun();
  OpenGLSettings settings{};
  ASSERT_TRUE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_FOR_COMPATIBILITY);
  EXPECT_TRUE(settings.readOnly);
  settings.drawingMode = OPTIMIZE_FOR_QUALITY;
  EXPECT_FALSE(WriteOpenGLRegistryData(&settings));
  settings.readOnly = false;  // a caller that tries again anyway
  EXPECT_FALSE(WriteOpenGLRegistryData(&settings));
  EXPECT_TRUE(settings.readOnly);

  testhooks::Hooks().machineSettingsReadOnly = false;
  OpenGLSettings stored{};
  ASSERT_TRUE(ReadOpenGLRegistryData(&stored));
  EXPECT_EQ(stored.drawingMode, OPTIMIZE_FOR_COMPATIBILITY);
  const std::string log = CloseAndRead();
  const std::string note = "cannot be stored for all users of this computer (access denied)";
  size_t first = log.find(note);
  ASSERT_NE(first, std::string::npos) << log;
  EXPECT_EQ(log.find(note, first + 1), std::string::npos) << "noted twice in one run";
}

TEST_F(SettingsStoreTest, AReadOnlyUserOnAFreshMachineStartsUndecided) {
  testhooks::Hooks().machineSettingsReadOnly = true;
  OpenGLSettings settings{"x", 2, 2, false};
  ASSERT_TRUE(ReadOpenGLRegistryData(&settings));
  EXPECT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);
  EXPECT_TRUE(settings.readOnly);
  EXPECT_EQ(settings.installedProductVersion, "");
}

}  // namespace
