// The options dialog, the about box and the light source table listing
// under Wine, driven from outside with posted messages as a user would
// drive them: through `glimmark options` (the start-menu export), `glimmark
// about` (the host's About selector), the main dialog's own buttons, and
// the exported listing procedure run by a caller of its own.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dialog_driver.h"
#include "ui/resource_ids.h"

namespace {

using namespace uitest;

const std::string OPTIONS_CAPTION = "64 Bit Glimmark 2 Plug-in Options";
constexpr WPARAM CTRL_A = 0x01, CTRL_C = 0x03;  // what Ctrl+A and Ctrl+C type

bool Checked(HWND dialog, int id) { return SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// The text of a message box's static control that holds `part`, or "".
std::string MessageBoxText(HWND box, const std::string& part) {
  struct Find {
    const std::string* part;
    std::string text;
  } find{&part, ""};
  EnumChildWindows(
      box,
      [](HWND child, LPARAM p) -> BOOL {
        auto* f = reinterpret_cast<Find*>(p);
        const std::string text = Text(child);
        if (text.find(*f->part) == std::string::npos) return TRUE;
        f->text = text;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&find));
  return find.text;
}

// The machine's stored drawing mode as `reg query` prints it ("" when none).
std::string RegQueryDrawingMode() {
  const std::string command = std::string("reg query \"HKLM\\") + DRAWING_MODE_KEY + "\" /v OpenGLOptimizationSetting";
  FILE* pipe = _popen(command.c_str(), "r");
  if (pipe == nullptr) return "";
  std::string out;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) out += line;
  _pclose(pipe);
  std::smatch m;
  return std::regex_search(out, m, std::regex("REG_DWORD\\s+(0x[0-9a-fA-F]+)")) ? m[1].str() : "";
}

// The plug-in's newest log (UTF-16) as ASCII text.
std::string NewestLogText() {
  const std::string raw = ReadFile(Env("LOCALAPPDATA") + "\\Brightwerk\\Glimmark2\\Logs\\Glimmark2_00.log");
  std::string text;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) text += raw[i + 1] == 0 ? raw[i] : '?';
  return text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "the last line lacks its CR LF";
  return lines;
}

class SmallDialogsTest : public ::testing::Test {
 protected:
  void TearDown() override { SetMachineDrawingMode(-1); }
};

TEST_F(SmallDialogsTest, OneOptionsWindowOnTheMachineAndTheChosenModeIsStored) {
  SetMachineDrawingMode(1);
  Glimmark first("options");
  HWND options = first.Window(OPTIONS_CAPTION, 60);
  ASSERT_NE(options, nullptr);
  EXPECT_TRUE(Checked(options, IDC_OPTIONS_QUALITY));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(options, IDC_OPTIONS_BITNESS_NOTE)));
  // The update check cannot be had; its days still read as typed.
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_OPTIONS_UPDATE_CHECK)));
  const struct {
    const char* typed;
    const char* unit;
  } days[] = {{"1", "day."}, {"2", "days."}, {"0", "days."}, {"", "days."}, {"99999999999999999999999999999", "days."},
              {"01", "day."}};
  for (const auto& row : days) {
    SendDlgItemMessageA(options, IDC_OPTIONS_UPDATE_DAYS, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(row.typed));
    EXPECT_EQ(Text(GetDlgItem(options, IDC_OPTIONS_DAYS_UNIT)), row.unit) << "typed '" << row.typed << "'";
  }

  // A second start brings the open window to the front instead of another.
  Glimmark second("options");
  EXPECT_EQ(second.Wait(60), 2);
  EXPECT_EQ(CountWindows(OPTIONS_CAPTION), 1);
  EXPECT_EQ(GetForegroundWindow(), options);

  PostMessageA(GetDlgItem(options, IDC_OPTIONS_SOFTWARE), BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitFor([&] { return Checked(options, IDC_OPTIONS_SOFTWARE); }, 10));
  for (int id : {IDC_OPTIONS_QUALITY, IDC_OPTIONS_SPEED, IDC_OPTIONS_COMPATIBILITY}) EXPECT_FALSE(Checked(options, id));
  SaveScreenshot(options, "options_dialog_win64.png");

  PostMessageA(options, WM_COMMAND, IDC_OPTIONS_OK, 0);
  HWND note = first.Window("Please Note", 30);
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(MessageBoxText(note, "chosen"),
            "The OpenGL drawing setting you have chosen, 'Use Software Rendering', will take effect the next time "
            "the plug-in is started.");
  PostMessageA(note, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(first.Wait(30), 0);
  EXPECT_EQ(RegQueryDrawingMode(), "0x4");
}

