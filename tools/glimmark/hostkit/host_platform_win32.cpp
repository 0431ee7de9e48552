#include "hostkit/host_platform.h"

#include <windows.h>

namespace hostkit {

const char* const kDefaultModuleFileName = "Glimmark2.8bf";

namespace {

std::string LastErrorText(DWORD code) {
  char* text = nullptr;
  DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                    FORMAT_MESSAGE_IGNORE_INSERTS,
                                nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length && text ? std::string(text, length) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
    result.pop_back();
  return result;
}

const char kWindowClass[] = "GlimmarkHostkitWindow";

}  // namespace

void* OpenLibrary(const std::string& path, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library && error) *error = LastErrorText(GetLastError());
  return reinterpret_cast<void*>(library);
}

void* FindLibrarySymbol(void* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH * 2];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return std::string();
  std::string path(buffer, length);
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

char PathSeparator() { return '\\'; }

bool MoveFileOver(const std::string& from, const std::string& to, std::string* error) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  if (error) *error = LastErrorText(GetLastError());
  return false;
}

void RemoveFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

int CurrentProcessId() { return static_cast<int>(GetCurrentProcessId()); }

intptr_t CreateHostWindow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);  // fails harmlessly when already registered
  HWND window = CreateWindowExA(0, kWindowClass, "glimmark", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                640, 480, nullptr, nullptr, instance, nullptr);
  return reinterpret_cast<intptr_t>(window);
}

void DestroyHostWindow(intptr_t window) {
  if (window) DestroyWindow(reinterpret_cast<HWND>(window));
}

}  // namespace hostkit
