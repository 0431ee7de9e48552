#include <windows.h>

#include <cstring>
#include <mutex>

#include "color/display_profile.h"
#include "gl/buffer_objects.h"
#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/opengl_drawing.h"
#include "gl/wgl_contexts.h"
#include "platform/platform.h"
#include "preview/background_task.h"
#include "preview/proxy_controls.h"
#include "preview/proxy_window.h"
#include "preview/scaled_proxy_display.h"

namespace {

const char* const PROXY_CLASS = "ProxyDisplay";

// One preview at a time, as there is one task.
struct ProxyDrawing {
  HWND window = nullptr;
  HWND parent = nullptr;
  PreviewSession* session = nullptr;
  std::atomic<int16_t>* resultCode = nullptr;
  const std::atomic<bool>* dialogEnded = nullptr;
  int pixelFormat = 0;
  PIXELFORMATDESCRIPTOR descriptor{};
  bool accelerated = false;
  OpenGLContext gl{};
  ContextBitmap bitmap{};  // the bitmap context's target
  ScaledProxyLayer layer{};
  // Finished frames: the task fills one while the window paints the other.
  std::mutex frameLock;
  std::vector<uint8_t> frames[2];
  int32_t width[2] = {0, 0};
  int32_t height[2] = {0, 0};
  int shown = -1;
  std::atomic<uint32_t> frameCount{0};
  std::atomic<bool> focus{false};
  uint32_t backBufferPBO = 0;  // reads the back buffer (with pixel buffers)
  size_t backBufferSize = 0;
};

ProxyDrawing g_proxy;

bool CreateDrawing(void* context) {
  auto* d = static_cast<ProxyDrawing*>(context);
  RECT client{};
  GetClientRect(d->window, &client);
  d->gl = d->accelerated ? CreateScreenContext(d->window, client, d->pixelFormat, d->descriptor)
                         : CreateBitmapContext(d->window, &d->bitmap, client, d->pixelFormat, d->descriptor);
  if (d->gl.rc == nullptr) return false;
  int16_t resultCode = 0;
  if (!InitializeOpenGLDrawingSettings(d->accelerated, &resultCode)) return false;
  PreviewSession* s = d->session;
  d->layer = ScaledProxyLayer{};
  d->layer.proxy = s->proxy;
  d->layer.hostImage = s->hostImage;
  d->layer.table = s->table;
  d->layer.gray = s->gray;
  d->layer.displayProfile = GetDisplayProfile(d->window);
  // Both targets keep the whole view: the window paints the kept frame.
  d->layer.screenDrawing = true;
  d->layer.abort = BackgroundAbortFlagOf(ABORT_SCALED_PROXY);
  d->layer.keyboardFocus = &d->focus;
  d->layer.progressContext = d;
  d->layer.progress = [](void* c, uint32_t done, uint32_t total) {
    PostMessageA(static_cast<ProxyDrawing*>(c)->parent, SET_PROXY_PROGRESS_BAR, done, static_cast<LPARAM>(total));
  };
  return InitializeScaledProxyLayer(&d->layer);
}

void ReleaseDrawing(void* context) {
  auto* d = static_cast<ProxyDrawing*>(context);
  if (d->backBufferPBO != 0) glbuffers::DeleteBuffer(&d->backBufferPBO);
  d->backBufferSize = 0;
  if (d->layer.initialized) DestroyScaledProxyLayer(&d->layer);
  if (d->gl.type != CONTEXT_TYPE_NONE) ReleaseOpenGLContext(&d->gl);
  d->gl = OpenGLContext{};
  DeleteContextBitmap(&d->bitmap);
}

// Keeps the frame just drawn for painting and shows it. `counted`: a real
// frame, not the splash screen.
bool KeepFrame(ProxyDrawing* d, int32_t w, int32_t h, bool counted) {
  const bool screen = d->gl.type == CONTEXT_TYPE_SCREEN;
  if (screen && !AcquireResizeLock()) return false;
  const int next = d->shown == 0 ? 1 : 0;
  std::vector<uint8_t>& frame = d->frames[next];
  const size_t bytes = static_cast<size_t>(w) * static_cast<size_t>(h) * 4;
  frame.resize(bytes);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  if (screen) glReadBuffer(GL_BACK);
  // With a pixel buffer the read is only started before the swap and the
  // copy made after it, so that the driver overlaps the two.
  const bool viaBuffer = screen && UsePixelBufferObjects();
  if (viaBuffer) {
    if (d->backBufferPBO == 0) glbuffers::GenBuffer(&d->backBufferPBO);
    glbuffers::BindBuffer(GL_PIXEL_PACK_BUFFER, d->backBufferPBO);
    if (d->backBufferSize < bytes) {
      glbuffers::BufferData(GL_PIXEL_PACK_BUFFER, static_cast<GLsizeiptr>(bytes + static_cast<size_t>(w) * 4), nullptr,
                            GL_DYNAMIC_COPY);
      d->backBufferSize = bytes;
    }
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
    glbuffers::BindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (CHECK_OPENGL_ERROR("Failed to copy framebuffer into BackBufferPBO.") != 0) {
      ReleaseResizeLock();
      return false;
    }
  } else {
    glReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_BYTE, frame.data());
  }
  bool read = CHECK_OPENGL_ERROR("Write to screen bitmap from OpenGL failed.") == 0;
  if (screen && !SizeMoveInProgress() && !SwapBuffers(d->gl.dc)) REPORT_DEBUG("Buffer swappage was unsuccessful.");
  if (viaBuffer && read) {
    glbuffers::BindBuffer(GL_PIXEL_PACK_BUFFER, d->backBufferPBO);
    const void* mapped = glbuffers::MapBuffer(GL_PIXEL_PACK_BUFFER, GL_READ_ONLY);
    if (mapped == nullptr) {
      REPORT_DEBUG("Failed to map PBO used for bitmap copy.");
      read = false;
    } else {
      std::memcpy(frame.data(), mapped, bytes);
      if (!glbuffers::UnmapBuffer(GL_PIXEL_PACK_BUFFER)) REPORT_DEBUG("Failed to unmap PBO used for bitmap copy.");
    }
    glbuffers::BindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    if (CHECK_OPENGL_ERROR("Failed to copy image from PBO to bitmap.") != 0) read = false;
  }
  if (read && counted && FrameNeedsSoftwareGamma(d->layer))
    ApplyDisplayGamma(static_cast<size_t>(w) * static_cast<size_t>(h), GL_UNSIGNED_BYTE, frame.data());
  if (read) {
    std::lock_guard<std::mutex> lock(d->frameLock);
    d->width[next] = w;
    d->height[next] = h;
    d->shown = next;
  }
  if (screen) ReleaseResizeLock();
  if (read && counted) ++d->frameCount;
  // The window paints the kept frame (the only way a frame reaches the
  // screen from a bitmap, and the sure one for a window).
  if (read && !SizeMoveInProgress()) UpdateProxyDisplay(nullptr, 0x110 | 0x220);
  if (SizeMoveInProgress()) PostMessageA(d->parent, REFRESH_PROXY_DISPLAY, 0, 0);
  return read;
}