TEST_F(SmallDialogsTest, NoDrawingModeToChooseBeforeTheFirstPreviewAndNoProxyNeeded) {
  SetMachineDrawingMode(-1);
  Glimmark run("options");
  HWND options = run.Window(OPTIONS_CAPTION, 60);
  ASSERT_NE(options, nullptr);
  for (int id : {IDC_OPTIONS_QUALITY, IDC_OPTIONS_SPEED, IDC_OPTIONS_COMPATIBILITY, IDC_OPTIONS_SOFTWARE}) {
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, id))) << id;
    EXPECT_FALSE(Checked(options, id)) << id;
  }
  PostMessageA(options, WM_COMMAND, IDC_OPTIONS_PROXY_SERVER, 0);
  HWND note = run.Window("Glimmark 2", 30);
  ASSERT_NE(note, nullptr);
  EXPECT_NE(MessageBoxText(note, "proxy"), "");
  PostMessageA(note, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return FindProcessWindow(run.Id(), "Glimmark 2") == nullptr; }, 10));
  PostMessageA(options, WM_COMMAND, IDC_OPTIONS_OK, 0);
  EXPECT_EQ(run.Wait(30), 0);
  EXPECT_EQ(RegQueryDrawingMode(), "");  // nothing chosen, nothing stored
}

// Run again on a display without OpenGL (GLIMMARK_EXPECT_NO_OPENGL).
TEST_F(SmallDialogsTest, AboutBoxShowsTheVersionsAndOpensTheOptions) {
  const bool noOpenGL = !Env("GLIMMARK_EXPECT_NO_OPENGL").empty();
  Glimmark run("about");
  HWND about = run.Window("About Glimmark 2", 60);
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(std::regex_match(Text(GetDlgItem(about, IDC_ABOUT_VERSION)), std::regex("Version: \\d+\\.\\d+\\.\\d+\\.\\d+")))
      << Text(GetDlgItem(about, IDC_ABOUT_VERSION));
  const std::string opengl = Text(GetDlgItem(about, IDC_ABOUT_OPENGL_VERSION));
  if (noOpenGL) {
    EXPECT_EQ(opengl, "OpenGL Version Unknown");
  } else {
    EXPECT_EQ(opengl.rfind("OpenGL Version 4.5", 0), 0u) << opengl;
    SaveScreenshot(about, "about_box_win64.png");
  }
  PostMessageA(about, WM_COMMAND, IDC_ABOUT_CONFIGURE, 0);
  HWND options = run.Window(OPTIONS_CAPTION, 30);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(GetWindow(options, GW_OWNER), about);
  PostMessageA(options, WM_COMMAND, IDC_OPTIONS_CANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return FindProcessWindow(run.Id(), OPTIONS_CAPTION) == nullptr; }, 10));
  PostMessageA(about, WM_COMMAND, IDC_ABOUT_OK, 0);
  EXPECT_EQ(run.Wait(30), 0);
}

// A caller of its own runs the template with the exported procedure while
// no filter runs: an empty table, whose Ctrl+C leaves the clipboard alone.
// The window stretches its list and keeps OK centred; it is never maximised.
TEST_F(SmallDialogsTest, AnOutsideCallerListsAnEmptyTableThatResizes) {
  HMODULE module = LoadLibraryA((BinFolder() + "\\Glimmark2.8bf").c_str());
  ASSERT_NE(module, nullptr);
  auto procedure = reinterpret_cast<DLGPROC>(reinterpret_cast<void*>(GetProcAddress(module, "DisplayLightSourceTableProc")));
  ASSERT_NE(procedure, nullptr);
  INT_PTR result = -2;
  std::thread caller([&] {
    result = DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_LIGHT_SOURCE_TABLE), nullptr, procedure, 0);
  });
  HWND table = nullptr;
  const bool shown = WaitFor([&] {
    table = FindProcessWindow(GetCurrentProcessId(), "Light Source Table Entries");
    return table != nullptr;
  }, 30);
  if (shown) {
    EXPECT_EQ(Text(GetDlgItem(table, IDC_TABLE_HEADER)), "NumberOfLightSources = 0\n\n");
    HWND list = GetDlgItem(table, IDC_TABLE_LIST);
    EXPECT_EQ(SendMessageA(list, LB_GETCOUNT, 0, 0), 0);
    SetClipboardText("kept");
    SendMessageA(list, WM_CHAR, CTRL_A, 0);
    SendMessageA(list, WM_CHAR, CTRL_C, 0);
    EXPECT_EQ(ClipboardText(), "kept");

    const RECT list0 = ClientRectOf(table, IDC_TABLE_LIST), ok0 = ClientRectOf(table, IDOK);
    RECT window;
    GetWindowRect(table, &window);
    SetWindowPos(table, nullptr, 0, 0, window.right - window.left + 100, window.bottom - window.top + 60,
                 SWP_NOMOVE | SWP_NOZORDER);
    const RECT list1 = ClientRectOf(table, IDC_TABLE_LIST), ok1 = ClientRectOf(table, IDOK);
    EXPECT_EQ(list1.right - list0.right, 100);
    EXPECT_EQ(list1.bottom - list0.bottom, 60);
    EXPECT_EQ(ok1.left - ok0.left, 50);
    EXPECT_EQ(ok1.top - ok0.top, 60);
    SendMessageA(table, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    EXPECT_FALSE(IsZoomed(table));
    PostMessageA(table, WM_COMMAND, IDOK, 0);
  }
  caller.join();
  EXPECT_TRUE(shown);
  EXPECT_EQ(result, 0);
  FreeLibrary(module);
}

