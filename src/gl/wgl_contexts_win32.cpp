#include "gl/wgl_contexts.h"

#include <cstring>
#include <vector>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "runtime/report.h"

static_assert(sizeof(PIXELFORMATDESCRIPTOR) == sizeof(PixelFormatDescriptor) &&
                  offsetof(PIXELFORMATDESCRIPTOR, dwFlags) == offsetof(PixelFormatDescriptor, flags) &&
                  offsetof(PIXELFORMATDESCRIPTOR, cColorBits) == offsetof(PixelFormatDescriptor, colorBits) &&
                  offsetof(PIXELFORMATDESCRIPTOR, cAlphaBits) == offsetof(PixelFormatDescriptor, alphaBits) &&
                  offsetof(PIXELFORMATDESCRIPTOR, dwDamageMask) == offsetof(PixelFormatDescriptor, damageMask),
              "the portable pixel format description mirrors the system's");
static_assert(PFD_DOUBLEBUFFER == PIXEL_DOUBLEBUFFER && PFD_DRAW_TO_WINDOW == PIXEL_DRAW_TO_WINDOW &&
                  PFD_DRAW_TO_BITMAP == PIXEL_DRAW_TO_BITMAP && PFD_SUPPORT_GDI == PIXEL_SUPPORT_GDI &&
                  PFD_SUPPORT_OPENGL == PIXEL_SUPPORT_OPENGL && PFD_GENERIC_FORMAT == PIXEL_GENERIC_FORMAT &&
                  PFD_NEED_PALETTE == PIXEL_NEED_PALETTE && PFD_NEED_SYSTEM_PALETTE == PIXEL_NEED_SYSTEM_PALETTE &&
                  PFD_GENERIC_ACCELERATED == PIXEL_GENERIC_ACCELERATED && PFD_TYPE_RGBA == PIXEL_TYPE_RGBA,
              "pixel format flags");

namespace {

unsigned long long Bits(const void* handle) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)); }

#define REPORT_LAST_ERROR(...) REPORT_SYSTEM_ERROR(GetLastError(), __VA_ARGS__)

// The messages of one context kind.
struct KindTexts {
  const char* setPixelFormat;
  const char* createContext;
  const char* makeCurrent;
};

const KindTexts SCREEN_TEXTS = {"CreateScreenContext():  Could not SetPixelFormat for OpenGL use.",
                                "CreateScreenContext() - Failed to create OpenGL context.",
                                "CreateScreenContext() - Failed to make OpenGL context current."};
const KindTexts BITMAP_TEXTS = {"CreateBitmapContext():  Could not SetPixelFormat for OpenGL use.",
                                "CreateBitmapContext() - Failed to create OpenGL context.",
                                "CreateBitmapContext() - Failed to make OpenGL context current."};
const KindTexts OWN_BITMAP_TEXTS = {"CreateBitmapContextWithBitmap():  Could not SetPixelFormat for OpenGL use.",
                                    "CreateBitmapContextWithBitmap() - Failed to create OpenGL context.",
                                    "CreateBitmapContextWithBitmap() - Failed to make OpenGL context current."};

// The steps all kinds share once their DC exists: pixel format, context,
// current, GLEW, projection. On failure nothing of them is left behind.
bool MakeRenderingContext(HDC dc, const RECT& client, int pixelFormat, const PIXELFORMATDESCRIPTOR& descriptor,
                          const KindTexts& texts, HGLRC* out) {
  *out = nullptr;
  if (!SetPixelFormat(dc, pixelFormat, &descriptor)) {
    REPORT_LAST_ERROR("%s", texts.setPixelFormat);
    return false;
  }
  HGLRC rc = wglCreateContext(dc);
  if (rc == nullptr) {
    REPORT_LAST_ERROR("%s", texts.createContext);
    return false;
  }
  if (!wglMakeCurrent(dc, rc)) {
    REPORT_LAST_ERROR("%s", texts.makeCurrent);
    wglDeleteContext(rc);
    return false;
  }
  if (!CreateGLEWContext()) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(rc);
    return false;
  }
  SetGLSize(ToGLRect(client));
  if (CHECK_OPENGL_ERROR("CreateScreenContext() - Failed to set OpenGL viewport.") != 0) {
    DeleteGLEWContext(rc);
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(rc);
    return false;
  }
  *out = rc;
  return true;
}