// One pass: the frame drawn, kept for painting, and shown.
bool RenderProxyPass(void* context, const RenderingParameters* parameters, RegionHandle /*region*/) {
  auto* d = static_cast<ProxyDrawing*>(context);
  // The off-screen bitmap keeps the size it was made with, and its context
  // is bound to it: a proxy that changed size gets a new bitmap and context.
  const int32_t viewWidth = parameters->viewRect.right - parameters->viewRect.left;
  const int32_t viewHeight = parameters->viewRect.bottom - parameters->viewRect.top;
  if (d->gl.type == CONTEXT_TYPE_BITMAP && viewWidth > 0 && viewHeight > 0 &&
      (viewWidth != d->bitmap.width || viewHeight != d->bitmap.height)) {
    ReleaseDrawing(d);
    if (!CreateDrawing(d)) return false;
  }
  UpdateProxyDisplayState(&d->layer, *parameters);
  if (!RenderScaledProxyDisplay(&d->layer, *parameters)) return false;
  if (!ViewHasRoom(*parameters)) return true;  // nothing was drawn
  return KeepFrame(d, parameters->viewRect.right - parameters->viewRect.left,
                   parameters->viewRect.bottom - parameters->viewRect.top, true);
}

// The splash screen while the analysis runs (the task's start-up steps).
void DrawSplash(void* context) {
  auto* d = static_cast<ProxyDrawing*>(context);
  if (!d->layer.initialized) return;
  RECT client{};
  GetClientRect(d->window, &client);
  if (client.right <= 2 || client.bottom <= 2) return;
  if (DrawSplashScreen(&d->layer, ImageRect{0, 0, client.right, client.bottom}))
    KeepFrame(d, client.right, client.bottom, false);
}

