// The light source table listing: one line per detected highlight, for
// people checking what the analysis found. Resizable; Ctrl+A selects every
// line and Ctrl+C copies the selected ones as text.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/report.h"
#include "ui/dialog_controls.h"
#include "ui/resource_ids.h"
#include "ui/small_dialog_rules.h"
#include "ui/small_dialogs.h"

namespace {

constexpr UINT_PTR LIST_SUBCLASS = 0x4C5354;  // any id of our own
constexpr WPARAM CTRL_A = 0x01, CTRL_C = 0x03;  // what Ctrl+A and Ctrl+C type

std::atomic<MasterLightSourceTable*> g_listed{nullptr};

struct TableDialog {
  DialogMessageOwner messages;
  SIZE initialWindow{};
  SIZE initialClient{};
  RECT header{}, list{}, ok{};  // client rectangles at the initial size
};

TableDialog* DialogOf(HWND dialog) { return reinterpret_cast<TableDialog*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

RECT ItemRect(HWND dialog, int id) {
  RECT r{};
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void PutOnClipboard(HWND owner, const std::string& text) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (block == nullptr) {
    REPORT_DEBUG("Could not allocate global buffer for Clipboard.");
    return;
  }
  void* memory = GlobalLock(block);
  if (memory == nullptr) {
    REPORT_DEBUG("Could not lock global buffer for Clipboard.");
    GlobalFree(block);
    return;
  }
  std::memcpy(memory, text.c_str(), text.size() + 1);
  GlobalUnlock(block);
  if (!OpenClipboard(owner)) {
    REPORT_DEBUG("Could not open Clipboard.");
    GlobalFree(block);
    return;
  }
  if (!EmptyClipboard()) {
    REPORT_DEBUG("Could not empty Clipboard.");
    CloseClipboard();
    GlobalFree(block);
    return;
  }
  if (SetClipboardData(CF_TEXT, block) == nullptr) {
    REPORT_DEBUG("Could not insert selection into Clipboard.");
    GlobalFree(block);  // the clipboard did not take it
  }
  CloseClipboard();
}

void CopySelection(HWND list) {
  const LRESULT count = SendMessageA(list, LB_GETSELCOUNT, 0, 0);
  if (count <= 0) {
    // Nothing selected (an empty table, say): the clipboard keeps its text.
    MessageBeep(MB_OK);
    return;
  }
  std::vector<int> indices(static_cast<size_t>(count));
  const LRESULT got = SendMessageA(list, LB_GETSELITEMS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(indices.data()));
  indices.resize(static_cast<size_t>(std::max<LRESULT>(0, got)));
  std::vector<std::string> lines;
  lines.reserve(indices.size());
  for (int index : indices) {
    const LRESULT length = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    std::string line(static_cast<size_t>(std::max<LRESULT>(0, length)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&line[0]));
    line.resize(std::strlen(line.c_str()));
    lines.push_back(std::move(line));
  }
  std::string text;
  int32_t tooLong = -1;
  if (!ClipboardTextOfLines(lines, &text, &tooLong)) {
    REPORT_DEBUG("ListBox Item %d is too long.", indices[static_cast<size_t>(tooLong)]);
    return;
  }
  PutOnClipboard(list, text);
}

LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  switch (message) {
    case WM_CHAR:
      if (wParam == CTRL_A) {
        const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
        if (count > 0) SendMessageA(list, LB_SELITEMRANGEEX, 0, count - 1);
        return 0;
      }
      if (wParam == CTRL_C) {
        CopySelection(list);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(list, ListProc, LIST_SUBCLASS);
      break;
    default:
      break;
  }
  return DefSubclassProc(list, message, wParam, lParam);
}

void FillList(HWND dialog) {
  static MasterLightSourceTable empty;
  MasterLightSourceTable* table = g_listed.load();
  if (table == nullptr) table = &empty;
  char line[256];
  if (GetLightSourceTableLine(table, true, line, sizeof line)) SetDlgItemTextA(dialog, IDC_TABLE_HEADER, line);
  HWND list = GetDlgItem(dialog, IDC_TABLE_LIST);
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  int widest = 0;
  HDC dc = GetDC(list);
  HGDIOBJ font = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(list, WM_GETFONT, 0, 0)));
  while (GetLightSourceTableLine(table, false, line, sizeof line)) {
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line));
    SIZE extent{};
    if (GetTextExtentPoint32A(dc, line, static_cast<int>(std::strlen(line)), &extent)) widest = std::max<int>(widest, extent.cx);
  }
  SelectObject(dc, font);
  ReleaseDC(list, dc);
  SendMessageA(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + 8), 0);
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  SetWindowSubclass(list, ListProc, LIST_SUBCLASS, 0);
}

