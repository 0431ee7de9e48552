// Report texts are in the thread's ANSI code page on Windows; the log stores
// UTF-16 little-endian.
#include "runtime/debug_log_platform.h"

#include <windows.h>

#include <cstring>
#include <vector>

bool AppendUtf16Le(const char* text, size_t length, std::string* bytes) noexcept {
  if (bytes == nullptr) return false;
  if (text == nullptr || length == 0) return true;
  try {
    // Report texts are far below 2 GiB; longer ones are cut rather than
    // overflowing the conversion's int lengths.
    int count = length > 0x3FFFFFFF ? 0x3FFFFFFF : static_cast<int>(length);
    int units = MultiByteToWideChar(CP_ACP, 0, text, count, nullptr, 0);
    if (units <= 0) return true;
    std::vector<wchar_t> wide(static_cast<size_t>(units));
    units = MultiByteToWideChar(CP_ACP, 0, text, count, wide.data(), units);
    if (units <= 0) return true;
    bytes->reserve(bytes->size() + 2 * static_cast<size_t>(units));
    for (int i = 0; i < units; ++i) {
      unsigned unit = static_cast<unsigned>(wide[i]);
      bytes->push_back(static_cast<char>(unit & 0xFF));
      bytes->push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool LocalTimeNow(std::tm* time) noexcept {
  if (time == nullptr) return false;
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1) || localtime_s(time, &now) != 0) {
    std::memset(time, 0, sizeof *time);
    return false;
  }
  return true;
}

std::string CrtErrorText(int code) noexcept {
  try {
    char buffer[256] = {0};
    if (strerror_s(buffer, sizeof buffer, code) != 0 || buffer[0] == '\0') return std::string();
    // "Unknown error" is the library admitting it has no text.
    if (std::strncmp(buffer, "Unknown error", 13) == 0) return std::string();
    std::string result(buffer, strnlen(buffer, 255));
    size_t cut = result.find_first_of("\r\n");
    if (cut != std::string::npos) result.erase(cut);
    return result;
  } catch (...) {
    return std::string();
  }
}

bool ListMatchingFiles(const std::string& folder, const char* pattern, std::vector<std::string>* names) noexcept {
  if (names == nullptr || pattern == nullptr) return false;
  try {
    names->clear();
    std::string search = folder + "\\" + pattern;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA(search.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    try {
      do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names->push_back(found.cFileName);
      } while (FindNextFileA(find, &found));
    } catch (...) {
      ok = false;
    }
    FindClose(find);
    return ok;
  } catch (...) {
    return false;
  }
}