void Post(void* /*context*/, WindowHandle window, uint32_t message, uintptr_t first, intptr_t second) {
  if (!PostMessageA(static_cast<HWND>(window), message, first, second) && message == UPDATE_PROXY_DISPLAY)
    DeleteRegion(reinterpret_cast<RegionHandle>(first));
}

void Validate(void* /*context*/, WindowHandle window) { ValidateRect(static_cast<HWND>(window), nullptr); }

void Redraw(void* /*context*/, WindowHandle window, RegionHandle region, bool invalidate) {
  RedrawWindow(static_cast<HWND>(window), nullptr, static_cast<HRGN>(region),
               RDW_INTERNALPAINT | (invalidate ? RDW_INVALIDATE : 0));
}

ImageRect Client(void* /*context*/, WindowHandle window) {
  RECT r{};
  GetClientRect(static_cast<HWND>(window), &r);
  return ImageRect{r.left, r.top, r.right, r.bottom};
}

void Paint(ProxyDrawing* d) {
  // How many frames the window has shown, for tools that drive the dialog
  // from outside (tests, automation) and must know a frame is up.
  SetPropA(d->window, "GlimmarkFramesShown", reinterpret_cast<HANDLE>(static_cast<uintptr_t>(d->frameCount.load())));
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(d->window, &paint);
  std::lock_guard<std::mutex> lock(d->frameLock);
  if (d->shown >= 0) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = d->width[d->shown];
    info.bmiHeader.biHeight = d->height[d->shown];  // bottom-up, as OpenGL reads
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(d->width[d->shown]), static_cast<DWORD>(d->height[d->shown]), 0,
                      0, 0, static_cast<UINT>(d->height[d->shown]), d->frames[d->shown].data(), &info, DIB_RGB_COLORS);
  } else {
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
  }
  EndPaint(d->window, &paint);
}

void UpdateView(ProxyDrawing* d) {
  RECT client{};
  GetClientRect(d->window, &client);
  d->session->view.viewRect = RenderingRect{client.left, client.top, client.right, client.bottom};
}

