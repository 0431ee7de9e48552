#pragma once
// Driving the plug-in's dialogs from outside under Wine: `glimmark` runs in
// a process of its own, and these helpers find its windows, wait for them,
// read their controls with messages and take screenshots.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace uitest {

using Clock = std::chrono::steady_clock;

std::string Env(const char* name);
std::string BinFolder();
std::string Photo(const char* name);   // in GLIMMARK_TESTDATA
std::string Output(const char* name);  // in the build's test-output folder
bool WaitFor(const std::function<bool()>& done, int seconds);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Where the machine keeps the preview's drawing mode.
extern const char* const DRAWING_MODE_KEY;
// Stores `mode` as the machine's drawing mode, or removes it (mode < 0).
void SetMachineDrawingMode(int mode);

// Visible top-level windows of process `pid` (any process: 0) captioned
// `caption`, optionally only those of the standard dialog class.
HWND FindProcessWindow(DWORD pid, const std::string& caption, bool dialogClass = true);
int CountWindows(const std::string& caption);

// One `glimmark` process.
class Glimmark {
 public:
  explicit Glimmark(const std::string& arguments);
  ~Glimmark();
  Glimmark(const Glimmark&) = delete;
  Glimmark& operator=(const Glimmark&) = delete;
  bool Started() const { return started_ != FALSE; }
  DWORD Id() const { return process_.dwProcessId; }
  // The exit status, or -1 when it did not end in time.
  int Wait(int seconds);
  // The process's main dialog once it shows.
  HWND Dialog(int seconds);
  // A window of the process with this caption once it shows.
  HWND Window(const std::string& caption, int seconds);

 private:
  PROCESS_INFORMATION process_{};
  BOOL started_ = FALSE;
};

// The main dialog's preview: frames shown so far, the analysis done with a
// frame up, and a new frame after the one shown now.
uintptr_t FramesShown(HWND dialog);
bool WaitUntilReady(HWND dialog);
bool WaitForNextFrame(HWND dialog);

void Command(HWND dialog, int id, int code = 0);
// A control's text as it answers (the window manager's copy of another
// process's caption is not a rich edit's text).
std::string Text(HWND window);
RECT ClientRectOf(HWND dialog, int id);
// The window as the screen shows it, as a PNG for people to look at, in
// GLIMMARK_ARTIFACTS (default: the build tree's artifacts folder).
void SaveScreenshot(HWND window, const std::string& fileName);
// The clipboard's plain text ("" when it holds none).
std::string ClipboardText();
void SetClipboardText(const std::string& text);

}  // namespace uitest