// A memory DC compatible with the window's; the window DC goes back at once.
HDC CompatibleMemoryDC(HWND window, const char* noWindowDC, const char* noMemoryDC) {
  HDC windowDC = GetDC(window);
  if (windowDC == nullptr) {
    REPORT_LAST_ERROR("%s", noWindowDC);
    return nullptr;
  }
  HDC dc = CreateCompatibleDC(windowDC);
  const DWORD error = GetLastError();
  ReleaseDC(window, windowDC);
  if (dc == nullptr) REPORT_SYSTEM_ERROR(error, "%s", noMemoryDC);
  return dc;
}

int32_t Width(const RECT& r) { return r.right - r.left; }
int32_t Height(const RECT& r) { return r.bottom - r.top; }

}  // namespace

int SelectPixelFormat(HWND window, bool softwareOnly, PIXELFORMATDESCRIPTOR* descriptor, bool* gpuAcceleration) {
  HDC dc = GetDC(window);
  if (dc == nullptr) {
    REPORT_LAST_ERROR("SelectPixelFormat() - Failed to get window device context.");
    return 0;
  }
  REPORT_TRACE("Getting number of pixel formats.");
  const int count = DescribePixelFormat(dc, 1, 0, nullptr);
  if (count <= 0) {
    REPORT_LAST_ERROR("Can't obtain the number of pixel formats available.");
    ReleaseDC(window, dc);
    return 0;
  }
  std::vector<PixelFormatDescriptor> formats(static_cast<size_t>(count));
  for (int i = 1; i <= count; ++i) {
    PIXELFORMATDESCRIPTOR pfd;
    if (DescribePixelFormat(dc, i, sizeof pfd, &pfd) == 0) {
      REPORT_LAST_ERROR("Failed while enumerating Device Context 0x%llX.", Bits(dc));
      formats.clear();
      break;
    }
    std::memcpy(&formats[static_cast<size_t>(i - 1)], &pfd, sizeof pfd);
  }
  ReleaseDC(window, dc);
  PixelFormatChoice choice = ChoosePixelFormatFrom(formats.data(), static_cast<int>(formats.size()), softwareOnly);
  if (choice.index == 0) {
    REPORT_DEBUG("Failed to find any match for the requested window pixel format.");
    return 0;
  }
  std::memcpy(descriptor, &formats[static_cast<size_t>(choice.index - 1)], sizeof *descriptor);
  *gpuAcceleration = choice.gpuAcceleration;
  REPORT_TRACE("Selected pixel format = %d, GPU Acceleration = %s.", choice.index, choice.gpuAcceleration ? "Yes" : "No");
  return choice.index;
}

bool CreateContextBitmap(ContextBitmap* bitmap, HDC dc, int32_t width, int32_t height) {
  ContextBitmap made{};
  made.header.bV5Size = sizeof(BITMAPV5HEADER);
  made.header.bV5Width = width;
  made.header.bV5Height = height;  // positive: bottom-up rows, as OpenGL reads them
  made.header.bV5Planes = 1;
  made.header.bV5BitCount = 32;
  made.header.bV5Compression = BI_RGB;
  made.header.bV5CSType = LCS_WINDOWS_COLOR_SPACE;
  made.header.bV5Intent = LCS_GM_IMAGES;
  made.handle = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&made.header), DIB_RGB_COLORS, &made.bits, nullptr, 0);
  if (made.handle == nullptr) {
    DebugMessage message = MakeDebugMessage(__LINE__, SYSTEM_ERROR, GetLastError());
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, "Failed to create new context bitmap");
    return false;
  }
  made.bounds = RECT{0, 0, width, height};
  made.width = width;
  made.height = height;
  DeleteContextBitmap(bitmap);
  *bitmap = made;
  return true;
}

