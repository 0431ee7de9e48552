// Native-only behaviour: UTF-8 report texts, user messages on standard error
// and the XDG log folder.
#include <cstdlib>
#include <thread>

#include "../test_hooks_support.h"
#include "log_test_support.h"
#include "platform/platform.h"
#include "runtime/user_folders.h"

namespace {

using logtest::DebugLogTest;

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

TEST_F(DebugLogTest, Utf8TextBecomesUtf16) {
  OpenLog(LOGMODE_IMMEDIATE);
  // Two-, three- and four-byte sequences; the last needs a surrogate pair.
  REPORT_TRACE("Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E");
  REPORT_TRACE("bad \xFF byte");
  CloseDebugLog();
  std::string bytes = logtest::ReadFileBytes(LogFile(0));
  // The euro sign as one little-endian unit, the clef as a surrogate pair.
  EXPECT_TRUE(Contains(bytes, std::string("\xAC\x20", 2)));
  EXPECT_TRUE(Contains(bytes, std::string("\x34\xD8\x1E\xDD", 4)));
  std::string text = logtest::DecodeUtf16Le(bytes.substr(2));
  EXPECT_TRUE(Contains(text, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9D\x84\x9E\n"));
  EXPECT_TRUE(Contains(text, "bad \xEF\xBF\xBD byte"));  // U+FFFD
}

TEST_F(DebugLogTest, UserMessagesGoToStandardErrorOnlyFromTheUiThread) {
  OpenLog(LOGMODE_IMMEDIATE);
  ::testing::internal::CaptureStderr();
  ShowPendingUserMessages();  // what earlier tests' workers left
  ::testing::internal::GetCapturedStderr();
  const uint32_t errorsBefore = UserErrorMessageCount();
  ::testing::internal::CaptureStderr();
  REPORT_USER(STYLE_INFORMATION, "Hello", "from the %s thread", "UI");
  std::thread([] {
    REPORT_USER(STYLE_ERROR, "Hello", "from a worker");
    REPORT_USER(STYLE_ERROR, "Hello", "from a worker");
    ShowPendingUserMessages();  // not the UI thread: shows nothing
  }).join();
  std::string shown = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(shown, "Hello: from the UI thread\n");
  // The worker's message waits for the UI thread, which shows it once.
  ::testing::internal::CaptureStderr();
  ShowPendingUserMessages();
  ShowPendingUserMessages();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Hello: from a worker\n");
  EXPECT_EQ(UserErrorMessageCount(), errorsBefore + 2);
  std::string text = CloseAndRead();
  EXPECT_TRUE(Contains(text, "User Message: 'Hello' - 'from the UI thread'"));
  EXPECT_TRUE(Contains(text, "User Message: 'Hello' - 'from a worker'"));
}

TEST(PlatformPosix, LogFolderFollowsXdgDataHome) {
  std::filesystem::path base = std::filesystem::temp_directory_path() / "glimmark-xdg-test";
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  const char* oldXdg = std::getenv("XDG_DATA_HOME");
  std::string saved = oldXdg != nullptr ? oldXdg : "";
  setenv("XDG_DATA_HOME", (base.string() + "/").c_str(), 1);
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_DEBUG_LOG_FOLDER, nullptr);

  std::string folder;
  EXPECT_FALSE(GetDebugLogFolder(&folder));  // no folders before initialisation
  EXPECT_TRUE(InitializeUserDataFolders());
  EXPECT_TRUE(GetDebugLogFolder(&folder));
  EXPECT_EQ(folder, base.string() + "/Brightwerk/Glimmark2/Logs");
  EXPECT_TRUE(std::filesystem::is_directory(folder));

  // A relative XDG_DATA_HOME is ignored in favour of HOME.
  const char* oldHome = std::getenv("HOME");
  std::string savedHome = oldHome != nullptr ? oldHome : "";
  setenv("XDG_DATA_HOME", "relative/path", 1);
  setenv("HOME", base.string().c_str(), 1);
  std::string appData;
  EXPECT_TRUE(PlatformLocalAppDataFolder(&appData));
  EXPECT_EQ(appData, base.string() + "/.local/share");

  setenv("HOME", savedHome.c_str(), 1);
  if (oldXdg != nullptr) setenv("XDG_DATA_HOME", saved.c_str(), 1); else unsetenv("XDG_DATA_HOME");
  ResetUserDataFoldersForTesting();
  std::filesystem::remove_all(base, ignored);
}

TEST(PlatformPosix, FolderTreeCreationAndErrorTexts) {
  std::filesystem::path base = std::filesystem::temp_directory_path() / "glimmark-tree-test";
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  EXPECT_TRUE(PlatformCreateFolderTree((base / "a" / "b" / "c").string()));
  EXPECT_TRUE(PlatformCreateFolderTree((base / "a" / "b" / "c").string()));  // already there
  std::ofstream(base / "file") << "x";
  EXPECT_FALSE(PlatformCreateFolderTree((base / "file" / "sub").string()));
  EXPECT_FALSE(PlatformCreateFolderTree(""));
  std::filesystem::remove_all(base, ignored);

  EXPECT_EQ(PlatformSystemErrorText(ENOENT), "No such file or directory");
  EXPECT_EQ(PlatformSystemErrorText(987654), "");
  EXPECT_NE(PlatformModuleHandle(), nullptr);
  EXPECT_FALSE(PlatformIsWindow(nullptr));
  EXPECT_NE(PlatformCurrentThreadId(), 0u);
}

}  // namespace
