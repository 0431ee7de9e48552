#pragma once
// WGL rendering contexts (Windows builds only; include from *_win32.cpp).
//
// Three kinds: a screen context drawing into a window, a bitmap context
// drawing into a memory DC with the preview's shared screen bitmap selected,
// and a bitmap context with a DIB section of its own (what a probe uses when
// no accelerated format exists). Each creation makes the context current on
// the calling thread and gives it its GLEW descriptor; every failure is
// reported where it happens, releases what was made so far (window DC,
// memory DC, DIB section, context) and answers a record of type
// CONTEXT_TYPE_NONE. A context is used and released on the thread that made
// it.
#include <windows.h>

#include <cstdint>

#include "gl/gl_support.h"
#include "gl/pixel_format.h"

enum ContextType : int32_t {
  CONTEXT_TYPE_NONE = 0,
  CONTEXT_TYPE_SCREEN = 1,
  CONTEXT_TYPE_BITMAP = 2,
};

// A 32-bit bottom-up DIB section and its attachment to a device context.
struct ContextBitmap {
  BITMAPV5HEADER header;
  void* bits;
  HBITMAP handle;  // null: none
  RECT bounds;
  int32_t savedDCState;  // SaveDC's index while selected into a DC, else 0
  int32_t width;
  int32_t height;
};

struct OpenGLContext {
  int32_t type;
  HWND window;
  HDC dc;
  HGLRC rc;
  ContextBitmap bitmap;        // own DIB section (CreateBitmapContextWithBitmap only)
  ContextBitmap* screenBitmap; // the shared bitmap selected into dc (CreateBitmapContext), not owned
};

// Pixel formats of the window's device: the chosen 1-based index (0: none
// fits, reported), its description and whether it is accelerated.
int SelectPixelFormat(HWND window, bool softwareOnly, PIXELFORMATDESCRIPTOR* descriptor, bool* gpuAcceleration);

OpenGLContext CreateScreenContext(HWND window, const RECT& client, int pixelFormat,
                                  const PIXELFORMATDESCRIPTOR& descriptor);
// The memory DC is compatible with proxyWindow's; screenBitmap is (re)made
// for the client size when it has none or another size, and selected.
OpenGLContext CreateBitmapContext(HWND proxyWindow, ContextBitmap* screenBitmap, const RECT& client, int pixelFormat,
                                  const PIXELFORMATDESCRIPTOR& descriptor);
OpenGLContext CreateBitmapContextWithBitmap(HWND window, const RECT& client, int pixelFormat,
                                            const PIXELFORMATDESCRIPTOR& descriptor);
void ReleaseOpenGLContext(OpenGLContext* context);

// DIB sections of the screen-bitmap kind: 32 bits, bottom-up rows. Made on
// dc (any DC of the screen's format); the previous section of the record is
// deleted after the new one exists.
bool CreateContextBitmap(ContextBitmap* bitmap, HDC dc, int32_t width, int32_t height);
void DeleteContextBitmap(ContextBitmap* bitmap);
bool AttachBackgroundBitmap(ContextBitmap* bitmap, HDC dc);
bool DetachBackgroundBitmap(ContextBitmap* bitmap, HDC dc);

// A hidden 16 x 16 pop-up of the class "BWHideWnd", registered while any
// such window lives.
HWND CreateHiddenWindow();
bool DestroyHiddenWindow(HWND window);

// A context for a short probe: a screen context on a hidden window when an
// accelerated format exists (and *gpuAcceleration asks for one), else a
// bitmap context with its own DIB; *gpuAcceleration receives the result.
bool CreateHiddenOpenGLContext(OpenGLContext* context, PIXELFORMATDESCRIPTOR* descriptor, bool* gpuAcceleration);
bool DestroyHiddenOpenGLContext(OpenGLContext* context);

// The client rectangle as the portable helpers take it.
inline GLRect ToGLRect(const RECT& rect) { return GLRect{rect.left, rect.top, rect.right, rect.bottom}; }