void DeleteContextBitmap(ContextBitmap* bitmap) {
  if (bitmap->handle != nullptr) {
    GdiFlush();
    DeleteObject(bitmap->handle);
  }
  *bitmap = ContextBitmap{};
}

bool AttachBackgroundBitmap(ContextBitmap* bitmap, HDC dc) {
  if (bitmap->handle == nullptr || bitmap->savedDCState != 0) return false;
  int state = SaveDC(dc);
  if (state == 0 || SelectObject(dc, bitmap->handle) == nullptr) {
    if (state != 0) RestoreDC(dc, state);
    REPORT_LAST_ERROR("AttachBackgroundBitmap() - Could not attach background bitmap to the device context.");
    return false;
  }
  bitmap->savedDCState = state;
  return true;
}

bool DetachBackgroundBitmap(ContextBitmap* bitmap, HDC dc) {
  if (bitmap->savedDCState == 0) return false;
  GdiFlush();
  // Restoring the saved state selects back whatever the DC held before.
  bool ok = RestoreDC(dc, bitmap->savedDCState) != 0;
  if (!ok) REPORT_LAST_ERROR("DetachBackgroundBitmap() - Could not detach background bitmap from the device context.");
  bitmap->savedDCState = 0;
  return ok;
}

OpenGLContext CreateScreenContext(HWND window, const RECT& client, int pixelFormat,
                                  const PIXELFORMATDESCRIPTOR& descriptor) {
  OpenGLContext context{};
  HDC dc = GetDC(window);
  if (dc == nullptr) {
    REPORT_LAST_ERROR("CreateScreenContext() - Failed to get Proxy Window device context.");
    return context;
  }
  HGLRC rc = nullptr;
  if (!MakeRenderingContext(dc, client, pixelFormat, descriptor, SCREEN_TEXTS, &rc)) {
    ReleaseDC(window, dc);
    return context;
  }
  context.type = CONTEXT_TYPE_SCREEN;
  context.window = window;
  context.dc = dc;
  context.rc = rc;
  LogOpenGLImplementation(rc);
  return context;
}

OpenGLContext CreateBitmapContext(HWND proxyWindow, ContextBitmap* screenBitmap, const RECT& client, int pixelFormat,
                                  const PIXELFORMATDESCRIPTOR& descriptor) {
  OpenGLContext context{};
  HDC dc = CompatibleMemoryDC(proxyWindow, "CreateBitmapContext() - Failed to get Proxy Window device context.",
                              "CreateBitmapContext() - Failed to create compatible device context.");
  if (dc == nullptr) return context;
  // The shared bitmap belongs to one DC at a time; a stale size is remade.
  if (screenBitmap->savedDCState != 0) {
    REPORT_DEBUG("CreateBitmapContext() - The screen bitmap is still attached to another device context.");
    DeleteDC(dc);
    return context;
  }
  if ((screenBitmap->handle == nullptr || screenBitmap->width != Width(client) ||
       screenBitmap->height != Height(client)) &&
      !CreateContextBitmap(screenBitmap, dc, Width(client), Height(client))) {
    DeleteDC(dc);
    return context;
  }
  if (!AttachBackgroundBitmap(screenBitmap, dc)) {
    DeleteDC(dc);
    return context;
  }
  HGLRC rc = nullptr;
  if (!MakeRenderingContext(dc, client, pixelFormat, descriptor, BITMAP_TEXTS, &rc)) {
    DetachBackgroundBitmap(screenBitmap, dc);
    DeleteDC(dc);
    return context;
  }
  context.type = CONTEXT_TYPE_BITMAP;
  context.window = proxyWindow;
  context.dc = dc;
  context.rc = rc;
  context.screenBitmap = screenBitmap;
  LogOpenGLImplementation(rc);
  return context;
}