void OnInitTable(HWND dialog) {
  auto* d = new TableDialog;
  SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(d));
  d->messages.Begin(dialog);
  RECT window{}, client{};
  GetWindowRect(dialog, &window);
  GetClientRect(dialog, &client);
  d->initialWindow = SIZE{window.right - window.left, window.bottom - window.top};
  d->initialClient = SIZE{client.right, client.bottom};
  d->header = ItemRect(dialog, IDC_TABLE_HEADER);
  d->list = ItemRect(dialog, IDC_TABLE_LIST);
  d->ok = ItemRect(dialog, IDOK);
  FillList(dialog);
}

// The header and the list stretch with the window; OK stays centred below.
void OnSize(HWND dialog, const TableDialog& d, int width, int height) {
  const int dw = width - d.initialClient.cx, dh = height - d.initialClient.cy;
  HDWP batch = BeginDeferWindowPos(3);
  const auto place = [&](int id, const RECT& r, int x, int y, int grow, int growDown) {
    if (batch != nullptr)
      batch = DeferWindowPos(batch, GetDlgItem(dialog, id), nullptr, r.left + x, r.top + y, r.right - r.left + grow,
                             r.bottom - r.top + growDown, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  place(IDC_TABLE_HEADER, d.header, 0, 0, dw, 0);
  place(IDC_TABLE_LIST, d.list, 0, 0, dw, dh);
  place(IDOK, d.ok, dw / 2, dh, 0, 0);
  if (batch != nullptr) EndDeferWindowPos(batch);
  InvalidateRect(dialog, nullptr, TRUE);
}

INT_PTR TableProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  TableDialog* d = DialogOf(dialog);
  switch (message) {
    case WM_INITDIALOG:
      OnInitTable(dialog);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE:
      EndDialog(dialog, 0);
      return TRUE;
    case WM_SIZE:
      if (d != nullptr && wParam != SIZE_MINIMIZED) OnSize(dialog, *d, LOWORD(lParam), HIWORD(lParam));
      return FALSE;
    case WM_SYSCOMMAND:
      // A listing has no use for the whole screen: maximising is refused.
      if ((wParam & 0xFFF0) == SC_MAXIMIZE) {
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, 0);
        return TRUE;
      }
      return FALSE;
    case WM_GETMINMAXINFO:
      if (d != nullptr) {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        info->ptMinTrackSize = POINT{d->initialWindow.cx, d->initialWindow.cy};
      }
      return TRUE;
    case POST_DEBUG_MESSAGE:
      ShowPostedMessage(reinterpret_cast<void*>(wParam), dialog);
      return TRUE;
    case WM_NCDESTROY:
      if (d != nullptr) {
        d->messages.End(dialog);
        SetWindowLongPtrA(dialog, DWLP_USER, 0);
        delete d;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void SetListedLightSourceTable(MasterLightSourceTable* table) { g_listed = table; }

INT_PTR CALLBACK LightSourceTableDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  return GuardedDialogCall("light source table dialog", message, TableProc, dialog, wParam, lParam);
}
