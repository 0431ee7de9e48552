#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>
#include <psapi.h>

#include <atomic>
#include <string>

#include "console.h"

namespace glimmark {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_exiting{false};

void MarkExiting() { g_exiting.store(true); }

// Windows ends the process once the handler of a closed console returns,
// and after about five seconds in any case.
constexpr DWORD kCloseGraceMilliseconds = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The first one asks the module to stop; the next goes to the default
      // handler, which ends the process.
      return g_interrupted.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
      // Stop as after Ctrl+C, and hold the process until the tool has
      // removed what it was writing and is leaving.
      g_interrupted.store(true);
      for (DWORD waited = 0; waited < kCloseGraceMilliseconds && !g_exiting.load(); waited += 50) Sleep(50);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void InstallInterruptHandler() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  atexit(&MarkExiting);
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool InterruptRequested() { return g_interrupted.load(); }

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  // _putenv_s updates the runtime's copy and the process environment block.
  return _putenv_s(name.c_str(), value.c_str()) == 0;
}

void UnsetEnvironmentValue(const std::string& name) { _putenv_s(name.c_str(), ""); }

std::string CreateTemporaryFile() {
  char folder[MAX_PATH + 1] = {};
  char name[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > MAX_PATH) return std::string();
  if (GetTempFileNameA(folder, "gmk", 0, name) == 0) return std::string();
  return std::string(name);
}

std::string ConfigFolder() {
  const char* appData = getenv("APPDATA");
  if (appData == nullptr || appData[0] == '\0') return std::string();
  return std::string(appData) + "\\glimmark";
}

char FolderSeparator() { return '\\'; }

bool ResidentMemory(uint64_t* now, uint64_t* peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    *now = *peak = 0;
    return false;
  }
  *now = counters.WorkingSetSize;
  *peak = counters.PeakWorkingSetSize;
  return true;
}

// Windows keeps the peak for the process's life.
bool ResetResidentPeak() { return false; }

}  // namespace glimmark
