// The operating-system seam for the native (POSIX) build. There are no
// windows here: user messages go to standard error, COM does not exist, and
// the module's version is the one compiled in.
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include "glimmark_version.h"

namespace {

// glibc's strerror_r returns the text (GNU variant) while other C libraries
// fill the buffer and return a status (XSI variant); these overloads take
// whichever the headers declare.
[[maybe_unused]] const char* PickErrorText(const char* result, const char* /*buffer*/) { return result; }
[[maybe_unused]] const char* PickErrorText(int result, const char* buffer) { return result == 0 ? buffer : nullptr; }

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

uint32_t PlatformCurrentThreadId() {
  return static_cast<uint32_t>(syscall(SYS_gettid));
}

uint32_t PlatformGetLastError() { return static_cast<uint32_t>(errno); }

void PlatformSetLastError(uint32_t code) { errno = static_cast<int>(code); }

std::string PlatformSystemErrorText(uint32_t code) {
  char buffer[256] = {0};
  const char* text = PickErrorText(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
  if (text == nullptr || text[0] == '\0') return std::string();
  // The C library invents "Unknown error N" for numbers it does not know;
  // that is no text of the system's own.
  if (std::strncmp(text, "Unknown error", 13) == 0) return std::string();
  std::string result(text);
  size_t cut = result.find_first_of("\r\n");
  if (cut != std::string::npos) result.erase(cut);
  return result;
}

WindowHandle PlatformActiveWindow() { return nullptr; }

bool PlatformIsWindow(WindowHandle /*window*/) { return false; }

void PlatformShowMessageBox(WindowHandle /*owner*/, const char* text, const char* caption, uint32_t /*style*/) {
  std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "", text != nullptr ? text : "");
  std::fflush(stderr);
}

bool PlatformPostMessage(WindowHandle /*window*/, uint32_t /*message*/, uintptr_t /*wparam*/, intptr_t /*lparam*/) {
  return false;
}

bool PlatformInitializeCom() { return true; }

void PlatformUninitializeCom() {}

void* PlatformModuleHandle() {
  // Any stable non-null address serves as the marker.
  static const char marker = 0;
  return const_cast<char*>(&marker);
}

bool PlatformHostExecutablePath(std::string* path) {
  if (path == nullptr) return false;
  try {
    // readlink does not terminate and silently truncates: grow until the
    // link's text fits with room to spare.
    std::string buffer(256, '\0');
    for (int attempt = 0; attempt < 8; ++attempt) {
      const ssize_t length = readlink("/proc/self/exe", &buffer[0], buffer.size());
      if (length < 0) return false;
      if (static_cast<size_t>(length) < buffer.size()) {
        buffer.resize(static_cast<size_t>(length));
        *path = buffer;
        return true;
      }
      buffer.resize(buffer.size() * 4);
    }
    return false;
  } catch (...) {
    return false;
  }
}

bool PlatformModuleVersion(uint16_t version[4]) {
  if (version == nullptr) return false;
  version[0] = GLIMMARK_VERSION_MAJOR;
  version[1] = GLIMMARK_VERSION_MINOR;
  version[2] = GLIMMARK_VERSION_PATCH;
  version[3] = GLIMMARK_VERSION_BUILD;
  return true;
}

bool PlatformLocalAppDataFolder(std::string* folder) {
  if (folder == nullptr) return false;
  std::string result;
  // A relative XDG_DATA_HOME is invalid by the XDG rules and is ignored.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    result = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return false;
    result = home;
    while (result.size() > 1 && result.back() == '/') result.pop_back();
    result += "/.local/share";
  }
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  *folder = result;
  return true;
}

char PlatformPathSeparator() { return '/'; }

bool PlatformCreateFolderTree(const std::string& path) {
  if (path.empty()) return false;
  // Create each prefix that ends at a separator, then the whole path; an
  // existing folder along the way is fine.
  for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1)) {
    std::string prefix = path.substr(0, at);
    if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) return false;
  return IsFolder(path);
}

bool PlatformEnvironmentVariable(const char* name, std::string* value) {
  const char* text = std::getenv(name);
  if (text == nullptr) return false;
  *value = text;
  return true;
}

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer watches only its own heap: big buffers stay on it, so that
// an overrun of an image is still caught.
void* PlatformAllocateLarge(size_t size) { return std::malloc(size); }
void PlatformFreeLarge(void* block, size_t /*size*/) { std::free(block); }
#else
namespace {
constexpr size_t HUGE_PAGE = size_t{2} << 20;
size_t RoundedToHugePages(size_t size) { return (size + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE; }
}  // namespace

void* PlatformAllocateLarge(size_t size) {
  if (size == 0 || size > SIZE_MAX - 2 * HUGE_PAGE) return nullptr;
  const size_t rounded = RoundedToHugePages(size);
  // Map one huge page more than needed and trim both ends to the alignment.
  const size_t mapped = rounded + HUGE_PAGE;
  void* area = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (area == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(area);
  const uintptr_t aligned = (start + HUGE_PAGE - 1) / HUGE_PAGE * HUGE_PAGE;
  if (aligned > start) munmap(area, aligned - start);
  const uintptr_t end = start + mapped;
  if (end > aligned + rounded) munmap(reinterpret_cast<void*>(aligned + rounded), end - (aligned + rounded));
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  // Only advice: where the system has no huge pages the block still works.
  madvise(block, rounded, MADV_HUGEPAGE);
#endif
  return block;
}

void PlatformFreeLarge(void* block, size_t size) {
  if (block != nullptr) munmap(block, RoundedToHugePages(size));
}
#endif
