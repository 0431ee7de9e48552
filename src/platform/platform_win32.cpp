// The operating-system seam for the Windows builds.
#include "platform/platform.h"

#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <cstdlib>
#include <vector>

namespace {

// The module's instance, recorded when the loader attaches the plug-in.
HINSTANCE ModuleInstance = nullptr;

bool IsFolder(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // Thread notifications stay on: the statically linked run-time library
  // relies on them.
  if (reason == DLL_PROCESS_ATTACH) ModuleInstance = instance;
  return TRUE;
}

uint32_t PlatformCurrentThreadId() { return GetCurrentThreadId(); }

uint32_t PlatformGetLastError() { return GetLastError(); }

void PlatformSetLastError(uint32_t code) { SetLastError(code); }

std::string PlatformSystemErrorText(uint32_t code) {
  char buffer[512] = {0};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
  if (length == 0) return std::string();
  std::string result(buffer, length < sizeof buffer ? length : sizeof buffer - 1);
  size_t cut = result.find_first_of("\r\n");
  if (cut != std::string::npos) result.erase(cut);
  return result;
}

WindowHandle PlatformActiveWindow() { return GetActiveWindow(); }

bool PlatformIsWindow(WindowHandle window) {
  return window != nullptr && IsWindow(static_cast<HWND>(window)) != FALSE;
}

void PlatformShowMessageBox(WindowHandle owner, const char* text, const char* caption, uint32_t style) {
  MessageBoxA(static_cast<HWND>(owner), text != nullptr ? text : "", caption != nullptr ? caption : "",
              style | MB_SETFOREGROUND);
}

bool PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return PostMessageA(static_cast<HWND>(window), message, static_cast<WPARAM>(wparam),
                      static_cast<LPARAM>(lparam)) != FALSE;
}

bool PlatformInitializeCom() {
  // S_FALSE (already initialised on this thread) also needs a matching
  // uninitialise, so it counts as success.
  HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return SUCCEEDED(result);
}

void PlatformUninitializeCom() { CoUninitialize(); }

void* PlatformModuleHandle() {
  // Outside a DLL (the test programs) DllMain never runs; the executable's
  // own handle stands in.
  if (ModuleInstance != nullptr) return ModuleInstance;
  return GetModuleHandleA(nullptr);
}

bool PlatformHostExecutablePath(std::string* path) {
  if (path == nullptr) return false;
  try {
    // The wide call sees paths of any length and any characters; a result
    // that fills the buffer may have been cut, so the buffer grows until it
    // does not.
    std::vector<wchar_t> wide(MAX_PATH + 1);
    DWORD length = 0;
    for (;;) {
      length = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
      if (length == 0) return false;
      if (length < wide.size()) break;
      if (wide.size() >= 32768) return false;
      wide.resize(wide.size() * 4);
    }
    const int count = static_cast<int>(length);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return false;
    std::string result(static_cast<size_t>(bytes), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, &result[0], bytes, nullptr, nullptr) != bytes) return false;
    *path = result;
    return true;
  } catch (...) {
    return false;
  }
}

bool PlatformModuleVersion(uint16_t version[4]) {
  if (version == nullptr) return false;
  char path[MAX_PATH + 1] = {0};
  DWORD length = GetModuleFileNameA(static_cast<HMODULE>(PlatformModuleHandle()), path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return false;
  std::vector<char> data;
  try {
    data.resize(size);
  } catch (...) {
    return false;
  }
  if (!GetFileVersionInfoA(path, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT infoSize = 0;
  if (!VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
      infoSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  version[0] = HIWORD(info->dwFileVersionMS);
  version[1] = LOWORD(info->dwFileVersionMS);
  version[2] = HIWORD(info->dwFileVersionLS);
  version[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

bool PlatformLocalAppDataFolder(std::string* folder) {
  if (folder == nullptr) return false;
  char path[MAX_PATH + 1] = {0};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
    return false;
  }
  std::string result(path);
  while (result.size() > 3 && (result.back() == '\\' || result.back() == '/')) result.pop_back();
  if (result.empty()) return false;
  *folder = result;
  return true;
}

char PlatformPathSeparator() { return '\\'; }

bool PlatformCreateFolderTree(const std::string& path) {
  if (path.empty()) return false;
  if (IsFolder(path)) return true;
  int result = SHCreateDirectoryExA(nullptr, path.c_str(), nullptr);
  if (result != ERROR_SUCCESS && result != ERROR_ALREADY_EXISTS && result != ERROR_FILE_EXISTS) return false;
  return IsFolder(path);
}

bool PlatformEnvironmentVariable(const char* name, std::string* value) {
  char buffer[1024];
  const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return false;
  value->assign(buffer, length);
  return true;
}

// Large pages need a privilege that users do not have; what saves time here
// is not touching memory needlessly, which the callers see to.
void* PlatformAllocateLarge(size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void PlatformFreeLarge(void* block, size_t /*size*/) { std::free(block); }
