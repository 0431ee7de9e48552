// One help viewer per process, checked with real child processes. The
// system's viewer cannot be driven under Wine (it has no HTML engine there),
// so this test program stands in for it: started with the variable below set,
// it only waits for a quit message, then exits with code 0 (2 when none came).
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "../test_hooks_support.h"
#include "runtime/help_viewer.h"
#include "runtime/user_folders.h"

namespace {

const char* const VIEWER_VARIABLE = "GLIMMARK_FAKE_HELP_VIEWER";

// Runs before main in the child; the test run itself passes straight through.
struct FakeViewer {
  FakeViewer() {
    char eventName[128];
    DWORD length = GetEnvironmentVariableA(VIEWER_VARIABLE, eventName, sizeof eventName);
    if (length == 0 || length >= sizeof eventName) return;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists from here on
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, eventName);
    if (ready != nullptr) {
      SetEvent(ready);
      CloseHandle(ready);
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) ExitProcess(0);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 500, QS_ALLINPUT);
    }
    ExitProcess(2);
  }
};
const FakeViewer fakeViewer;

class HelpViewerProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char self[MAX_PATH] = {0};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, sizeof self), 0u);
    eventName_ = "GlimmarkFakeViewerReady" + std::to_string(GetCurrentProcessId());
    ready_ = CreateEventA(nullptr, FALSE, FALSE, eventName_.c_str());
    ASSERT_NE(ready_, nullptr);
    SetEnvironmentVariableA(VIEWER_VARIABLE, eventName_.c_str());
    ASSERT_TRUE(InitializeUserDataFolders());
    InitializeHelpViewer();
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HELP_VIEWER, self);
  }
  void TearDown() override {
    CloseHelpViewer();
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HELP_VIEWER, nullptr);
    SetEnvironmentVariableA(VIEWER_VARIABLE, nullptr);
    ResetUserDataFoldersForTesting();
    if (ready_ != nullptr) CloseHandle(ready_);
  }
  // Asks for help and returns a handle to the viewer that started.
  HANDLE Request(uint32_t id) {
    DisplayHTMLControlHelp(id);
    DWORD pid = HelpViewerProcessIdForTesting();
    EXPECT_NE(pid, 0u);
    EXPECT_EQ(WaitForSingleObject(ready_, 20000), WAIT_OBJECT_0) << "viewer did not start";
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  }
  static DWORD ExitCodeAfterWait(HANDLE process) {
    DWORD code = 99;
    if (WaitForSingleObject(process, 20000) != WAIT_OBJECT_0) return 98;
    GetExitCodeProcess(process, &code);
    return code;
  }
  std::string eventName_;
  HANDLE ready_ = nullptr;
};

TEST_F(HelpViewerProcessTest, ANewRequestReplacesTheViewerAndShutdownEndsIt) {
  HANDLE first = Request(1004);
  ASSERT_NE(first, nullptr);
  EXPECT_NE(LastHelpCommandLineForTesting().find(" ms-its:"), std::string::npos);
  EXPECT_EQ(WaitForSingleObject(first, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  HANDLE second = Request(1006);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(ExitCodeAfterWait(first), 0u);  // asked to quit, and it did
  EXPECT_EQ(WaitForSingleObject(second, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  CloseHelpViewer();
  EXPECT_EQ(ExitCodeAfterWait(second), 0u);
  EXPECT_EQ(HelpViewerProcessIdForTesting(), 0u);
  CloseHandle(first);
  CloseHandle(second);
}

TEST_F(HelpViewerProcessTest, TheSystemViewerIsHhInTheWindowsFolder) {
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_HELP_VIEWER, nullptr);
  char windows[MAX_PATH] = {0};
  ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
  // Only the command line is looked at: a viewer that shows nothing under
  // Wine is ended at once.
  DisplayHTMLControlHelp(1192);
  std::string expected = std::string("\"") + windows + "\\hh.exe\" ms-its:" + HelpFilePathForTesting() +
                         "::/MainDialog.htm";
  EXPECT_EQ(LastHelpCommandLineForTesting(), expected);
  // Whatever the system's viewer makes of it, it must not outlive the test.
  HANDLE viewer = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, HelpViewerProcessIdForTesting());
  CloseHelpViewer();
  if (viewer != nullptr) {
    if (WaitForSingleObject(viewer, 10000) != WAIT_OBJECT_0) TerminateProcess(viewer, 1);
    CloseHandle(viewer);
  }
}

}  // namespace
