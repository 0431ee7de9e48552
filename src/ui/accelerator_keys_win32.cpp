#include <windows.h>

#include <list>

#include "host/main_dialog.h"
#include "ui/accelerator_keys.h"

namespace {

struct AcceleratorEntry {
  HWND window;
  HACCEL table;
  bool enabled;
};

// UI thread only, like the dialogs themselves.
std::list<AcceleratorEntry> g_entries;
HHOOK g_hook = nullptr;

AcceleratorEntry* Find(HWND window) {
  for (AcceleratorEntry& e : g_entries)
    if (e.window == window) return &e;
  return nullptr;
}

// The dialog whose keys these are: the one that owns the focused control
// (a modeless child or an owned popup may be active while the focus sits in
// another registered dialog), else the active window.
AcceleratorEntry* EntryForKeys() {
  for (HWND w = GetFocus(); w != nullptr; w = GetParent(w)) {
    if (AcceleratorEntry* e = Find(w)) return e;
    if ((GetWindowLongPtrA(w, GWL_STYLE) & WS_CHILD) == 0) break;
  }
  return Find(GetActiveWindow());
}

LRESULT CALLBACK MessageHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && message != nullptr && message->message >= WM_KEYFIRST &&
      message->message <= WM_KEYLAST) {
    AcceleratorEntry* e = EntryForKeys();
    if (e != nullptr && e->enabled && e->table != nullptr && TranslateAcceleratorA(e->window, e->table, message))
      return 1;
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

}  // namespace

bool InitializeAcceleratorKeys() {
  if (g_hook != nullptr) return true;
  g_hook = SetWindowsHookExA(WH_MSGFILTER, MessageHook, nullptr, GetCurrentThreadId());
  if (g_hook != nullptr) return true;
  REPORT_DEBUG("InitializeAcceleratorKeys() - Failed to connect accelerator key hook.");
  return false;
}

bool RegisterAcceleratorTable(WindowHandle window, void* table, bool enabled) {
  if (!InitializeAcceleratorKeys()) return false;
  HWND w = static_cast<HWND>(window);
  if (AcceleratorEntry* e = Find(w)) {
    e->table = static_cast<HACCEL>(table);
    e->enabled = enabled;
  } else {
    g_entries.push_back(AcceleratorEntry{w, static_cast<HACCEL>(table), enabled});
  }
  return true;
}

void EnableAcceleratorKeys(WindowHandle window, bool enabled) {
  if (AcceleratorEntry* e = Find(static_cast<HWND>(window))) {
    e->enabled = enabled;
    return;
  }
  REPORT_DEBUG("EnableAcceleratorKeys() - No accelerator key table is registered for window 0x%X.",
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(window)));
}

void UnregisterAcceleratorTable(WindowHandle window) {
  g_entries.remove_if([window](const AcceleratorEntry& e) { return e.window == static_cast<HWND>(window); });
}

void RemoveDialogMessageHook() {
  if (g_hook != nullptr) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  g_entries.clear();
}
