#include <windows.h>

#include "ui/popup_menu.h"

uint32_t TrackMenuChoice(void* popup, int32_t x, int32_t y, uint32_t flags, WindowHandle owner) {
  if (popup == nullptr) return 0;
  HWND window = static_cast<HWND>(owner);
  SetForegroundWindow(window);
  SetLastError(0);
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(static_cast<HMENU>(popup), flags | TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0, window, nullptr));
  const DWORD error = GetLastError();
  PostMessageA(window, WM_NULL, 0, 0);
  if (command == 0 && error != 0)
    REPORT_DEBUG("TrackPopupMenu() failed with error code 0x%X", static_cast<unsigned>(error));
  return command;
}
