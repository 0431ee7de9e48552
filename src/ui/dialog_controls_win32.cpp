#include "ui/dialog_controls.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <exception>

#include "platform/platform.h"
#include "runtime/help_viewer.h"
#include "runtime/report.h"
#include "ui/accelerator_keys.h"
#include "ui/resource_ids.h"

ModuleControlsScope::ModuleControlsScope() {
  ACTCTXA context{};
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.hModule = ModuleInstance();
  context.lpResourceName = MAKEINTRESOURCEA(2);
  activation_ = CreateActCtxA(&context);
  activated_ = activation_ != INVALID_HANDLE_VALUE && ActivateActCtx(activation_, &cookie_);
}

ModuleControlsScope::~ModuleControlsScope() {
  if (activated_) DeactivateActCtx(0, cookie_);
  if (activation_ != INVALID_HANDLE_VALUE) ReleaseActCtx(activation_);
}

HINSTANCE ModuleInstance() { return static_cast<HINSTANCE>(PlatformModuleHandle()); }

const char* const MAKER_WEB_SITE = "https://www.brightwerk.example";

bool IsUnattendedRun() {
  char value[8] = {};
  return GetEnvironmentVariableA("GLIMMARK_UNATTENDED", value, sizeof value) > 0 && value[0] != '0';
}

HWND CreateDialogTooltips(HWND dialog) {
  HWND tips = CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, ModuleInstance(), nullptr);
  if (tips == nullptr) return nullptr;
  SendMessageA(tips, TTM_SETDELAYTIME, TTDT_INITIAL, static_cast<LPARAM>(GetDoubleClickTime() * 3));
  SendMessageA(tips, TTM_SETDELAYTIME, TTDT_AUTOPOP, 30000);
  SendMessageA(tips, TTM_SETMAXTIPWIDTH, 0, 400);
  return tips;
}

void AddControlTip(HWND tooltips, HWND dialog, HWND control, const char* text, bool byArea) {
  if (tooltips == nullptr || control == nullptr) return;
  TOOLINFOA tool{};
  tool.cbSize = TTTOOLINFOA_V1_SIZE;
  tool.hwnd = dialog;
  tool.lpszText = const_cast<char*>(text);
  if (byArea) {
    tool.uFlags = TTF_SUBCLASS;
    tool.uId = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    GetWindowRect(control, &tool.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&tool.rect), 2);
  } else {
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
  }
  SendMessageA(tooltips, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void RegisterDialogAccelerators(HWND dialog, HACCEL table, const char* loadFailure) {
  if (table == nullptr)
    REPORT_DEBUG("%s", loadFailure);
  else if (!RegisterAcceleratorTable(dialog, table, true))
    REPORT_DEBUG("InitializeDialog() - No accelerator key table could registered for window 0x%X.",
                 static_cast<unsigned>(reinterpret_cast<uintptr_t>(dialog)));
}

INT_PTR SmallDialogCommonMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_HELP:
      DisplayHTMLControlHelp(static_cast<uint32_t>(reinterpret_cast<HELPINFO*>(lParam)->iCtrlId));
      return TRUE;
    case POST_DEBUG_MESSAGE:
      ShowPostedMessage(reinterpret_cast<void*>(wParam), dialog);
      return TRUE;
    case WM_DESTROY:
      UnregisterAcceleratorTable(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}

void CentreOverParent(HWND dialog, bool upperThird) {
  HWND parent = GetParent(dialog);
  RECT area{};
  if (parent == nullptr || !IsWindowVisible(parent) || !GetWindowRect(parent, &area) || IsRectEmpty(&area))
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
  RECT r;
  GetWindowRect(dialog, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + std::max<int>(0, ((area.bottom - area.top) - h) / (upperThird ? 3 : 2));
  const int sx = GetSystemMetrics(SM_XVIRTUALSCREEN), sy = GetSystemMetrics(SM_YVIRTUALSCREEN);
  x = std::max(sx, std::min(x, sx + GetSystemMetrics(SM_CXVIRTUALSCREEN) - w));
  y = std::max(sy, std::min(y, sy + GetSystemMetrics(SM_CYVIRTUALSCREEN) - h));
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int SmallIconSize() { return std::max(16, GetSystemMetrics(SM_CXSMICON)); }

void SetControlIcon(HWND dialog, int controlId, int iconId, int size) {
  HWND control = GetDlgItem(dialog, controlId);
  HANDLE icon = LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(iconId), IMAGE_ICON, size, size, LR_SHARED);
  if (control != nullptr && icon != nullptr)
    SendMessageA(control, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(icon));
}

void SetControlBitmap(HWND dialog, int controlId, int bitmapId) {
  HWND control = GetDlgItem(dialog, controlId);
  HANDLE bitmap = LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(bitmapId), IMAGE_BITMAP, 0, 0, LR_SHARED);
  if (control != nullptr && bitmap != nullptr)
    SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
}

bool OpenAddress(const char* address) {
  if (address == nullptr || *address == '\0') return false;
  const auto result = reinterpret_cast<INT_PTR>(ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL));
  if (result > 32) return true;
  REPORT_DEBUG("ShellExecute() failed with error = '%d' opening '%s'", static_cast<int>(result), address);
  return false;
}