LRESULT CALLBACK ProxyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ProxyDrawing* d = &g_proxy;
  intptr_t handled = 0;
  if (ProxyToolsMessage(window, message, wParam, lParam, &handled)) return handled;
  switch (message) {
    case WM_CREATE: {
      d->window = window;
      d->parent = GetParent(window);
      if (d->session == nullptr) return -1;
      UpdateView(d);
      const bool software = GlobalOpenGLSettings().drawingMode == OPTIMIZE_NONE;
      d->pixelFormat = SelectPixelFormat(window, software, &d->descriptor, &d->accelerated);
      if (d->pixelFormat == 0) {
        REPORT_USER(STYLE_ERROR, "Error - Exiting Plug-in", "Could not set pixel format for OpenGL operations.");
        if (d->resultCode != nullptr) d->resultCode->store(-50);
        return -1;
      }
      BackgroundTaskHost host{};
      host.context = d;
      host.createDrawing = CreateDrawing;
      host.releaseDrawing = ReleaseDrawing;
      host.renderPass = RenderProxyPass;
      host.postMessage = Post;
      host.validateWindow = Validate;
      host.redrawWindow = Redraw;
      host.clientRect = Client;
      host.offscreenBitmap = !d->accelerated;
      host.resultCode = d->resultCode;
      host.dialogEnded = [](void* c) {
        const std::atomic<bool>* ended = static_cast<ProxyDrawing*>(c)->dialogEnded;
        return ended != nullptr && ended->load();
      };
      return CreateBackgroundTask(window, d->parent, host) ? 0 : -1;
    }
    case WM_DESTROY: {
      RemovePropA(window, "GlimmarkFramesShown");
      // The task's last calls into the window system may need this thread
      // (Wine's drivers send messages to a window's own thread): serve sent
      // messages while it ends, leaving posted ones where they are.
      AbortBackgroundRendering();
      const ULONGLONG end = GetTickCount64() + 10000;
      while (!BackgroundTaskFinished() && GetTickCount64() < end) {
        MSG pending;
        PeekMessageA(&pending, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_SENDMESSAGE);
      }
      DestroyBackgroundTask();
      return 0;
    }
    case WM_PAINT:
      Paint(d);
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      d->focus = message == WM_SETFOCUS;
      UpdateProxyDisplay(nullptr, 0x102);
      return 0;
    case WM_ERASEBKGND:
    case WM_NCHITTEST:
    case WM_KEYUP:
    case WM_UPDATEUISTATE:
      return message == WM_NCHITTEST ? HTCLIENT : 1;
    case WM_WINDOWPOSCHANGING:
      if ((reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0) BeginProxyResize();
      break;
    case WM_WINDOWPOSCHANGED:
      if ((reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_NOSIZE) == 0) {
        UpdateView(d);
        EndProxyResize();
      }
      break;
    case UPDATE_PROXY_DISPLAY:
      UpdateProxyDisplay(reinterpret_cast<RegionHandle>(wParam), static_cast<uint32_t>(lParam));
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

bool CreateProxyDisplayClass() {
  HINSTANCE instance = static_cast<HINSTANCE>(PlatformModuleHandle());
  WNDCLASSA existing{};
  if (GetClassInfoA(instance, PROXY_CLASS, &existing)) return true;
  WNDCLASSA windowClass{};
  windowClass.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS | CS_NOCLOSE;
  windowClass.lpfnWndProc = ProxyWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = PROXY_CLASS;
  if (RegisterClassA(&windowClass) != 0) return true;
  REPORT_DEBUG("CreateProxyDisplayClass() - Failed to register ProxyDisplay class.");
  return false;
}

void DeleteProxyDisplayClass() {
  if (!UnregisterClassA(PROXY_CLASS, static_cast<HINSTANCE>(PlatformModuleHandle())))
    REPORT_DEBUG("DeleteProxyDisplayClass() - Failed to unregister ProxyDisplay class.");
}

void PrepareProxyDisplay(PreviewSession* session, std::atomic<int16_t>* resultCode,
                         const std::atomic<bool>* dialogEnded) {
  ProxyDrawing* d = &g_proxy;
  {
    std::lock_guard<std::mutex> lock(d->frameLock);
    d->shown = -1;
    d->frames[0].clear();
    d->frames[1].clear();
  }
  d->frameCount = 0;
  d->session = session;
  d->resultCode = resultCode;
  d->dialogEnded = dialogEnded;
  if (session != nullptr) {
    session->drawSplash = DrawSplash;
    session->splashContext = d;
  }
}

WindowHandle CreateProxyWindow(WindowHandle parent, const ImageRect& rect, PreviewSession* session,
                               std::atomic<int16_t>* resultCode) {
  HINSTANCE instance = static_cast<HINSTANCE>(PlatformModuleHandle());
  if (!CreateProxyDisplayClass()) return nullptr;
  ProxyDrawing* d = &g_proxy;
  PrepareProxyDisplay(session, resultCode);
  d->parent = static_cast<HWND>(parent);
  HWND window = CreateWindowExA(0, PROXY_CLASS, "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, rect.left, rect.top,
                                rect.right - rect.left, rect.bottom - rect.top, d->parent, nullptr, instance, nullptr);
  if (window == nullptr) REPORT_SYSTEM_ERROR(GetLastError(), "Could not create the preview window.");
  return window;
}

bool CopyShownProxyFrame(std::vector<uint8_t>* pixels, int32_t* width, int32_t* height) {
  std::lock_guard<std::mutex> lock(g_proxy.frameLock);
  if (g_proxy.shown < 0) return false;
  *pixels = g_proxy.frames[g_proxy.shown];
  *width = g_proxy.width[g_proxy.shown];
  *height = g_proxy.height[g_proxy.shown];
  return true;
}

uint32_t ProxyFramesShown() { return g_proxy.frameCount.load(); }
