// Report texts are UTF-8 natively; the log stores UTF-16 little-endian.
#include "runtime/debug_log_platform.h"

#include "platform/platform.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>

namespace {

void AppendUnit(uint32_t unit, std::string* bytes) {
  bytes->push_back(static_cast<char>(unit & 0xFF));
  bytes->push_back(static_cast<char>((unit >> 8) & 0xFF));
}

void AppendCodePoint(uint32_t codePoint, std::string* bytes) {
  if (codePoint < 0x10000) {
    AppendUnit(codePoint, bytes);
  } else {
    codePoint -= 0x10000;
    AppendUnit(0xD800 + (codePoint >> 10), bytes);
    AppendUnit(0xDC00 + (codePoint & 0x3FF), bytes);
  }
}

// Length of the UTF-8 sequence led by byte b and the payload bits of b; 0 for
// a byte that cannot start a sequence.
int SequenceLength(unsigned char b, uint32_t* bits) {
  if (b < 0x80) { *bits = b; return 1; }
  if (b >= 0xC2 && b <= 0xDF) { *bits = b & 0x1F; return 2; }
  if (b >= 0xE0 && b <= 0xEF) { *bits = b & 0x0F; return 3; }
  if (b >= 0xF0 && b <= 0xF4) { *bits = b & 0x07; return 4; }
  return 0;
}

}  // namespace

bool AppendUtf16Le(const char* text, size_t length, std::string* bytes) noexcept {
  if (bytes == nullptr) return false;
  if (text == nullptr) return true;
  try {
    bytes->reserve(bytes->size() + 2 * length);
    const unsigned char* in = reinterpret_cast<const unsigned char*>(text);
    size_t at = 0;
    while (at < length) {
      uint32_t codePoint = 0;
      int count = SequenceLength(in[at], &codePoint);
      bool valid = count > 0 && at + count <= length;
      for (int i = 1; valid && i < count; ++i) {
        if ((in[at + i] & 0xC0) != 0x80) valid = false;
        else codePoint = (codePoint << 6) | (in[at + i] & 0x3F);
      }
      // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
      if (valid && ((count == 3 && codePoint < 0x800) || (count == 4 && codePoint < 0x10000) ||
                    (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)) {
        valid = false;
      }
      if (!valid) {
        AppendUnit(0xFFFD, bytes);
        ++at;  // resynchronise on the next byte
        continue;
      }
      AppendCodePoint(codePoint, bytes);
      at += count;
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool LocalTimeNow(std::tm* time) noexcept {
  if (time == nullptr) return false;
  std::time_t now = std::time(nullptr);
  if (now == static_cast<std::time_t>(-1) || localtime_r(&now, time) == nullptr) {
    std::memset(time, 0, sizeof *time);
    return false;
  }
  return true;
}

std::string CrtErrorText(int code) noexcept {
  // Natively the system's error numbers are the library's.
  try {
    std::string text = PlatformSystemErrorText(static_cast<uint32_t>(code));
    if (text.size() > 255) text.resize(255);
    return text;
  } catch (...) {
    return std::string();
  }
}

bool ListMatchingFiles(const std::string& folder, const char* pattern, std::vector<std::string>* names) noexcept {
  if (names == nullptr || pattern == nullptr) return false;
  DIR* listing = opendir(folder.c_str());
  if (listing == nullptr) return false;
  bool ok = true;
  try {
    names->clear();
    while (const dirent* item = readdir(listing)) {
      if (fnmatch(pattern, item->d_name, FNM_CASEFOLD) != 0) continue;
      struct stat info;
      std::string path = folder + "/" + item->d_name;
      if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
      names->push_back(item->d_name);
    }
  } catch (...) {
    ok = false;
  }
  closedir(listing);
  return ok;
}
