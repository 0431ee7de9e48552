// The HTML Help viewer as a child process of the host.
#include <windows.h>

#include <mutex>
#include <vector>

#include "runtime/help_viewer_platform.h"
#include "runtime/report.h"
#include "runtime/user_folders.h"

namespace {

std::mutex ViewerLock;
PROCESS_INFORMATION Viewer = {};  // zero when none

}  // namespace

bool HelpViewerProgramPath(std::string* path) {
  char folder[MAX_PATH + 1] = {0};
  UINT length = GetWindowsDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) {
    REPORT_DEBUG("InitializeHelpViewer() Could not get the Windows directory.");
    return false;
  }
  std::string result(folder);
  if (!result.empty() && result.back() == '\\') result.pop_back();
  result += "\\hh.exe";
  if (result.size() >= USER_FOLDER_PATH_CHARS) {
    REPORT_DEBUG("InitializeHelpViewer() Could not build a path to the help viewer executable. Error '%s' was reported.",
                 "the path is too long");
    return false;
  }
  *path = result;
  return true;
}

void QuitHelpViewerProcess() {
  PROCESS_INFORMATION old;
  {
    std::lock_guard<std::mutex> guard(ViewerLock);
    old = Viewer;
    Viewer = PROCESS_INFORMATION{};
  }
  if (old.hProcess == nullptr) return;
  // A viewer started a moment ago may not have its message queue yet, and a
  // quit message posted before that is lost; give it a short while to settle.
  if (WaitForSingleObject(old.hProcess, 0) == WAIT_TIMEOUT) {
    WaitForInputIdle(old.hProcess, 1000);
    PostThreadMessageA(old.dwThreadId, WM_QUIT, 0, 0);
  }
  CloseHandle(old.hThread);
  CloseHandle(old.hProcess);
}

bool StartHelpViewerProcess(const std::string& commandLine) {
  std::vector<char> text(commandLine.begin(), commandLine.end());
  text.push_back('\0');  // CreateProcessA may write into its command line
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started = {};
  if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "DisplayHelpInViewer() failed to spawn HTML Help Viewer command line '%s'.",
                        commandLine.c_str());
    return false;
  }
  std::lock_guard<std::mutex> guard(ViewerLock);
  Viewer = started;
  return true;
}

uint32_t HelpViewerProcessId() {
  std::lock_guard<std::mutex> guard(ViewerLock);
  return Viewer.dwProcessId;
}
