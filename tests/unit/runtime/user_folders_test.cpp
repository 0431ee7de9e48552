// The user data folders and the settings files, on every platform. Natively
// each test gets its own XDG folders; under Wine the suite's prefix serves.
#include "runtime/user_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../test_hooks_support.h"
#include "log_test_support.h"
#include "runtime/folders.h"

namespace {

namespace fs = std::filesystem;

class UserFoldersTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    DebugLogTest::SetUp();
#if !defined(_WIN32)
    setenv("XDG_DATA_HOME", (folder_ / "data").string().c_str(), 1);
    setenv("XDG_DATA_DIRS", (folder_ / "common").string().c_str(), 1);
#endif
    ResetUserDataFoldersForTesting();
    // Each test has its own file name: parallel runs share one Wine prefix.
    name_ = std::string("folder-test-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
  }

  void TearDown() override {
    if (IsFileSystemInitialized()) {
      std::error_code ignored;
      fs::remove(SettingsFolder() / name_, ignored);
    }
    ResetUserDataFoldersForTesting();
    DebugLogTest::TearDown();
  }

  static std::string Folder(bool (*getter)(char*, size_t)) {
    char buffer[USER_FOLDER_PATH_CHARS] = {0};
    EXPECT_TRUE(getter(buffer, sizeof buffer));
    return buffer;
  }

  static fs::path SettingsFolder() { return Folder(GetUserDataFolder); }

  std::string ReadBack() {
    char buffer[64] = {0};
    if (!ReadSettingsFile(name_.c_str(), buffer, sizeof buffer - 1)) return "(failed)";
    return buffer;
  }

  bool Write(const std::string& text) { return WriteSettingsFile(name_.c_str(), text.data(), text.size()); }

  std::string name_;
};

TEST_F(UserFoldersTest, FoldersAreBuiltAndAnExistingSetIsAcceptedQuietly) {
  OpenLog(LOGMODE_IMMEDIATE);
  // Before initialisation every getter fails, and says so.
  char buffer[USER_FOLDER_PATH_CHARS];
  EXPECT_FALSE(IsFileSystemInitialized());
  EXPECT_FALSE(GetUserDataFolder(buffer, sizeof buffer));
  EXPECT_FALSE(GetProductDataFolder(buffer, sizeof buffer));
  std::string before = CloseAndRead();
  EXPECT_NE(before.find("File system not initialized - the Settings Directory folder"), std::string::npos);
  EXPECT_NE(before.find("File system not initialized - the Product Data Directory folder"), std::string::npos);

  OpenLog(LOGMODE_IMMEDIATE);
  ASSERT_TRUE(InitializeUserDataFolders());
  ASSERT_TRUE(InitializeUserDataFolders());  // everything exists now
  std::string text = CloseAndRead();
  EXPECT_EQ(text.find("Debug Message"), std::string::npos) << text;

  const char sep = fs::path::preferred_separator == L'\\' ? '\\' : '/';
  const std::string base = std::string("Brightwerk") + sep + "Glimmark2" + sep;
  const std::pair<bool (*)(char*, size_t), const char*> users[] = {
      {GetUserDataFolder, "Settings"}, {GetUserParametersFolder, "Parameters"}, {GetDebugLogFolder, "Logs"}};
  for (const auto& [getter, last] : users) {
    std::string path = Folder(getter);
    EXPECT_TRUE(fs::is_directory(path)) << path;
    const std::string tail = base + last;
    ASSERT_GE(path.size(), tail.size());
    EXPECT_EQ(path.substr(path.size() - tail.size()), tail);
  }
  std::string common = Folder(GetCommonDataFolder);
  EXPECT_EQ(common.substr(common.size() - 19), sep + std::string("BrightwerkSoftware"));
  EXPECT_EQ(Folder(GetProductDataFolder), common + sep + "Glimmark 2");

  // The log takes the same folder; a test override still wins.
  std::string log;
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, nullptr);
  EXPECT_TRUE(GetDebugLogFolder(&log));
  EXPECT_EQ(log, Folder(GetDebugLogFolder));
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, folder_.string().c_str());

  // A buffer too small for the path is refused, with the path named.
  OpenLog(LOGMODE_IMMEDIATE);
  char tiny[4];
  EXPECT_FALSE(GetUserParametersFolder(tiny, sizeof tiny));
  EXPECT_FALSE(GetUserDataFolder(nullptr, USER_FOLDER_PATH_CHARS));
  text = CloseAndRead();
  EXPECT_NE(text.find("_tcscpy_s() failed with Parameters Directory = '"), std::string::npos);
  EXPECT_NE(text.find("_tcscpy_s() failed with Settings Directory = '"), std::string::npos);
}