namespace {

constexpr UINT_PTR LINK_SUBCLASS = 0x4C4E4B;  // any id of our own

LRESULT CALLBACK LinkProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
  const char* address = reinterpret_cast<const char*>(data);
  switch (message) {
    case WM_SETCURSOR: {
      static HCURSOR link = LoadCursorA(ModuleInstance(), MAKEINTRESOURCEA(IDC_CURSOR_LINK));
      SetCursor(link != nullptr ? link : LoadCursorA(nullptr, IDC_HAND));
      return TRUE;
    }
    case WM_LBUTTONUP:
      OpenAddress(address);
      return 0;
    case WM_GETDLGCODE:
      if (lParam != 0 && reinterpret_cast<MSG*>(lParam)->message == WM_KEYDOWN && wParam == VK_RETURN)
        return DLGC_WANTMESSAGE;
      break;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        OpenAddress(address);
        return 0;
      }
      break;
    case WM_NCDESTROY:
      RemoveWindowSubclass(control, LinkProc, LINK_SUBCLASS);
      break;
    default:
      break;
  }
  return DefSubclassProc(control, message, wParam, lParam);
}

}  // namespace

void MakeLinkControl(HWND control, const char* address) {
  if (control == nullptr) return;
  SetWindowSubclass(control, LinkProc, LINK_SUBCLASS, reinterpret_cast<DWORD_PTR>(address));
}

void DialogMessageOwner::Begin(HWND dialog) {
  // Only the UI thread's windows own messages (a caller may run the listing
  // on a thread of its own).
  if (GetCurrentThreadId() != GetUIThreadId()) return;
  previous_ = static_cast<HWND>(SetMessageWindow(dialog));
  begun_ = true;
}

void DialogMessageOwner::End(HWND dialog) {
  if (!begun_) return;
  begun_ = false;
  MSG pending;
  while (PeekMessageA(&pending, dialog, POST_DEBUG_MESSAGE, POST_DEBUG_MESSAGE, PM_REMOVE))
    ShowPostedMessage(reinterpret_cast<void*>(pending.wParam), previous_);
  // With no owner before, the closed dialog stays recorded: a window that
  // no longer exists owns nothing, and reports are then only logged.
  if (previous_ != nullptr && IsWindow(previous_)) SetMessageWindow(previous_);
}

INT_PTR GuardedDialogCall(const char* dialogName, UINT message, INT_PTR (*procedure)(HWND, UINT, WPARAM, LPARAM),
                          HWND dialog, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    return procedure(dialog, message, wParam, lParam);
  } catch (const std::exception& e) {
    try {
      REPORT_DEBUG("The %s failed while handling message 0x%X: %s", dialogName, message, e.what());
    } catch (...) {
    }
  } catch (...) {
    try {
      REPORT_DEBUG("The %s failed while handling message 0x%X.", dialogName, message);
    } catch (...) {
    }
  }
  return FALSE;
}
