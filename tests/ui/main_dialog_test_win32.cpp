// The main dialog end to end under Wine: `glimmark apply … --dialog` runs in
// a process of its own and this test drives its dialog from outside, as a
// user would, with messages: it waits for the preview's first frame, changes
// settings, zooms, resizes, hides stars with the Hide tool, and presses OK
// or Cancel. What OK renders is compared with a run without the dialog.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "dialog_driver.h"
#include "ui/resource_ids.h"

namespace {

using namespace uitest;

// Every setting named, so that no earlier run's stored settings count.
const char* const FACTORY = " --quantity 50 --intensity 50 --length 50 --angle 15 --points 6 --sharpness 50"
                            " --saturation 30 --flare 30";

// The preview draws with the software drawing mode, whose frames a
// screenshot of the virtual display shows (an OpenGL child window's are not).
class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("GLIMMARK_TESTDATA").empty()) GTEST_SKIP() << "no test photographs here";
    SetMachineDrawingMode(4);
    CreateDirectoryA((BinFolder() + "\\..\\test-output").c_str(), nullptr);
    // Each test opens the dialog where a first run does.
    DeleteFileA(UISettingsPath().c_str());
  }

  // The machine's drawing mode goes back to none stored (the factory choice).
  void TearDown() override { SetMachineDrawingMode(-1); }

  static std::string UISettingsPath() {
    char folder[MAX_PATH] = {};
    GetEnvironmentVariableA("LOCALAPPDATA", folder, sizeof folder);
    return std::string(folder) + "\\Brightwerk\\Glimmark2\\Settings\\UISettings.bin";
  }

  // Renders `photo` without the dialog with the factory settings but for
  // `change` (an option of glimmark apply).
  std::string RenderWithoutDialog(const char* photo, const std::string& change, const char* out) {
    Glimmark run("apply \"" + Photo(photo) + "\" \"" + Output(out) + "\"" + FACTORY + change);
    EXPECT_EQ(run.Wait(120), 0);
    return ReadFile(Output(out));
  }
};

TEST_F(MainDialogTest, OkRendersWhatTheDialogShowedAndKeepsItsPlace) {
  const std::string out = Output("dialog_ok.png");
  DeleteFileA(out.c_str());
  Glimmark run("apply \"" + Photo("stars_over_mountains.png") + "\" \"" + out + "\" --dialog" + FACTORY);
  ASSERT_TRUE(run.Started());
  HWND dialog = run.Dialog(60);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntilReady(dialog));
  SaveScreenshot(dialog, "dialog_stars_over_mountains_win64.png");

  // The number box: "150" stores the maximum, a letter is refused, Up adds one.
  HWND quantity = GetDlgItem(dialog, IDC_QUANTITY_EDIT);
  HWND quantityBar = GetDlgItem(dialog, IDC_QUANTITY_TRACKBAR);
  SendMessageA(quantity, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("150"));
  EXPECT_EQ(SendMessageA(quantityBar, TBM_GETPOS, 0, 0), 100);
  SendMessageA(quantity, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("90"));
  SendMessageA(quantity, WM_CHAR, 'a', 1);
  EXPECT_EQ(Text(quantity), "90");
  SendMessageA(quantity, WM_KEYDOWN, VK_UP, 1);
  EXPECT_EQ(SendMessageA(quantityBar, TBM_GETPOS, 0, 0), 91);
  EXPECT_TRUE(WaitForNextFrame(dialog));

  // Zoom limits disable their buttons; the field shows the zoom.
  Command(dialog, ID_ZOOM_6400);
  EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(GetDlgItem(dialog, IDC_ZOOM_IN)); }, 5));
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_ZOOM_FIELD)), " 6400.00%");
  for (int i = 0; i < 25; ++i) Command(dialog, ID_ZOOM_OUT_STEP);
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_ZOOM_OUT)));
  EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_ZOOM_IN)));
  EXPECT_EQ(Text(GetDlgItem(dialog, IDC_ZOOM_FIELD)), " 0.30%");
  Command(dialog, ID_FIT_IN_VIEW);

  // Fit on Screen grows the dialog to the work area: the panel moves right
  // by the growth, the zoom strip down, the preview stretches both ways,
  // Preview and Configure move both ways; a frame of the new size follows.
  const RECT ok0 = ClientRectOf(dialog, IDOK), proxy0 = ClientRectOf(dialog, IDC_PROXY);
  const RECT zoom0 = ClientRectOf(dialog, IDC_ZOOM_IN), configure0 = ClientRectOf(dialog, IDC_CONFIGURE);
  RECT client0, client1, window;
  GetClientRect(dialog, &client0);
  const uintptr_t framesBefore = FramesShown(dialog);
  PostMessageA(dialog, WM_COMMAND, ID_FIT_ON_SCREEN, 0);
  EXPECT_TRUE(WaitFor([&] {
    GetClientRect(dialog, &client1);
    // The controls' moves are applied after the dialog's own.
    return client1.right != client0.right && ClientRectOf(dialog, IDOK).left != ok0.left &&
           ClientRectOf(dialog, IDC_CONFIGURE).top != configure0.top;
  }, 10));
  const LONG dx = client1.right - client0.right, dy = client1.bottom - client0.bottom;
  EXPECT_GT(dx, 100);
  EXPECT_GT(dy, 50);
  const RECT ok1 = ClientRectOf(dialog, IDOK), proxy1 = ClientRectOf(dialog, IDC_PROXY);
  const RECT zoom1 = ClientRectOf(dialog, IDC_ZOOM_IN), configure1 = ClientRectOf(dialog, IDC_CONFIGURE);
  EXPECT_EQ(ok1.left - ok0.left, dx);
  EXPECT_EQ(ok1.top, ok0.top);
  EXPECT_EQ(proxy1.right - proxy0.right, dx);
  EXPECT_EQ(proxy1.bottom - proxy0.bottom, dy);
  EXPECT_EQ(proxy1.left, proxy0.left);
  EXPECT_EQ(zoom1.top - zoom0.top, dy);
  EXPECT_EQ(zoom1.left, zoom0.left);
  EXPECT_EQ(configure1.left - configure0.left, dx);
  EXPECT_EQ(configure1.top - configure0.top, dy);
  EXPECT_TRUE(WaitFor([&] { return FramesShown(dialog) > framesBefore; }, 60));
  GetWindowRect(dialog, &window);

  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(run.Wait(120), 0);
  EXPECT_EQ(ReadFile(out), RenderWithoutDialog("stars_over_mountains.png", " --quantity 91", "no_dialog_91.png"));

  // The dialog's own settings: 52 bytes with the rectangle it had.
  const std::string settings = ReadFile(UISettingsPath());
  ASSERT_EQ(settings.size(), 52u);
  int32_t rect[4];
  std::memcpy(rect, settings.data() + 8, sizeof rect);
  EXPECT_EQ(rect[0], window.left);
  EXPECT_EQ(rect[2], window.right);
  EXPECT_EQ(rect[3] - rect[1], window.bottom - window.top);
}

