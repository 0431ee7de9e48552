// The Windows side of the platform seam, run under Wine in CI.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/platform.h"

namespace {

TEST(PlatformWin32, FoldersAndFolderTrees) {
  std::string appData;
  ASSERT_TRUE(PlatformLocalAppDataFolder(&appData));
  EXPECT_GT(appData.size(), 3u);
  EXPECT_NE(appData.back(), '\\');
  EXPECT_EQ(PlatformPathSeparator(), '\\');

  std::filesystem::path base = std::filesystem::temp_directory_path() / "glimmark-tree-test";
  std::error_code ignored;
  std::filesystem::remove_all(base, ignored);
  std::string nested = base.string() + "\\a\\b\\c";
  EXPECT_TRUE(PlatformCreateFolderTree(nested));
  EXPECT_TRUE(PlatformCreateFolderTree(nested));  // already there
  EXPECT_TRUE(std::filesystem::is_directory(nested));
  std::ofstream(base / "file") << "x";
  EXPECT_FALSE(PlatformCreateFolderTree(base.string() + "\\file"));
  EXPECT_FALSE(PlatformCreateFolderTree(""));
  std::filesystem::remove_all(base, ignored);
}

TEST(PlatformWin32, ErrorsThreadsAndWindows) {
  std::string text = PlatformSystemErrorText(2);  // file not found
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(PlatformSystemErrorText(0x7FFFFF00u), "");
  PlatformSetLastError(5);
  EXPECT_EQ(PlatformGetLastError(), 5u);
  EXPECT_NE(PlatformCurrentThreadId(), 0u);
  EXPECT_NE(PlatformModuleHandle(), nullptr);
  EXPECT_FALSE(PlatformIsWindow(nullptr));
  EXPECT_TRUE(PlatformInitializeCom());
  PlatformUninitializeCom();
}

}  // namespace
