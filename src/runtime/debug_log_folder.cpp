#include <mutex>

#include "platform/platform.h"
#include "runtime/folders.h"

namespace {

std::mutex FolderOverrideMutex;
std::string FolderOverride;

}  // namespace

bool GetDebugLogFolder(std::string* folder) noexcept {
  if (folder == nullptr) return false;
  try {
    std::string path;
    {
      std::lock_guard<std::mutex> lock(FolderOverrideMutex);
      path = FolderOverride;
    }
    if (path.empty()) {
      if (!PlatformLocalAppDataFolder(&path) || path.empty()) return false;
      const char separator = PlatformPathSeparator();
      for (const char* part : {"Brightwerk", "Glimmark2", "Logs"}) {
        if (path.back() != separator) path += separator;
        path += part;
      }
    }
    if (!PlatformCreateFolderTree(path)) return false;
    *folder = path;
    return true;
  } catch (...) {
    return false;
  }
}

void SetDebugLogFolderForTesting(const char* folder) noexcept {
  try {
    std::lock_guard<std::mutex> lock(FolderOverrideMutex);
    FolderOverride = folder != nullptr ? folder : "";
  } catch (...) {
    // The override is only a test aid; a failed copy leaves the old one.
  }
}
