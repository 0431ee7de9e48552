// The module's exported routines besides PluginMain. They are called from
// outside the host's filter protocol (rundll32-style command lines and dialog
// templates), so they use the stdcall convention with four pointer-sized
// arguments; on 32-bit Windows that makes their decorated names end in @16.
// The .def files give the exported names; these functions must not be
// marked dllexport, or the 32-bit module gains a second, wrong spelling.
//
// Nothing may leave these routines by exception: their callers are C code.
#include <windows.h>

#include "gl/install_configuration.h"
#include "ui/small_dialogs.h"

extern "C" {

int __stdcall ConfigureOptions(HWND window, HINSTANCE instance, LPSTR commandLine, int show) noexcept;
void __stdcall InstallConfiguration(HWND window, HINSTANCE instance, LPSTR commandLine, int show) noexcept;
INT_PTR __stdcall DisplayLightSourceTableProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept;

// A start-menu shortcut's way to the options dialog, outside any host.
int __stdcall ConfigureOptions(HWND window, HINSTANCE, LPSTR, int) noexcept {
  try {
    return RunConfigureOptions(window);
  } catch (...) {
    // A launcher can do nothing with a failure; the log has what was seen.
    return 0;
  }
}

// The command line is the product version an installer records.
void __stdcall InstallConfiguration(HWND, HINSTANCE, LPSTR commandLine, int) noexcept {
  try {
    RunInstallConfiguration(commandLine);
  } catch (...) {
    // An installer can do nothing with a failure; the log has what was seen.
  }
}

// The listing's procedure, for a caller that runs its template itself.
INT_PTR __stdcall DisplayLightSourceTableProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return LightSourceTableDialogProc(dialog, message, wParam, lParam);
}

}  // extern "C"

// The decorated names in the 32-bit .def assume 16 bytes of arguments.
#ifndef _WIN64
static_assert(sizeof(HWND) + sizeof(HINSTANCE) + sizeof(LPSTR) + sizeof(int) == 16,
              "ConfigureOptions and InstallConfiguration must take 16 bytes of arguments");
static_assert(sizeof(HWND) + sizeof(UINT) + sizeof(WPARAM) + sizeof(LPARAM) == 16,
              "the dialog procedures must take 16 bytes of arguments");
#endif