TEST_F(UserFoldersTest, SettingsFileSurvivesACrashBeforeTheReplacement) {
  ASSERT_TRUE(InitializeUserDataFolders());
  ASSERT_TRUE(Write("first"));
  EXPECT_EQ(ReadBack(), "first");

  // The process "dies" once the temporary is complete: the old file is whole.
  testhooks::Hooks().stopSettingsWriteBeforeReplace = true;
  EXPECT_FALSE(Write("second, longer than the first"));
  testhooks::Hooks().stopSettingsWriteBeforeReplace = false;
  EXPECT_EQ(ReadBack(), "first");
  int temporaries = 0;
  for (const auto& entry : fs::directory_iterator(SettingsFolder()))
    if (entry.path().filename().string().rfind(name_, 0) == 0 && entry.path().extension() == ".tmp") ++temporaries;
  EXPECT_EQ(temporaries, 1);

  // The next save goes through and leaves no temporary behind.
  ASSERT_TRUE(Write("third"));
  EXPECT_EQ(ReadBack(), "third");
  temporaries = 0;
  for (const auto& entry : fs::directory_iterator(SettingsFolder()))
    if (entry.path().filename().string().rfind(name_, 0) == 0 && entry.path().extension() == ".tmp") ++temporaries;
  EXPECT_EQ(temporaries, 0);
}

TEST_F(UserFoldersTest, FailedReplacementRemovesTheTemporary) {
  ASSERT_TRUE(InitializeUserDataFolders());
  // A folder in the way of the file cannot be replaced by it.
  fs::create_directory(SettingsFolder() / name_);
  OpenLog(LOGMODE_IMMEDIATE);
  EXPECT_FALSE(Write("data"));
  std::string text = CloseAndRead();
  EXPECT_NE(text.find("failed to replace"), std::string::npos) << text;
  EXPECT_TRUE(fs::is_directory(SettingsFolder() / name_));
  for (const auto& entry : fs::directory_iterator(SettingsFolder()))
    EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
  fs::remove(SettingsFolder() / name_);
}

TEST_F(UserFoldersTest, ReadsAndWritesRefuseBadRequests) {
  char buffer[16];
  // Without folders nothing is touched and nothing is said.
  OpenLog(LOGMODE_IMMEDIATE);
  EXPECT_FALSE(ReadSettingsFile(name_.c_str(), buffer, sizeof buffer));
  EXPECT_FALSE(WriteSettingsFile(name_.c_str(), "x", 1));
  std::string text = CloseAndRead();
  EXPECT_EQ(text.find("Debug Message"), std::string::npos) << text;

  ASSERT_TRUE(InitializeUserDataFolders());
  OpenLog(LOGMODE_IMMEDIATE);
  EXPECT_FALSE(ReadSettingsFile(name_.c_str(), buffer, sizeof buffer));  // not written yet
  EXPECT_FALSE(ReadSettingsFile(name_.c_str(), nullptr, 4));
  EXPECT_FALSE(WriteSettingsFile(name_.c_str(), nullptr, 4));
  for (const char* name : {"", "../escape.bin", "sub/file.bin", "sub\\file.bin", "C:file.bin", ".."})
    EXPECT_FALSE(WriteSettingsFile(name, "x", 1)) << name;
  EXPECT_FALSE(WriteSettingsFile(nullptr, "x", 1));
  std::ofstream(SettingsFolder() / name_, std::ios::binary).flush();  // empty file
  EXPECT_FALSE(ReadSettingsFile(name_.c_str(), buffer, sizeof buffer));
  text = CloseAndRead();
  EXPECT_TRUE(logtest::Matches("*Trace Message: UI settings file '*folder-test-*' does not yet exist. *", text.c_str()))
      << text;
  EXPECT_NE(text.find("was given no buffer"), std::string::npos);
  EXPECT_NE(text.find("was given no data"), std::string::npos);
  EXPECT_NE(text.find("Settings file name '../escape.bin' is not a plain file name."), std::string::npos);
  EXPECT_NE(text.find("Settings file name '(null)' is not a plain file name."), std::string::npos);
  EXPECT_NE(text.find("fread() failed to read file '"), std::string::npos);
  EXPECT_FALSE(fs::exists(SettingsFolder().parent_path() / "escape.bin"));
}

}  // namespace