OpenGLContext CreateBitmapContextWithBitmap(HWND window, const RECT& client, int pixelFormat,
                                            const PIXELFORMATDESCRIPTOR& descriptor) {
  OpenGLContext context{};
  HDC dc = CompatibleMemoryDC(window, "CreateBitmapContextWithBitmap() - Failed to get window device context.",
                              "CreateBitmapContextWithBitmap() - Failed to create compatible device context.");
  if (dc == nullptr) return context;
  if (!CreateContextBitmap(&context.bitmap, dc, Width(client), Height(client))) {
    REPORT_DEBUG("CreateBitmapContextWithBitmap() - Failed to create context bitmap.");
    DeleteDC(dc);
    return context;
  }
  HGLRC rc = nullptr;
  if (!AttachBackgroundBitmap(&context.bitmap, dc) ||
      !MakeRenderingContext(dc, client, pixelFormat, descriptor, OWN_BITMAP_TEXTS, &rc)) {
    // Every failure after the DC gives back the DC and the DIB section.
    if (context.bitmap.savedDCState != 0) DetachBackgroundBitmap(&context.bitmap, dc);
    DeleteContextBitmap(&context.bitmap);
    DeleteDC(dc);
    return OpenGLContext{};
  }
  context.type = CONTEXT_TYPE_BITMAP;
  context.window = window;
  context.dc = dc;
  context.rc = rc;
  LogOpenGLImplementation(rc);
  return context;
}

void ReleaseOpenGLContext(OpenGLContext* context) {
  HDC currentDC = wglGetCurrentDC();
  HGLRC currentRC = wglGetCurrentContext();
  if (context->rc != nullptr) {
    if (currentRC == context->rc && currentDC == context->dc && !wglMakeCurrent(context->dc, nullptr))
      REPORT_LAST_ERROR("ReleaseOpenGLContext() - Failed to release OpenGL rendering context 0x%llX.", Bits(context->rc));
    DeleteGLEWContext(context->rc);
    if (!wglDeleteContext(context->rc))
      REPORT_LAST_ERROR("ReleaseOpenGLContext() - Failed to delete OpenGL context 0x%llX.", Bits(context->rc));
    context->rc = nullptr;
  }
  switch (context->type) {
    case CONTEXT_TYPE_NONE:
      REPORT_DEBUG("ReleaseOpenGLContext() - Invalid OpenGLContext specified.");
      return;
    case CONTEXT_TYPE_SCREEN:
      if (ReleaseDC(context->window, context->dc) == 1)
        context->dc = nullptr;
      else
        REPORT_LAST_ERROR("ReleaseOpenGLContext() - Failed to release screen device context 0x%llX belonging to window "
                          "0x%llX.",
                          Bits(context->dc), Bits(context->window));
      break;
    case CONTEXT_TYPE_BITMAP:
      if (context->screenBitmap != nullptr) DetachBackgroundBitmap(context->screenBitmap, context->dc);
      context->screenBitmap = nullptr;
      if (context->bitmap.handle != nullptr) {
        if (context->bitmap.savedDCState != 0) DetachBackgroundBitmap(&context->bitmap, context->dc);
        DeleteContextBitmap(&context->bitmap);
      }
      if (DeleteDC(context->dc))
        context->dc = nullptr;
      else
        REPORT_LAST_ERROR("ReleaseOpenGLContext() - Failed to delete bitmap device context 0x%llX.", Bits(context->dc));
      break;
    default:
      REPORT_DEBUG("ReleaseOpenGLContext() - Unrecognized OpenGLContext type specified, Type = %d.", context->type);
      return;
  }
  context->type = CONTEXT_TYPE_NONE;
  context->window = nullptr;
}
