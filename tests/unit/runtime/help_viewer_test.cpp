// Context help: which page each control opens and what a request reports.
// Nothing is displayed: natively there is no viewer, and under Wine the
// viewer program is pointed at a path that does not exist.
#include "runtime/help_viewer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "../test_hooks_support.h"
#include "log_test_support.h"
#include "runtime/user_folders.h"

namespace {

class HelpViewerTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    DebugLogTest::SetUp();
#if defined(_WIN32)
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HELP_VIEWER, "C:\\no-such-folder\\viewer.exe");
#else
    setenv("XDG_DATA_HOME", (folder_ / "data").string().c_str(), 1);
    setenv("XDG_DATA_DIRS", "/opt/glimmark-test", 1);
#endif
    ResetUserDataFoldersForTesting();
  }
  void TearDown() override {
    CloseHelpViewer();
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HELP_VIEWER, nullptr);
    ResetUserDataFoldersForTesting();
    DebugLogTest::TearDown();
  }
  // The part of the command line after the viewer program.
  static std::string Document() {
    std::string line = LastHelpCommandLineForTesting();
    size_t at = line.find("\" ms-its:");
    return at == std::string::npos ? "(no document in " + line + ")" : line.substr(at + 9);
  }
};

TEST_F(HelpViewerTest, TopicTableIsConsistent) {
  size_t count = 0;
  const HelpTopic* table = HelpTopicTable(&count);
  ASSERT_GT(count, 0u);
  std::set<uint32_t> ids;
  for (size_t i = 0; i < count; ++i) {
    EXPECT_TRUE(ids.insert(table[i].id).second) << "id " << table[i].id << " twice";
    EXPECT_EQ(table[i].mode, HELP_SHOW_TOPIC);
    std::string page = table[i].page != nullptr ? table[i].page : "";
    EXPECT_GT(page.size(), 4u);
    EXPECT_EQ(page.substr(page.size() - 4), ".htm") << page;
  }
  // The whole context menu range belongs to one page.
  for (uint32_t id = 40001; id <= 40020; ++id) EXPECT_EQ(ids.count(id), 1u) << id;
  EXPECT_EQ(ids.count(40021), 0u);
}

TEST_F(HelpViewerTest, ControlsOpenTheirPageAndUnknownIdsTheWholeFile) {
  ASSERT_TRUE(InitializeUserDataFolders());
  InitializeHelpViewer();
  char product[USER_FOLDER_PATH_CHARS];
  ASSERT_TRUE(GetProductDataFolder(product, sizeof product));
  const std::string helpFile = HelpFilePathForTesting();
#if defined(_WIN32)
  EXPECT_EQ(helpFile, std::string(product) + "\\Glimmark 2.chm");
#else
  EXPECT_EQ(helpFile, "/opt/glimmark-test/BrightwerkSoftware/Glimmark 2/Glimmark 2.chm");
#endif

  OpenLog(LOGMODE_IMMEDIATE);
  const std::pair<uint32_t, const char*> cases[] = {
      {1004, "IntensityControl.htm"}, {1005, "IntensityControl.htm"}, {1, "MainDialog.htm"},
      {1151, "ConfigureButton.htm"},  {40001, "ViewportContextMenu.htm"}, {40020, "ViewportContextMenu.htm"},
      {40097, "SaveLoadControl.htm"}, {1022, "SpikeSharpnessControl.htm"}};
  for (const auto& [id, page] : cases) {
    DisplayHTMLControlHelp(id);
    EXPECT_EQ(Document(), helpFile + "::/" + page) << id;
  }
  for (uint32_t id : {0u, 40021u, 0xFFFFFFFFu}) {
    DisplayHTMLControlHelp(id);
    EXPECT_EQ(Document(), helpFile) << id;
  }
  std::string text = CloseAndRead();
#if defined(_WIN32)
  EXPECT_NE(text.find("DisplayHelpInViewer() failed to spawn HTML Help Viewer command line '\"C:\\no-such-folder"),
            std::string::npos)
      << text;
#else
  EXPECT_NE(text.find("Help is not available in this build"), std::string::npos) << text;
#endif
}

TEST_F(HelpViewerTest, WithoutFoldersRequestsAreReportedNotSent) {
  OpenLog(LOGMODE_IMMEDIATE);
  InitializeHelpViewer();
  DisplayHTMLControlHelp(1004);
  DisplayHTMLControlHelp(12345);
  DisplayHelpInViewer(nullptr);
  std::string text = CloseAndRead();
  EXPECT_NE(text.find("InitializeHelpViewer() Could not get the help file directory."), std::string::npos);
  EXPECT_NE(text.find("DisplayHelpUsingURL() Could not build a document path for URL "
                      "'IntensityControl.htm'."),
            std::string::npos);
  EXPECT_NE(text.find("DisplayHelpInViewer() Could not build a command line for the HTML Help Viewer."),
            std::string::npos);
  EXPECT_EQ(HelpViewerProcessIdForTesting(), 0u);
}

}  // namespace
