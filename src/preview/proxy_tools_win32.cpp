#include <windows.h>
#include <windowsx.h>
#include <commctrl.h>

#include <algorithm>
#include <cmath>

#include "platform/platform.h"
#include "preview/background_task.h"
#include "preview/proxy_controls.h"
#include "preview/proxy_tools.h"
#include "ui/popup_menu.h"
#include "ui/resource_ids.h"
#include "ui/ui_settings.h"

namespace {

constexpr UINT_PTR BAND_TIMER = 1;     // 100 ms: the band scrolls the view past the edge
constexpr UINT_PTR PANNING_TIMER = 2;  // 15 ms: the image follows the hand

struct ProxyTools {
  HWND dialog = nullptr;
  HWND proxy = nullptr;
  PreviewSession* session = nullptr;
  MasterLightSourceTable* table = nullptr;
  ProxyViewState view{};
  int32_t tool = TOOL_ZOOM;
  int32_t savedTool = TOOL_ZOOM;
  bool effectToolsReady = false;
  ProxyMouseState state = MOUSE_IDLE;
  POINT press{}, anchor{}, last{};  // screen coordinates
  bool bandShown = false;
  RECT band{};  // proxy client coordinates
  HCURSOR cursor = nullptr;
  HHOOK keyboardHook = nullptr;
  HMENU zoomMenu = nullptr;
  HBITMAP bitmaps[7] = {};  // zoom out, pressed, disabled; zoom in, pressed, disabled; menu
  bool zoomOutEnabled = true;
  bool zoomInEnabled = true;
};

ProxyTools g_tools;

HINSTANCE Instance() { return static_cast<HINSTANCE>(PlatformModuleHandle()); }

HWND Item(int id) { return GetDlgItem(g_tools.dialog, id); }

// The proxy less its one-pixel frame, in its client coordinates.
RECT InnerRect() {
  RECT r{};
  GetClientRect(g_tools.proxy, &r);
  InflateRect(&r, -1, -1);
  return r;
}

POINT ToClient(POINT screen) {
  ScreenToClient(g_tools.proxy, &screen);
  return screen;
}

POINT ClampToInner(POINT p) {
  const RECT inner = InnerRect();
  p.x = std::clamp<LONG>(p.x, inner.left, std::max(inner.left, inner.right - 1));
  p.y = std::clamp<LONG>(p.y, inner.top, std::max(inner.top, inner.bottom - 1));
  return p;
}

bool CursorInsideInner() {
  POINT p;
  if (g_tools.proxy == nullptr || !GetCursorPos(&p)) return false;
  const RECT inner = InnerRect();
  return PtInRect(&inner, ToClient(p)) != FALSE;
}

// The view as the task's requests carry it.
void ApplyViewToSession() {
  PreviewSession* s = g_tools.session;
  if (s == nullptr) return;
  const ProxyViewState& v = g_tools.view;
  const ImageRect image = ScaledImageBounds(v);
  s->view.zoomPercent = v.zoom;
  s->view.scrollX = std::max(0, v.visible.left - image.left);
  s->view.scrollY = std::max(0, v.visible.top - image.top);
  s->view.viewRect = RenderingRect{v.client.left, v.client.top, v.client.right, v.client.bottom};
  s->view.selectionRect = g_tools.bandShown ? RenderingRect{g_tools.band.left, g_tools.band.top, g_tools.band.right,
                                                            g_tools.band.bottom}
                                            : RenderingRect{0, 0, 0, 0};
  if (g_tools.table != nullptr) s->view.tableChangeCount = GetLightSourceChangeCounter(g_tools.table);
}

// The proxy's size and the image's bounds as the view keeps them.
void RefreshViewGeometry() {
  RECT client{};
  if (g_tools.proxy != nullptr) GetClientRect(g_tools.proxy, &client);
  g_tools.view.client = ImageRect{client.left, client.top, client.right, client.bottom};
  if (g_tools.session != nullptr && g_tools.session->hostImage != nullptr)
    g_tools.view.imageBounds = g_tools.session->hostImage->bufferRect;
}

void SetZoomBitmap(int id, HBITMAP bitmap) {
  HWND control = Item(id);
  if (control != nullptr && bitmap != nullptr) SendMessageA(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
}

void UpdateZoomControls() {
  const double zoom = g_tools.view.zoom;
  SetDlgItemTextA(g_tools.dialog, IDC_ZOOM_FIELD, ZoomFieldText(zoom).c_str());
  g_tools.zoomInEnabled = zoom < PROXY_MAX_ZOOM;
  g_tools.zoomOutEnabled = zoom > PROXY_MIN_ZOOM;
  SetZoomBitmap(IDC_ZOOM_IN, g_tools.bitmaps[g_tools.zoomInEnabled ? 3 : 5]);
  SetZoomBitmap(IDC_ZOOM_OUT, g_tools.bitmaps[g_tools.zoomOutEnabled ? 0 : 2]);
  EnableWindow(Item(IDC_ZOOM_IN), g_tools.zoomInEnabled);
  EnableWindow(Item(IDC_ZOOM_OUT), g_tools.zoomOutEnabled);
  if (g_tools.proxy != nullptr) PostMessageA(g_tools.proxy, PROXY_UPDATE_CURSOR, 0, 0);
}

void SetBar(int id, const ProxyScrollBar& bar) {
  HWND control = Item(id);
  if (control == nullptr) return;
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  if (bar.active) {
    info.nMin = bar.minimum;
    info.nMax = bar.maximum;
    info.nPage = static_cast<UINT>(bar.page);
    info.nPos = bar.position;
  }
  SetScrollInfo(control, SB_CTL, &info, TRUE);
  EnableWindow(control, bar.active);
}

void UpdateScrollBars() {
  ProxyScrollBar h, v;
  ComputeScrollBars(g_tools.view, &h, &v);
  SetBar(IDC_HSCROLL, h);
  SetBar(IDC_VSCROLL, v);
}

// The view as it now stands in the zoom controls, the bars and the
// session, without a new frame.
void ShowView() {
  UpdateZoomControls();
  UpdateScrollBars();
  ApplyViewToSession();
}

// Every change of the view ends here: controls, bars and a new frame.
void ViewChanged() {
  ShowView();
  RequestFullProxyUpdate();
}

void ScrollBy(int32_t dx, int32_t dy) {
  if (ScrollViewBy(&g_tools.view, dx, dy)) {
    UpdateScrollBars();
    RequestFullProxyUpdate();
  }
}

// A client point of the proxy as a point of the scaled image.
void ScaledPointOf(POINT client, double* x, double* y) {
  ClientToScaledPoint(g_tools.view, client.x, client.y, x, y);
}

ProxyKeys HeldKeys() {
  return ProxyKeys{GetKeyState(VK_MENU) < 0, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_SPACE) < 0};
}

void UpdateProxyCursor(bool ignoreKeys) {
  const ProxyKeys keys = ignoreKeys ? ProxyKeys{false, false, false} : HeldKeys();
  const bool pressed = g_tools.state == MOUSE_PANNING;
  const ProxyCursor which = CursorForTool(g_tools.tool, keys, pressed, g_tools.view.zoom);
  HCURSOR cursor = which == CURSOR_ARROW ? LoadCursor(nullptr, IDC_ARROW)
                                         : LoadCursorA(Instance(), MAKEINTRESOURCEA(static_cast<int>(which)));
  if (cursor == nullptr) cursor = LoadCursor(nullptr, IDC_ARROW);
  g_tools.cursor = cursor;
  if (g_tools.proxy != nullptr) SetClassLongPtrA(g_tools.proxy, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
  if (g_tools.state == MOUSE_IDLE && CursorInsideInner()) SetCursor(cursor);
}

// The band between the anchor and a point (screen coordinates).
void DrawSelectionBand(POINT anchorScreen, POINT pointScreen) {
  const POINT a = ToClient(anchorScreen), b = ClampToInner(ToClient(pointScreen));
  RECT band{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
  g_tools.band = band;
  g_tools.bandShown = true;
  ApplyViewToSession();
  UpdateProxyDisplay(nullptr, 0x112);
}

void RemoveSelectionBand(bool redraw) {
  if (!g_tools.bandShown) return;
  g_tools.bandShown = false;
  g_tools.band = RECT{};
  ApplyViewToSession();
  if (redraw) UpdateProxyDisplay(nullptr, 0x112);
}

void StopTimers() {
  KillTimer(g_tools.proxy, BAND_TIMER);
  KillTimer(g_tools.proxy, PANNING_TIMER);
}

// Host pixels of the band: left and top inclusive.
LightSourceRect BandInImagePixels() {
  double left, top, right, bottom;
  ClientToImagePixel(g_tools.view, g_tools.band.left, g_tools.band.top, &left, &top);
  ClientToImagePixel(g_tools.view, g_tools.band.right, g_tools.band.bottom, &right, &bottom);
  return LightSourceRect{static_cast<int32_t>(std::floor(left)), static_cast<int32_t>(std::floor(top)),
                         static_cast<int32_t>(std::ceil(right)), static_cast<int32_t>(std::ceil(bottom))};
}

bool Dragged(POINT release) {
  const int dx = GetSystemMetrics(SM_CXDRAG), dy = GetSystemMetrics(SM_CYDRAG);
  return std::abs(release.x - g_tools.press.x) > dx || std::abs(release.y - g_tools.press.y) > dy;
}

void ZoomStepAt(POINT screen, bool in) {
  double x, y;
  ScaledPointOf(ClampToInner(ToClient(screen)), &x, &y);
  const double zoom = in ? ZoomInLevel(g_tools.view.zoom, 1) : ZoomOutLevel(g_tools.view.zoom, 1);
  SetProxyZoom(zoom, x, y);
}

void OnButtonDown() {
  POINT p;
  GetCursorPos(&p);
  g_tools.press = g_tools.anchor = g_tools.last = p;
  SetCapture(g_tools.proxy);
  SetFocus(g_tools.proxy);
  const ProxyMouseState state = MouseStateForPress(g_tools.tool, HeldKeys());
  if (state == MOUSE_INVALID) {
    REPORT_DEBUG("Invalid Tool encountered in event WM_LBUTTONDOWN");
    ReleaseCapture();
    g_tools.state = MOUSE_IDLE;
    return;
  }
  g_tools.state = state;
  const int32_t timer = MouseStateTimer(state);
  if (timer > 0) SetTimer(g_tools.proxy, timer == 15 ? PANNING_TIMER : BAND_TIMER, static_cast<UINT>(timer), nullptr);
  UpdateProxyCursor(false);
  SetCursor(g_tools.cursor);
}

void OnButtonUp() {
  POINT release;
  GetCursorPos(&release);
  const ProxyMouseState state = g_tools.state;
  g_tools.state = MOUSE_IDLE;  // before the capture goes, so that its loss does nothing more
  StopTimers();
  switch (state) {
    case MOUSE_IDLE:
    case MOUSE_NO_ACTION:
    case MOUSE_PANNING:
      break;
    case MOUSE_ZOOM_OUT:
      ZoomStepAt(release, false);
      break;
    case MOUSE_ZOOM_IN_AT_RELEASE:
      ZoomStepAt(release, true);
      break;
    case MOUSE_ZOOM_IN: {
      if (Dragged(release)) {
        const POINT a = ToClient(g_tools.anchor), b = ClampToInner(ToClient(release));
        RemoveSelectionBand(false);
        double zoom, cx, cy;
        if (ZoomToRectangle(g_tools.view, a.x, a.y, b.x, b.y, &zoom, &cx, &cy)) SetProxyZoom(zoom, cx, cy);
        else RequestFullProxyUpdate();
      } else {
        RemoveSelectionBand(false);
        ZoomStepAt(release, true);
      }
      break;
    }
    case MOUSE_HIDE:
    case MOUSE_UNHIDE:
    case MOUSE_FORCE:
    case MOUSE_UNFORCE: {
      LightSourceOperation operation;
      LightSourceOperationOf(state, &operation);
      if (g_tools.table == nullptr) break;
      if (Dragged(release)) {
        const POINT a = ToClient(g_tools.anchor), b = ClampToInner(ToClient(release));
        g_tools.band = RECT{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
        const bool changed = SetLightSourceStateInRect(g_tools.table, BandInImagePixels(), operation);
        RemoveSelectionBand(!changed);
        if (changed) RequestFullProxyUpdate();
      } else {
        RemoveSelectionBand(false);
        double x, y;
        ClientToImagePixel(g_tools.view, ToClient(release).x, ToClient(release).y, &x, &y);
        SetStateOfNearestLightSource(g_tools.table, static_cast<int32_t>(x), static_cast<int32_t>(y), operation,
                                     g_tools.view.zoom);
        RequestFullProxyUpdate();
      }
      break;
    }
    default:
      REPORT_DEBUG("Invalid Mouse State encountered in event WM_LBUTTONUP");
      RemoveSelectionBand(true);
      break;
  }
  if (GetCapture() == g_tools.proxy) ReleaseCapture();
  UpdateProxyCursor(false);
}

void OnCaptureLost() {
  const ProxyMouseState state = g_tools.state;
  if (state == MOUSE_IDLE) return;
  StopTimers();
  if (state >= MOUSE_ZOOM_IN && state <= MOUSE_UNFORCE) RemoveSelectionBand(true);
  else if (state > MOUSE_UNFORCE) REPORT_DEBUG("Invalid Mouse State encountered in event WM_CAPTURECHANGED");
  g_tools.state = MOUSE_IDLE;
}

void OnMouseMove() {
  if (g_tools.state > MOUSE_UNFORCE) {
    REPORT_DEBUG("Invalid Mouse State encountered in event WM_MOUSEMOVE");
    return;
  }
  if (g_tools.state < MOUSE_ZOOM_IN) return;
  POINT p;
  GetCursorPos(&p);
  if (p.x == g_tools.last.x && p.y == g_tools.last.y) return;
  g_tools.last = p;
  DrawSelectionBand(g_tools.anchor, p);
}

void OnTimer(UINT_PTR id) {
  POINT p;
  GetCursorPos(&p);
  if (id == PANNING_TIMER && g_tools.state == MOUSE_PANNING) {
    if (p.x != g_tools.last.x || p.y != g_tools.last.y) {
      ScrollBy(g_tools.last.x - p.x, g_tools.last.y - p.y);
      g_tools.last = p;
    }
  } else if (id == BAND_TIMER && g_tools.state >= MOUSE_ZOOM_IN && g_tools.state <= MOUSE_UNFORCE) {
    const POINT c = ToClient(p);
    const RECT inner = InnerRect();
    const LONG dx = c.x < inner.left ? c.x - inner.left : (c.x >= inner.right ? c.x - inner.right + 1 : 0);
    const LONG dy = c.y < inner.top ? c.y - inner.top : (c.y >= inner.bottom ? c.y - inner.bottom + 1 : 0);
    if (dx == 0 && dy == 0) return;
    const ImageRect before = g_tools.view.visible;
    ScrollBy(dx, dy);
    // The anchor stays on the same image point.
    g_tools.anchor.x -= g_tools.view.visible.left - before.left;
    g_tools.anchor.y -= g_tools.view.visible.top - before.top;
    DrawSelectionBand(g_tools.anchor, p);
  }
}

LRESULT CALLBACK KeyboardHook(int code, WPARAM key, LPARAM flags) {
  if (code == HC_ACTION && g_tools.proxy != nullptr && GetActiveWindow() == g_tools.dialog) {
    if (key == VK_CONTROL || key == VK_MENU || key == VK_SHIFT) {
      PostMessageA(g_tools.proxy, PROXY_UPDATE_CURSOR, 0, 0);
    } else if (key == VK_SPACE) {
      PostMessageA(g_tools.proxy, PROXY_UPDATE_CURSOR, 0, 0);
      // Space over the preview is the temporary Hand: no button may take it.
      if (CursorInsideInner()) return 1;
    }
  }
  return CallNextHookEx(g_tools.keyboardHook, code, key, flags);
}

void RemoveKeyboardHook() {
  if (g_tools.keyboardHook != nullptr) UnhookWindowsHookEx(g_tools.keyboardHook);
  g_tools.keyboardHook = nullptr;
}

// A zoom menu choice around a scaled-image point (-1, -1: the centre).
bool ZoomMenuChoice(uint32_t command, double x, double y) {
  if (command >= ID_ZOOM_6400 && command <= ID_ZOOM_6) {
    static const double levels[] = {6400, 3200, 1600, 1200, 1000, 800, 600, 400, 300,
                                    200,  100,  66.67, 50, 33.33, 25, 12.5, 6.25};
    SetProxyZoom(levels[command - ID_ZOOM_6400], x, y);
    return true;
  }
  switch (command) {
    case ID_ZOOM_ACTUAL_PIXELS: SetProxyZoom(100.0, x, y); return true;
    case ID_ZOOM_FIT_IN_VIEW: FitProxyInView(); return true;
    case ID_ZOOM_FIT_ON_SCREEN: FitProxyOnScreen(); return true;
    default: return false;
  }
}

void RunZoomMenu(POINT at, UINT alignment, double x, double y) {
  HMENU popup = g_tools.zoomMenu != nullptr ? GetSubMenu(g_tools.zoomMenu, 0) : nullptr;
  const uint32_t command = TrackMenuChoice(popup, at.x, at.y, alignment | TPM_RIGHTBUTTON, g_tools.dialog);
  if (command != 0 && !ZoomMenuChoice(command, x, y))
    REPORT_DEBUG("TrackPopupMenu() returned unexpected value 0x%X", static_cast<unsigned>(command));
}

void OnContextMenu(LPARAM lParam) {
  POINT at{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
  if (at.x == -1 && at.y == -1) GetCursorPos(&at);
  const POINT c = ToClient(at);
  const ImageRect& shown = g_tools.view.imageOnScreen;
  double x = -1, y = -1;
  if (c.x >= shown.left && c.x < shown.right && c.y >= shown.top && c.y < shown.bottom) ScaledPointOf(c, &x, &y);
  RunZoomMenu(at, TPM_RIGHTALIGN | TPM_TOPALIGN, x, y);
}

bool OnKey(WPARAM key, LPARAM flags) {
  ProxyKey which;
  switch (key) {
    case VK_LEFT: which = KEY_LEFT; break;
    case VK_RIGHT: which = KEY_RIGHT; break;
    case VK_UP: which = KEY_UP; break;
    case VK_DOWN: which = KEY_DOWN; break;
    case VK_PRIOR: which = KEY_PAGE_UP; break;
    case VK_NEXT: which = KEY_PAGE_DOWN; break;
    case VK_HOME: which = KEY_HOME; break;
    case VK_END: which = KEY_END; break;
    default: return false;
  }
  const int32_t repeat = static_cast<int32_t>(flags & 0xFFFF);
  const ProxyNavigation n = NavigationForKey(which, GetKeyState(VK_CONTROL) < 0, GetKeyState(VK_SHIFT) < 0, repeat);
  if (ApplyNavigation(&g_tools.view, n)) ViewChanged();
  return true;
}

void OnWheel(WPARAM wParam) {
  const int32_t notches = WheelNotches(&g_tools.view, GET_WHEEL_DELTA_WPARAM(wParam));
  const ProxyNavigation n = NavigationForWheel(notches, GetKeyState(VK_MENU) < 0, GetKeyState(VK_CONTROL) < 0,
                                               GetKeyState(VK_SHIFT) < 0, g_tools.view.zoom);
  if (ApplyNavigation(&g_tools.view, n)) ViewChanged();
}

// The zoom buttons show their pressed picture while held and act on release.
LRESULT CALLBACK ZoomButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id, DWORD_PTR) {
  const bool in = id == IDC_ZOOM_IN;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      SetCapture(window);
      SetZoomBitmap(static_cast<int>(id), g_tools.bitmaps[in ? 4 : 1]);
      return 0;
    case WM_LBUTTONUP: {
      if (GetCapture() == window) ReleaseCapture();
      RECT r;
      GetClientRect(window, &r);
      const POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (PtInRect(&r, p)) {
        if (in) ZoomProxyIn(1);
        else ZoomProxyOut(1);
      } else {
        UpdateZoomControls();
      }
      return 0;
    }
    case WM_NCDESTROY:
      RemoveWindowSubclass(window, ZoomButtonProc, id);
      break;
    default:
      break;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

void SetupProxyTools(WindowHandle dialog, WindowHandle proxy, PreviewSession* session, MasterLightSourceTable* table,
                     int32_t tool) {
  g_tools.dialog = static_cast<HWND>(dialog);
  g_tools.proxy = static_cast<HWND>(proxy);
  g_tools.session = session;
  g_tools.table = table;
  g_tools.state = MOUSE_IDLE;
  g_tools.bandShown = false;
  g_tools.effectToolsReady = false;
  g_tools.view = ProxyViewState{};
  RefreshViewGeometry();
  SetViewCentre(&g_tools.view, -1, -1, g_tools.view.zoom);
  const int ids[7] = {IDB_ZOOM_OUT, IDB_ZOOM_OUT_PRESSED, IDB_ZOOM_OUT_DISABLED, IDB_ZOOM_IN,
                      IDB_ZOOM_IN_PRESSED, IDB_ZOOM_IN_DISABLED, IDB_ZOOM_MENU};
  for (int i = 0; i < 7; ++i)
    if (g_tools.bitmaps[i] == nullptr)
      g_tools.bitmaps[i] = static_cast<HBITMAP>(LoadImageA(Instance(), MAKEINTRESOURCEA(ids[i]), IMAGE_BITMAP, 0, 0, 0));
  SetZoomBitmap(IDC_ZOOM_MENU, g_tools.bitmaps[6]);
  if (g_tools.zoomMenu == nullptr) g_tools.zoomMenu = LoadMenuA(Instance(), MAKEINTRESOURCEA(IDM_ZOOM_MENU));
  for (int id : {IDC_ZOOM_IN, IDC_ZOOM_OUT})
    if (HWND button = Item(id)) SetWindowSubclass(button, ZoomButtonProc, static_cast<UINT_PTR>(id), 0);
  if (g_tools.keyboardHook == nullptr)
    g_tools.keyboardHook = SetWindowsHookExA(WH_KEYBOARD, KeyboardHook, nullptr, GetCurrentThreadId());
  g_tools.savedTool = tool;
  // Hide and Show wait for the analysis; Zoom stands in for them until then.
  SelectProxyTool(tool == TOOL_HIDE_EFFECTS || tool == TOOL_SHOW_EFFECTS ? TOOL_ZOOM : tool);
  ShowView();
}

void ShutdownProxyTools() {
  RemoveKeyboardHook();
  if (g_tools.proxy != nullptr) StopTimers();
  if (g_tools.zoomMenu != nullptr) DestroyMenu(g_tools.zoomMenu);
  g_tools.zoomMenu = nullptr;
  for (HBITMAP& b : g_tools.bitmaps) {
    if (b != nullptr) DeleteObject(b);
    b = nullptr;
  }
  g_tools.dialog = g_tools.proxy = nullptr;
  g_tools.session = nullptr;
  g_tools.table = nullptr;
}

void SelectProxyTool(int32_t tool) {
  if (!g_tools.effectToolsReady && (tool == TOOL_HIDE_EFFECTS || tool == TOOL_SHOW_EFFECTS)) return;
  struct Button {
    int id;
    int32_t tool;
    int normal, selected, disabled;
  };
  static const Button buttons[] = {
      {IDC_TOOL_HAND, TOOL_HAND, IDI_TOOL_HAND, IDI_TOOL_HAND_SELECTED, IDI_TOOL_HAND},
      {IDC_TOOL_ZOOM, TOOL_ZOOM, IDI_TOOL_ZOOM, IDI_TOOL_ZOOM_SELECTED, IDI_TOOL_ZOOM},
      {IDC_TOOL_HIDE, TOOL_HIDE_EFFECTS, IDI_TOOL_HIDE, IDI_TOOL_HIDE_SELECTED, IDI_TOOL_HIDE_DISABLED},
      {IDC_TOOL_SHOW, TOOL_SHOW_EFFECTS, IDI_TOOL_SHOW, IDI_TOOL_SHOW_SELECTED, IDI_TOOL_SHOW_DISABLED},
  };
  const int size = GetSystemMetrics(SM_CXICON);
  for (const Button& b : buttons) {
    HWND control = Item(b.id);
    if (control == nullptr) continue;
    const int icon = b.tool == tool ? b.selected : (IsWindowEnabled(control) ? b.normal : b.disabled);
    HANDLE image = LoadImageA(Instance(), MAKEINTRESOURCEA(icon), IMAGE_ICON, size, size, LR_SHARED);
    if (image != nullptr) SendMessageA(control, STM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(image));
  }
  if (tool != g_tools.tool) {
    g_tools.tool = tool;
    if (g_tools.proxy != nullptr) PostMessageA(g_tools.proxy, PROXY_UPDATE_CURSOR, 0, 0);
  }
}

int32_t SelectedProxyTool() { return g_tools.tool; }

void EnableEffectTools() {
  g_tools.effectToolsReady = true;
  EnableWindow(Item(IDC_TOOL_HIDE), TRUE);
  EnableWindow(Item(IDC_TOOL_SHOW), TRUE);
  SelectProxyTool(g_tools.savedTool);
}

const ProxyViewState& ProxyView() { return g_tools.view; }

void SetProxyZoom(double zoom, double x, double y) {
  RefreshViewGeometry();
  SetViewCentre(&g_tools.view, x, y, ClampZoom(zoom));
  ViewChanged();
}

void ZoomProxyIn(int count) { SetProxyZoom(ZoomInLevel(g_tools.view.zoom, count)); }
void ZoomProxyOut(int count) { SetProxyZoom(ZoomOutLevel(g_tools.view.zoom, count)); }

void FitProxyInView() {
  RefreshViewGeometry();
  SetProxyZoom(FitInViewZoom(g_tools.view));
}

void FitProxyOnScreen() {
  HMONITOR monitor = MonitorFromWindow(g_tools.dialog, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  if (monitor != nullptr && GetMonitorInfoA(monitor, &info)) {
    const RECT& w = info.rcWork;
    SetWindowPos(g_tools.dialog, nullptr, w.left, w.top, w.right - w.left, w.bottom - w.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
  FitProxyInView();
}

void SetOpeningZoom() {
  RefreshViewGeometry();
  double zoom = FitInViewZoom(g_tools.view);
  if (zoom > 100.0 && zoom < 150.0) zoom = 100.0;
  SetViewCentre(&g_tools.view, -1, -1, zoom);
  ShowView();
}

void ProxyResized() {
  if (g_tools.proxy == nullptr) return;
  RefreshViewGeometry();
  SetViewCentre(&g_tools.view, -1, -1, g_tools.view.zoom);
  ShowView();
}

bool ProxyZoomCommand(uint32_t command) {
  switch (command) {
    case ID_ZOOM_IN_STEP: ZoomProxyIn(1); return true;
    case ID_ZOOM_OUT_STEP: ZoomProxyOut(1); return true;
    case ID_FIT_IN_VIEW: FitProxyInView(); return true;
    case ID_FIT_ON_SCREEN: FitProxyOnScreen(); return true;
    case ID_ZOOM_MENU_BUTTON: OpenZoomMenuFrom(IDC_ZOOM_MENU); return true;
    default: return ZoomMenuChoice(command, -1, -1);
  }
}

void OpenZoomMenuFrom(int32_t controlId) {
  HWND control = Item(controlId);
  if (control == nullptr) return;
  RECT r;
  GetWindowRect(control, &r);
  if (controlId == IDC_ZOOM_FIELD) RunZoomMenu(POINT{(r.left + r.right) / 2, r.top - 2}, TPM_CENTERALIGN | TPM_BOTTOMALIGN, -1, -1);
  else RunZoomMenu(POINT{r.left, r.top - 2}, TPM_LEFTALIGN | TPM_BOTTOMALIGN, -1, -1);
}

void ProxyScrollMessage(bool vertical, int32_t code) {
  HWND bar = Item(vertical ? IDC_VSCROLL : IDC_HSCROLL);
  ProxyScrollBar h, v;
  ComputeScrollBars(g_tools.view, &h, &v);
  const ProxyScrollBar& which = vertical ? v : h;
  // The thumb's place as a 32-bit number: the message's 16 bits wrap on a
  // large image at high zoom.
  SCROLLINFO info{};
  info.cbSize = sizeof info;
  info.fMask = SIF_TRACKPOS;
  int32_t track = which.position;
  if (bar != nullptr && GetScrollInfo(bar, SB_CTL, &info)) track = info.nTrackPos;
  const int32_t delta = ScrollBarPosition(which, code, track) - which.position;
  ScrollBy(vertical ? 0 : delta, vertical ? delta : 0);
}

void ResetProxyMouseState() {
  if (g_tools.proxy == nullptr) return;
  if (GetCapture() == g_tools.proxy) ReleaseCapture();
  OnCaptureLost();
  UpdateProxyCursor(true);
}

void RequestFullProxyUpdate() {
  ApplyViewToSession();
  UpdateProxyDisplay(nullptr, 0x13);
}

bool ProxyToolsMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam, intptr_t* result) {
  if (g_tools.proxy == nullptr || window != g_tools.proxy) return false;
  *result = 0;
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      OnButtonDown();
      return true;
    case WM_LBUTTONUP:
      OnButtonUp();
      return true;
    case WM_MOUSEMOVE:
      OnMouseMove();
      return true;
    case WM_CAPTURECHANGED:
      OnCaptureLost();
      return true;
    case WM_TIMER:
      OnTimer(wParam);
      return true;
    case WM_SETCURSOR:
      if (LOWORD(lParam) != HTCLIENT) return false;
      SetCursor(g_tools.cursor != nullptr ? g_tools.cursor : LoadCursor(nullptr, IDC_ARROW));
      *result = TRUE;
      return true;
    case PROXY_UPDATE_CURSOR:
      UpdateProxyCursor(false);
      return true;
    case WM_KEYDOWN:
      return OnKey(wParam, lParam);
    case WM_MOUSEWHEEL:
      OnWheel(wParam);
      return true;
    case WM_CONTEXTMENU:
      OnContextMenu(lParam);
      return true;
    case WM_GETDLGCODE:
      *result = DLGC_WANTARROWS;
      return true;
    default:
      return false;
  }
}
