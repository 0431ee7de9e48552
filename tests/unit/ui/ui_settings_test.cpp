// "UISettings.bin": its 52 bytes, and every way a file can be wrong leaving
// the defaults (a tool or Preview value out of range only that field's).
#include "ui/ui_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/user_folders.h"

namespace {

namespace fs = std::filesystem;

bool Same(const UISettings& a, const UISettings& b) {
  return a.windowRect.left == b.windowRect.left && a.windowRect.top == b.windowRect.top &&
         a.windowRect.right == b.windowRect.right && a.windowRect.bottom == b.windowRect.bottom && a.tool == b.tool &&
         a.preview == b.preview;
}

TEST(UISettingsFile, TheRecordIsFiftyTwoLittleEndianBytes) {
  UISettings s;
  s.windowRect = ImageRect{-1200, 40, 300, 1000};
  s.tool = TOOL_HIDE_EFFECTS;
  s.preview = 0;
  uint8_t bytes[UI_SETTINGS_BYTES];
  EncodeUISettings(s, bytes);
  const uint8_t head[] = {0, 0, 0, 0, 0, 0, 11, 0, 0x50, 0xFB, 0xFF, 0xFF, 40, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof head), std::vector<uint8_t>(head, head + sizeof head));
  EXPECT_EQ(bytes[24], TOOL_HIDE_EFFECTS);
  UISettings back;
  ASSERT_TRUE(DecodeUISettings(bytes, sizeof bytes, &back));
  EXPECT_TRUE(Same(back, s));

  struct Case {
    const char* what;
    size_t at;
    uint8_t value;
    size_t size;
    bool read;
  } const cases[] = {{"short", 0, 0, 30, false},        {"another version", 6, 10, 52, false},
                     {"reserved bytes set", 40, 1, 52, false}, {"a tool no dialog has", 24, 9, 52, true},
                     {"Preview neither on nor off", 28, 7, 52, true}};
  for (const Case& c : cases) {
    uint8_t damaged[UI_SETTINGS_BYTES];
    EncodeUISettings(s, damaged);
    damaged[c.at] = c.value;
    UISettings got;
    EXPECT_EQ(DecodeUISettings(damaged, c.size, &got), c.read) << c.what;
    if (!c.read) {
      EXPECT_TRUE(Same(got, UISettings{})) << c.what << ": the defaults";
    }
  }
  UISettings got;
  uint8_t odd[UI_SETTINGS_BYTES];
  EncodeUISettings(s, odd);
  odd[24] = 9;
  odd[28] = 7;
  ASSERT_TRUE(DecodeUISettings(odd, sizeof odd, &got));
  EXPECT_EQ(got.tool, TOOL_ZOOM);
  EXPECT_EQ(got.preview, 1);
  EXPECT_EQ(got.windowRect.left, -1200) << "the rest is kept";
}

TEST(UISettingsFile, SavedSettingsComeBackAndWrongFilesGiveTheDefaults) {
  ASSERT_TRUE(InitializeUserDataFolders());
  char folder[USER_FOLDER_PATH_CHARS] = {0};
  ASSERT_TRUE(GetUserDataFolder(folder, sizeof folder));
  const std::string name = "ui-settings-test.bin";
  const fs::path path = fs::path(folder) / name;
  UISettings s;
  s.windowRect = ImageRect{10, 20, 810, 620};
  s.tool = TOOL_HAND;
  ASSERT_TRUE(SaveUISettings(s, name.c_str()));
  EXPECT_EQ(fs::file_size(path), UI_SETTINGS_BYTES);
  UISettings back;
  ASSERT_TRUE(LoadUISettings(&back, name.c_str()));
  EXPECT_TRUE(Same(back, s));
  for (size_t size : {size_t{10}, size_t{60}}) {
    {
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      const std::vector<char> zeros(size, 0);
      file.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    EXPECT_FALSE(LoadUISettings(&back, name.c_str())) << size << " bytes";
    EXPECT_TRUE(Same(back, UISettings{}));
  }
  fs::remove(path);
  EXPECT_FALSE(LoadUISettings(&back, name.c_str())) << "no file yet";
  EXPECT_TRUE(Same(back, UISettings{}));
}

}  // namespace
