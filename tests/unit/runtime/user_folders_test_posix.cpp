// The native user data folders: where XDG puts them and what happens when
// they cannot be made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>
#include <vector>
#include <string>

#include "log_test_support.h"
#include "runtime/user_folders.h"

namespace {

namespace fs = std::filesystem;

class NativeFoldersTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    DebugLogTest::SetUp();
    for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "HOME"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    ResetUserDataFoldersForTesting();
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value) setenv(name.c_str(), value->c_str(), 1); else unsetenv(name.c_str());
    }
    ResetUserDataFoldersForTesting();
    DebugLogTest::TearDown();
  }
  static std::string Common() {
    char buffer[USER_FOLDER_PATH_CHARS] = {0};
    EXPECT_TRUE(GetCommonDataFolder(buffer, sizeof buffer));
    return buffer;
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST_F(NativeFoldersTest, UserFoldersAreCreatedOnFirstUseUnderXdgDataHome) {
  const fs::path data = folder_ / "fresh" / "share";
  setenv("XDG_DATA_HOME", data.string().c_str(), 1);
  ASSERT_FALSE(fs::exists(data));
  ASSERT_TRUE(InitializeUserDataFolders());
  for (const char* last : {"Settings", "Parameters", "Logs"})
    EXPECT_TRUE(fs::is_directory(data / "Brightwerk" / "Glimmark2" / last)) << last;
  // Only the user's folders are made; the shared one is merely named.
  EXPECT_FALSE(fs::exists(fs::path(Common())));
}

TEST_F(NativeFoldersTest, CommonDataIsTheFirstAbsoluteXdgDataDir) {
  setenv("XDG_DATA_HOME", (folder_ / "data").string().c_str(), 1);
  setenv("XDG_DATA_DIRS", "relative/share:/opt/shared/:/usr/share", 1);
  ASSERT_TRUE(InitializeUserDataFolders());
  EXPECT_EQ(Common(), "/opt/shared/BrightwerkSoftware");
  unsetenv("XDG_DATA_DIRS");
  ASSERT_TRUE(InitializeUserDataFolders());
  EXPECT_EQ(Common(), "/usr/local/share/BrightwerkSoftware");
}

TEST_F(NativeFoldersTest, FailuresLeaveTheFileSystemFlagClear) {
  OpenLog(LOGMODE_IMMEDIATE);
  // No usable home at all.
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "relative", 1);
  EXPECT_FALSE(InitializeUserDataFolders());
  EXPECT_FALSE(IsFileSystemInitialized());

  // A file where the Settings folder belongs.
  const fs::path data = folder_ / "blocked";
  fs::create_directories(data / "Brightwerk" / "Glimmark2");
  std::ofstream(data / "Brightwerk" / "Glimmark2" / "Settings") << "in the way";
  setenv("XDG_DATA_HOME", data.string().c_str(), 1);
  EXPECT_FALSE(InitializeUserDataFolders());
  EXPECT_TRUE(fs::is_directory(data / "Brightwerk" / "Glimmark2" / "Logs"));  // the others are still made

  // A data folder so deep that the paths would not fit a caller's buffer.
  std::string deep = folder_.string();
  while (deep.size() < 975) deep += "/" + std::string(std::min<size_t>(200, 975 - deep.size()), 'd');
  setenv("XDG_DATA_HOME", deep.c_str(), 1);
  EXPECT_FALSE(InitializeUserDataFolders());
  char buffer[USER_FOLDER_PATH_CHARS];
  EXPECT_FALSE(GetDebugLogFolder(buffer, sizeof buffer));
  std::string text = CloseAndRead();
  EXPECT_NE(text.find("GetUserDataFolder() failed."), std::string::npos);
  EXPECT_NE(text.find("MakeUserDataFolder() failed with Settings Subdirectory = '" + data.string() +
                      "/Brightwerk/Glimmark2/Settings'"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("_stprintf_s() failed with RootDirPath = '" + deep + "'"), std::string::npos);
  EXPECT_EQ(text.find("MakeUserDataFolder() failed with Parameters"), std::string::npos);
}

}  // namespace
