// Hidden windows and the short-lived probe contexts made on them.
#include <mutex>

#include "gl/wgl_contexts.h"
#include "platform/platform.h"
#include "runtime/report.h"

namespace {

const char* const HIDDEN_CLASS = "BWHideWnd";

// The class lives while any hidden window does; two threads may make and
// destroy probes at once.
std::mutex HiddenWindowLock;
ATOM HiddenClass = 0;
int LiveHiddenWindows = 0;

}  // namespace

HWND CreateHiddenWindow() {
  HINSTANCE instance = static_cast<HINSTANCE>(PlatformModuleHandle());
  if (instance == nullptr) {
    REPORT_DEBUG("The application's instance handle has not been initialized.");
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(HiddenWindowLock);
  if (HiddenClass == 0) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS | CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = HIDDEN_CLASS;
    HiddenClass = RegisterClassA(&windowClass);
    if (HiddenClass == 0) {
      REPORT_SYSTEM_ERROR(GetLastError(), "CreateHiddenWindow() - Failed to register hidden window class.");
      return nullptr;
    }
  }
  HWND window = CreateWindowExA(0, HIDDEN_CLASS, "", WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, CW_USEDEFAULT,
                                CW_USEDEFAULT, 16, 16, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    REPORT_SYSTEM_ERROR(GetLastError(), "CreateHiddenWindow() - Failed to create hidden window.");
    if (LiveHiddenWindows == 0) {
      if (!UnregisterClassA(HIDDEN_CLASS, instance))
        REPORT_SYSTEM_ERROR(GetLastError(),
                            "CreateHiddenWindow() - Failed to unregister hidden window class after another error "
                            "occurred.");
      HiddenClass = 0;
    }
    return nullptr;
  }
  ++LiveHiddenWindows;
  return window;
}

bool DestroyHiddenWindow(HWND window) {
  bool ok = true;
  if (!DestroyWindow(window)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "DestroyHiddenWindow() - Failed to destroy hidden window.");
    ok = false;
  }
  std::lock_guard<std::mutex> lock(HiddenWindowLock);
  if (LiveHiddenWindows > 0 && --LiveHiddenWindows == 0 && HiddenClass != 0) {
    if (!UnregisterClassA(HIDDEN_CLASS, static_cast<HINSTANCE>(PlatformModuleHandle()))) {
      REPORT_SYSTEM_ERROR(GetLastError(), "DestroyHiddenWindow() - Failed to unregister hidden window class.");
      ok = false;
    }
    HiddenClass = 0;
  }
  return ok;
}

bool CreateHiddenOpenGLContext(OpenGLContext* context, PIXELFORMATDESCRIPTOR* descriptor, bool* gpuAcceleration) {
  *context = OpenGLContext{};
  REPORT_TRACE("CreateHiddenWindow()");
  HWND window = CreateHiddenWindow();
  if (window == nullptr) {
    REPORT_DEBUG("CreateHiddenOpenGLContext() - Failed to create a hidden window for context.");
    return false;
  }
  RECT client{};
  GetClientRect(window, &client);
  REPORT_TRACE("SelectPixelFormat()");
  bool accelerated = false;
  int format = SelectPixelFormat(window, !*gpuAcceleration, descriptor, &accelerated);
  if (format == 0) {
    REPORT_DEBUG("CreateHiddenOpenGLContext() - Could not select an acceptable pixel format.");
    DestroyHiddenWindow(window);
    return false;
  }
  *gpuAcceleration = accelerated;
  if (accelerated) {
    REPORT_TRACE("CreateScreenContext()");
    *context = CreateScreenContext(window, client, format, *descriptor);
  } else {
    REPORT_TRACE("CreateBitmapContextWithBitmap()");
    *context = CreateBitmapContextWithBitmap(window, client, format, *descriptor);
  }
  if (context->type == CONTEXT_TYPE_NONE) {
    REPORT_DEBUG("CreateHiddenOpenGLContext() - Could not create an OpenGL context.");
    DestroyHiddenWindow(window);
    return false;
  }
  return true;
}

bool DestroyHiddenOpenGLContext(OpenGLContext* context) {
  if (context == nullptr || context->type == CONTEXT_TYPE_NONE) {
    REPORT_DEBUG("DestroyHiddenOpenGLContext() - An invalid OpenGL context was specified.");
    return false;
  }
  HWND window = context->window;
  ReleaseOpenGLContext(context);
  return DestroyHiddenWindow(window);
}
