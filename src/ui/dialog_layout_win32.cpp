#include <windows.h>

#include <mutex>
#include <vector>

#include "ui/dialog_layout.h"
#include "ui/dialog_layout_rules.h"
#include "ui/resource_ids.h"

namespace {

constexpr size_t MAX_DIALOG_ITEMS = 100;

struct DialogItem {
  HWND window;
  int32_t id;
  ImageRect initial;  // dialog client coordinates
  LayoutRule rule;
  ImageRect current;
};

struct DialogItems {
  std::mutex lock;  // the preview reads the proxy's rectangle from other threads
  std::vector<DialogItem> items;
  RECT initialWindow{};
  RECT initialClient{};
  bool overflowReported = false;
};

DialogItems g_layout;

ImageRect ChildRect(HWND dialog, HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return ImageRect{r.left, r.top, r.right, r.bottom};
}

BOOL CALLBACK AddChild(HWND child, LPARAM dialogParam) {
  HWND dialog = reinterpret_cast<HWND>(dialogParam);
  if (GetParent(child) != dialog) return TRUE;  // a control's own children stay with it
  if (g_layout.items.size() >= MAX_DIALOG_ITEMS) {
    if (!g_layout.overflowReported) REPORT_DEBUG("Number of controls has exceeded InitialDialogItems[] table size");
    g_layout.overflowReported = true;
    return FALSE;
  }
  const int32_t id = GetDlgCtrlID(child);
  const ImageRect r = ChildRect(dialog, child);
  g_layout.items.push_back(DialogItem{child, id, r, MainDialogLayoutRule(id), r});
  return TRUE;
}

}  // namespace

bool InitializeDialogItems(WindowHandle dialogHandle) {
  HWND dialog = static_cast<HWND>(dialogHandle);
  std::lock_guard<std::mutex> hold(g_layout.lock);
  g_layout.items.clear();
  g_layout.overflowReported = false;
  GetWindowRect(dialog, &g_layout.initialWindow);
  GetClientRect(dialog, &g_layout.initialClient);
  EnumChildWindows(dialog, AddChild, reinterpret_cast<LPARAM>(dialog));
  return true;
}

void RepositionDialogItems(WindowHandle dialogHandle) {
  HWND dialog = static_cast<HWND>(dialogHandle);
  RECT client;
  GetClientRect(dialog, &client);
  const int32_t dx = (client.right - client.left) - (g_layout.initialClient.right - g_layout.initialClient.left);
  const int32_t dy = (client.bottom - client.top) - (g_layout.initialClient.bottom - g_layout.initialClient.top);
  std::lock_guard<std::mutex> hold(g_layout.lock);
  HDWP batch = BeginDeferWindowPos(static_cast<int>(g_layout.items.size()));
  if (batch == nullptr) {
    REPORT_DEBUG("BeginDeferWindowPos() failed");
    return;
  }
  for (DialogItem& item : g_layout.items) {
    const ImageRect r = RepositionRect(item.initial, item.rule, dx, dy);
    if (r.left == item.current.left && r.top == item.current.top && r.right == item.current.right &&
        r.bottom == item.current.bottom)
      continue;
    batch = DeferWindowPos(batch, item.window, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top,
                           SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOOWNERZORDER);
    if (batch == nullptr) {
      REPORT_DEBUG("DeferWindowPos() failed. Control ID = %u, New Position = (%d,%d), New Width = %d, New Height = %d ",
                   static_cast<unsigned>(item.id), r.left, r.top, r.right - r.left, r.bottom - r.top);
      REPORT_DEBUG("RepositionItem() failed ");
      return;
    }
    item.current = r;
  }
  if (!EndDeferWindowPos(batch)) REPORT_DEBUG("EndDeferWindowPos() failed");
  InvalidateRect(dialog, nullptr, TRUE);
}

void InitialDialogSize(int32_t* width, int32_t* height) {
  *width = g_layout.initialWindow.right - g_layout.initialWindow.left;
  *height = g_layout.initialWindow.bottom - g_layout.initialWindow.top;
}

ImageRect GetProxyFrameRect() {
  std::lock_guard<std::mutex> hold(g_layout.lock);
  for (const DialogItem& item : g_layout.items)
    if (item.id == IDC_PROXY) return item.current;
  return ImageRect{0, 0, 0, 0};
}

void PlaceDialog(WindowHandle dialogHandle, const ImageRect& saved) {
  HWND dialog = static_cast<HWND>(dialogHandle);
  const ImageRect screen{GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
                         GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                         GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  RECT wanted{saved.left, saved.top, saved.right, saved.bottom};
  HMONITOR monitor = MonitorFromRect(&wanted, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get destination monitor handle.");
    return;
  }
  if (!GetMonitorInfoA(monitor, &info)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "Could not get destination monitor information.");
    return;
  }
  int32_t initialWidth = 0, initialHeight = 0;
  InitialDialogSize(&initialWidth, &initialHeight);
  const ImageRect m{info.rcMonitor.left, info.rcMonitor.top, info.rcMonitor.right, info.rcMonitor.bottom};
  const ImageRect r = PlaceDialogRect(saved, screen, m, initialWidth, initialHeight);
  SetWindowPos(dialog, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void DeleteDialogItems() {
  std::lock_guard<std::mutex> hold(g_layout.lock);
  g_layout.items.clear();
}