// The main dialog's own ways to the small dialogs: the product logo opens
// the about box, F10's command the options, and the listing shows the
// analysed table, whose lines Ctrl+A and Ctrl+C put on the clipboard.
TEST_F(SmallDialogsTest, TheMainDialogOpensTheAboutBoxOptionsAndListing) {
  if (Env("GLIMMARK_TESTDATA").empty()) GTEST_SKIP() << "no test photographs here";
  SetMachineDrawingMode(4);
  CreateDirectoryA((BinFolder() + "\\..\\test-output").c_str(), nullptr);
  Glimmark run("apply \"" + Photo("stars_over_mountains.png") + "\" \"" + Output("small_dialogs.png") +
               "\" --dialog --quantity 50");
  HWND dialog = run.Dialog(60);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(WaitUntilReady(dialog));

  PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_PRODUCT_LOGO, STN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDC_PRODUCT_LOGO)));
  HWND about = run.Window("About Glimmark 2", 30);
  ASSERT_NE(about, nullptr);
  EXPECT_EQ(GetWindow(about, GW_OWNER), dialog);
  // The preview's context answers: no second one is made for the question.
  EXPECT_EQ(Text(GetDlgItem(about, IDC_ABOUT_OPENGL_VERSION)).rfind("OpenGL Version 4.5", 0), 0u);
  PostMessageA(about, WM_COMMAND, IDC_ABOUT_OK, 0);
  ASSERT_TRUE(WaitFor([&] { return FindProcessWindow(run.Id(), "About Glimmark 2") == nullptr; }, 10));

  PostMessageA(dialog, WM_COMMAND, ID_OPTIONS, 0);
  HWND options = run.Window(OPTIONS_CAPTION, 30);
  ASSERT_NE(options, nullptr);
  EXPECT_TRUE(Checked(options, IDC_OPTIONS_SOFTWARE));
  PostMessageA(options, WM_COMMAND, IDC_OPTIONS_CANCEL, 0);
  ASSERT_TRUE(WaitFor([&] { return FindProcessWindow(run.Id(), OPTIONS_CAPTION) == nullptr; }, 10));

  PostMessageA(dialog, WM_COMMAND, ID_LIGHT_SOURCE_TABLE, 0);
  HWND table = run.Window("Light Source Table Entries", 30);
  ASSERT_NE(table, nullptr);
  int count = -1;
  ASSERT_EQ(std::sscanf(Text(GetDlgItem(table, IDC_TABLE_HEADER)).c_str(), "NumberOfLightSources = %d", &count), 1);
  EXPECT_GT(count, 0);
  HWND list = GetDlgItem(table, IDC_TABLE_LIST);
  SetClipboardText("");
  PostMessageA(list, WM_CHAR, CTRL_A, 0);
  PostMessageA(list, WM_CHAR, CTRL_C, 0);
  std::vector<std::string> lines;
  EXPECT_TRUE(WaitFor([&] { return !ClipboardText().empty(); }, 10));
  lines = Lines(ClipboardText());
  ASSERT_EQ(static_cast<int>(lines.size()), count);
  for (int i = 0; i < count; ++i) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "LightSourceTable[%04d] x = ", i);
    EXPECT_EQ(lines[static_cast<size_t>(i)].rfind(prefix, 0), 0u) << lines[static_cast<size_t>(i)];
  }
  SaveScreenshot(table, "light_source_table_win64.png");
  PostMessageA(table, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitFor([&] { return FindProcessWindow(run.Id(), "Light Source Table Entries") == nullptr; }, 10));
  PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  EXPECT_EQ(run.Wait(60), 2);
  // The run's log: the about box asked the preview's context, and no other
  // OpenGL context was made for it.
  const std::string log = NewestLogText();
  EXPECT_NE(log.find("About box: the preview's context reports OpenGL 4.5"), std::string::npos);
  EXPECT_EQ(log.find("CreateHiddenWindow()"), std::string::npos);
}

}  // namespace
