#include "dialog_driver.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "ui/resource_ids.h"

namespace uitest {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string BinFolder() {
  char path[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/"));
}

std::string Photo(const char* name) { return Env("GLIMMARK_TESTDATA") + "\\" + name; }
std::string Output(const char* name) { return BinFolder() + "\\..\\test-output\\" + name; }

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > end) return false;
    Sleep(20);
  }
  return true;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

const char* const DRAWING_MODE_KEY = "Software\\Brightwerk Software\\Glimmark\\2.0\\OpenGLSettings";

void SetMachineDrawingMode(int mode) {
  HKEY key = nullptr;
  if (mode < 0) {
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, DRAWING_MODE_KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
      RegDeleteValueA(key, "OpenGLOptimizationSetting");
      RegCloseKey(key);
    }
    return;
  }
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, DRAWING_MODE_KEY, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return;
  const DWORD value = static_cast<DWORD>(mode);
  RegSetValueExA(key, "OpenGLOptimizationSetting", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

namespace {

struct Search {
  DWORD pid;
  const std::string* caption;
  bool dialogClass;
  HWND found;
  int count;
};

BOOL CALLBACK Visit(HWND window, LPARAM p) {
  auto* s = reinterpret_cast<Search*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if ((s->pid != 0 && pid != s->pid) || !IsWindowVisible(window)) return TRUE;
  char text[256] = {}, kind[64] = {};
  GetWindowTextA(window, text, sizeof text);
  GetClassNameA(window, kind, sizeof kind);
  if (text != *s->caption || (s->dialogClass && std::strcmp(kind, "#32770") != 0)) return TRUE;
  if (s->found == nullptr) s->found = window;
  ++s->count;
  return TRUE;
}

}  // namespace

HWND FindProcessWindow(DWORD pid, const std::string& caption, bool dialogClass) {
  Search search{pid, &caption, dialogClass, nullptr, 0};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int CountWindows(const std::string& caption) {
  Search search{0, &caption, true, nullptr, 0};
  EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
  return search.count;
}

Glimmark::Glimmark(const std::string& arguments) {
  std::string line = "\"" + BinFolder() + "\\glimmark.exe\" " + arguments;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  started_ = CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process_);
}

Glimmark::~Glimmark() {
  if (!started_) return;
  if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(process_.hProcess, 99);
  CloseHandle(process_.hProcess);
  CloseHandle(process_.hThread);
}

int Glimmark::Wait(int seconds) {
  if (WaitForSingleObject(process_.hProcess, static_cast<DWORD>(seconds) * 1000) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_.hProcess, &code);
  return static_cast<int>(code);
}

HWND Glimmark::Dialog(int seconds) {
  HWND found = nullptr;
  WaitFor([&] {
    found = FindProcessWindow(process_.dwProcessId, "Glimmark 2");
    return found != nullptr && GetDlgItem(found, IDC_PROXY) != nullptr;
  }, seconds);
  return found != nullptr && GetDlgItem(found, IDC_PROXY) != nullptr ? found : nullptr;
}

HWND Glimmark::Window(const std::string& caption, int seconds) {
  HWND found = nullptr;
  WaitFor([&] {
    found = FindProcessWindow(process_.dwProcessId, caption);
    return found != nullptr;
  }, seconds);
  return found;
}

uintptr_t FramesShown(HWND dialog) {
  return reinterpret_cast<uintptr_t>(GetPropA(GetDlgItem(dialog, IDC_PROXY), "GlimmarkFramesShown"));
}

bool WaitUntilReady(HWND dialog) {
  return WaitFor([&] { return IsWindowEnabled(GetDlgItem(dialog, IDC_TOOL_HIDE)) && FramesShown(dialog) > 0; }, 120);
}

bool WaitForNextFrame(HWND dialog) {
  const uintptr_t before = FramesShown(dialog);
  return WaitFor([&] { return FramesShown(dialog) > before; }, 60);
}

void Command(HWND dialog, int id, int code) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string Text(HWND window) {
  char text[512] = {};
  SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

RECT ClientRectOf(HWND dialog, int id) {
  RECT r;
  GetWindowRect(GetDlgItem(dialog, id), &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string ClipboardText() {
  std::string text;
  for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt) Sleep(20);
  HANDLE data = GetClipboardData(CF_TEXT);
  if (data != nullptr) {
    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

void SetClipboardText(const std::string& text) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  if (block == nullptr) return;
  std::memcpy(GlobalLock(block), text.c_str(), text.size() + 1);
  GlobalUnlock(block);
  for (int attempt = 0; attempt < 50 && !OpenClipboard(nullptr); ++attempt) Sleep(20);
  EmptyClipboard();
  if (SetClipboardData(CF_TEXT, block) == nullptr) GlobalFree(block);
  CloseClipboard();
}

void SaveScreenshot(HWND dialog, const std::string& fileName) {
  // The discovered tests get only the first of their environment's values,
  // so the build's artifacts folder is the default.
  std::string folder = Env("GLIMMARK_ARTIFACTS");
  if (folder.empty()) folder = BinFolder() + "\\..\\..\\artifacts";
  const std::string path = folder + "\\" + fileName;
  // Painting is the window's own thread's business: let it finish first.
  RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  RECT r;
  GetWindowRect(dialog, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  SelectObject(memory, old);
  std::vector<uint8_t> rgb(static_cast<size_t>(w) * h * 3);
  const auto* bgra = static_cast<const uint8_t*>(bits);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
    rgb[i * 3] = bgra[i * 4 + 2];
    rgb[i * 3 + 1] = bgra[i * 4 + 1];
    rgb[i * 3 + 2] = bgra[i * 4];
  }
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop pngInfo = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, file);
    png_set_IHDR(png, pngInfo, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, pngInfo);
    for (int y = 0; y < h; ++y) png_write_row(png, &rgb[static_cast<size_t>(y) * w * 3]);
    png_write_end(png, pngInfo);
  }
  png_destroy_write_struct(&png, &pngInfo);
  std::fclose(file);
}

}  // namespace uitest
