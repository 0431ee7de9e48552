// User data folders on Windows: the shell's known folders.
#include <windows.h>
#include <io.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>

#include "runtime/report.h"
#include "runtime/user_folders.h"
#include "runtime/user_folders_platform.h"

bool GetApplicationDataFolder(DataFolderKind kind, std::string* folder) {
  // An explicit local folder (portable installations, isolated test runs)
  // replaces the user's local application data folder.
  if (kind != DataFolderKind::Common) {
    char override[MAX_PATH + 1] = {0};
    const DWORD length = GetEnvironmentVariableA("GLIMMARK_LOCAL_APPDATA", override, sizeof override);
    if (length > 0 && length < sizeof override) {
      *folder = override;
      return true;
    }
  }
  char path[MAX_PATH + 1] = {0};
  int which = (kind == DataFolderKind::Common ? CSIDL_COMMON_APPDATA : CSIDL_LOCAL_APPDATA) | CSIDL_FLAG_CREATE;
  HRESULT result = SHGetFolderPathA(nullptr, which, nullptr, SHGFP_TYPE_CURRENT, path);
  if (FAILED(result)) {
    REPORT_DEBUG("SHGetFolderPath failed with GetFolderResult = '%X' and  Last Error = '%X'",
                 static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
    return false;
  }
  std::string text(path);
  while (text.size() > 3 && (text.back() == '\\' || text.back() == '/')) text.pop_back();
  if (text.empty()) {
    REPORT_DEBUG("SHGetFolderPath returned an empty folder for CSIDL %d.", which);
    return false;
  }
  *folder = text;
  return true;
}

bool MakeFolderTree(const std::string& path) {
  int result = SHCreateDirectoryExA(nullptr, path.c_str(), nullptr);
  switch (result) {
    case ERROR_SUCCESS:
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_CANCELLED:
      REPORT_DEBUG("SHCreateDirectoryEx failed.  Result = '%X' and Last Error = '%X'", static_cast<unsigned>(result),
                   static_cast<unsigned>(GetLastError()));
      return false;
    default:
      REPORT_DEBUG("SHCreateDirectoryEx failed with unexpected Result = '%X' and Last Error = '%X'",
                   static_cast<unsigned>(result), static_cast<unsigned>(GetLastError()));
      return false;
  }
  // "Already exists" is also the answer when a plain file has the name.
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    REPORT_DEBUG("'%s' exists but is not a folder.", path.c_str());
    return false;
  }
  return true;
}

char DataPathSeparator() { return '\\'; }

bool ReplaceFileAtomically(const std::string& source, const std::string& target) {
  if (!MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    REPORT_SYSTEM_ERROR(GetLastError(), "MoveFileEx() failed to replace '%s' with '%s'.", target.c_str(),
                        source.c_str());
    return false;
  }
  return true;
}

bool FlushFileToDisk(std::FILE* file) {
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != FALSE;
}

unsigned long CurrentProcessNumber() { return GetCurrentProcessId(); }

std::FILE* OpenRegularFileForReading(const char* path, int* error, const char** notRegular) noexcept {
  *error = 0;
  *notRegular = nullptr;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *notRegular = "a folder";
    return nullptr;
  }
  // Opening does not wait here (a busy pipe fails at once); reading a pipe
  // or the console would, so only disk files are kept.
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) {
    *error = errno;
    return nullptr;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  const DWORD type = handle == INVALID_HANDLE_VALUE ? FILE_TYPE_UNKNOWN : GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    *notRegular = type == FILE_TYPE_PIPE ? "a named pipe" : type == FILE_TYPE_CHAR ? "a device" : "not a regular file";
    std::fclose(file);
    return nullptr;
  }
  return file;
}
