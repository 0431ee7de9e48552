// User data folders natively: the XDG data folders.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"
#include "runtime/report.h"
#include "runtime/user_folders.h"
#include "runtime/user_folders_platform.h"

namespace {

// The first absolute entry of XDG_DATA_DIRS; the XDG default list starts with
// /usr/local/share, so that is the fallback. The common folder is only read
// (the help file), so it is not created.
std::string CommonDataRoot() {
  const char* dirs = std::getenv("XDG_DATA_DIRS");
  std::string list = dirs != nullptr ? dirs : "";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string entry = list.substr(start, end - start);
    while (entry.size() > 1 && entry.back() == '/') entry.pop_back();
    if (!entry.empty() && entry[0] == '/') return entry;
    start = end + 1;
  }
  return "/usr/local/share";
}

}  // namespace

bool GetApplicationDataFolder(DataFolderKind kind, std::string* folder) {
  if (kind == DataFolderKind::Common) {
    *folder = CommonDataRoot();
    return true;
  }
  std::string path;
  if (!PlatformLocalAppDataFolder(&path)) {
    REPORT_DEBUG("No user data folder: neither XDG_DATA_HOME nor HOME is an absolute path.");
    return false;
  }
  if (!PlatformCreateFolderTree(path)) {
    int error = errno;
    REPORT_DEBUG("Could not create the user data folder '%s' : %s", path.c_str(), std::strerror(error));
    return false;
  }
  *folder = path;
  return true;
}

bool MakeFolderTree(const std::string& path) {
  if (PlatformCreateFolderTree(path)) return true;
  int error = errno;
  DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
  ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, "mkdir() failed for '%s' : %s", path.c_str(),
                std::strerror(error));
  return false;
}

char DataPathSeparator() { return '/'; }

bool ReplaceFileAtomically(const std::string& source, const std::string& target) {
  if (std::rename(source.c_str(), target.c_str()) != 0) {
    int error = errno;
    REPORT_DEBUG("rename() failed to replace '%s' with '%s' : %s", target.c_str(), source.c_str(),
                 std::strerror(error));
    return false;
  }
  // Make the new directory entry durable too; the file itself already is.
  size_t slash = target.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
  int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (descriptor >= 0) {
    fsync(descriptor);
    close(descriptor);
  }
  return true;
}

bool FlushFileToDisk(std::FILE* file) { return fsync(fileno(file)) == 0; }

unsigned long CurrentProcessNumber() { return static_cast<unsigned long>(getpid()); }

std::FILE* OpenRegularFileForReading(const char* path, int* error, const char** notRegular) noexcept {
  *error = 0;
  *notRegular = nullptr;
  const int descriptor = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat info {};
  if (fstat(descriptor, &info) != 0) {
    *error = errno;
  } else if (S_ISDIR(info.st_mode)) {
    *notRegular = "a folder";
  } else if (S_ISFIFO(info.st_mode)) {
    *notRegular = "a named pipe";
  } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
    *notRegular = "a device";
  } else if (!S_ISREG(info.st_mode)) {
    *notRegular = "not a regular file";
  }
  if (*error != 0 || *notRegular != nullptr) {
    close(descriptor);
    return nullptr;
  }
  // A regular file never makes a read wait; the stream gets a plain
  // descriptor all the same.
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags != -1) fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* file = fdopen(descriptor, "rb");
  if (file == nullptr) {
    *error = errno;
    close(descriptor);
  }
  return file;
}