TEST_F(MainDialogTest, CancelEndsWithoutWritingAndTheHideToolRemovesStars) {
  {
    const std::string out = Output("dialog_cancel.png");
    DeleteFileA(out.c_str());
    Glimmark run("apply \"" + Photo("still_life_lamps_16bit.png") + "\" \"" + out + "\" --dialog" + FACTORY);
    HWND dialog = run.Dialog(60);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(WaitUntilReady(dialog));
    SaveScreenshot(dialog, "dialog_still_life_lamps_16bit_win64.png");
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(run.Wait(60), 2);
    EXPECT_FALSE(Exists(out));
  }
  // The Hide tool, chosen by its key through the dialog's accelerators,
  // dragged over the whole preview: no star is left for OK to render.
  const std::string out = Output("dialog_hidden.png");
  Glimmark run("apply \"" + Photo("stars_over_mountains.png") + "\" \"" + out + "\" --dialog" + FACTORY);
  HWND dialog = run.Dialog(60);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntilReady(dialog));
  HWND focused = GetDlgItem(dialog, IDC_QUANTITY_EDIT);
  PostMessageA(focused, WM_KEYDOWN, 'X', 1);
  PostMessageA(focused, WM_KEYUP, 'X', 0xC0000001);
  Sleep(300);
  HWND proxy = GetDlgItem(dialog, IDC_PROXY);
  RECT r;
  GetWindowRect(proxy, &r);
  SetCursorPos(r.left + 2, r.top + 2);
  PostMessageA(proxy, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(2, 2));
  Sleep(200);
  SetCursorPos(r.right - 3, r.bottom - 3);
  PostMessageA(proxy, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(r.right - r.left - 3, r.bottom - r.top - 3));
  Sleep(200);
  PostMessageA(proxy, WM_LBUTTONUP, 0, MAKELPARAM(r.right - r.left - 3, r.bottom - r.top - 3));
  EXPECT_TRUE(WaitForNextFrame(dialog));
  PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  ASSERT_EQ(run.Wait(120), 0);
  const std::string hidden = ReadFile(out);
  EXPECT_EQ(hidden, RenderWithoutDialog("stars_over_mountains.png", " --quantity 0", "no_dialog_0.png"));
  EXPECT_NE(hidden, RenderWithoutDialog("stars_over_mountains.png", "", "no_dialog_50.png"));
}

}  // namespace

namespace {

// For people tuning the dialog (GLIMMARK_DIALOG_TIMINGS=1): from a key that
// changes a setting to the frame that shows it, and the longest the dialog
// takes to answer a message while passes run. The drawing mode is the
// stored one of the machine (the factory choice unless changed).
TEST(MainDialogTimings, SettingToFrameAndAnswerTimes) {
  if (Env("GLIMMARK_DIALOG_TIMINGS").empty() || Env("GLIMMARK_TESTDATA").empty())
    GTEST_SKIP() << "set GLIMMARK_DIALOG_TIMINGS=1 to measure";
  Glimmark run("apply \"" + Photo("stars_over_mountains.png") + "\" \"" + Output("timings.png") + "\" --dialog" +
               FACTORY);
  HWND dialog = run.Dialog(60);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntilReady(dialog));
  PostMessageA(dialog, WM_COMMAND, ID_FIT_ON_SCREEN, 0);
  Sleep(3000);
  RECT proxy;
  GetClientRect(GetDlgItem(dialog, IDC_PROXY), &proxy);
  HWND quantity = GetDlgItem(dialog, IDC_QUANTITY_EDIT);
  std::vector<double> toFrame;
  double longestAnswer = 0;
  for (int i = 0; i < 10; ++i) {
    const uintptr_t before = FramesShown(dialog);
    const auto start = Clock::now();
    SendMessageA(quantity, WM_KEYDOWN, i % 2 == 0 ? VK_UP : VK_DOWN, 1);
    while (FramesShown(dialog) == before && Clock::now() - start < std::chrono::seconds(20)) {
      const auto asked = Clock::now();
      DWORD_PTR ignored = 0;
      SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
      longestAnswer = std::max(longestAnswer, std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
      Sleep(2);
    }
    toFrame.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(toFrame.begin(), toFrame.end());
  std::printf("view %ld x %ld: setting to frame median %.0f ms, worst %.0f ms; longest answer %.1f ms\n",
              proxy.right, proxy.bottom, toFrame[toFrame.size() / 2], toFrame.back(), longestAnswer);
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(run.Wait(60), 2);
}

}  // namespace
