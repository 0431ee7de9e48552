#include "runtime/user_folders.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/platform.h"
#include "runtime/folders.h"
#include "runtime/report.h"
#include "runtime/test_hooks.h"
#include "runtime/user_folders_platform.h"

namespace {

const char* const COMPANY_FOLDER = "Brightwerk";
const char* const PRODUCT_FOLDER = "Glimmark2";
const char* const COMMON_COMPANY_FOLDER = "BrightwerkSoftware";
const char* const COMMON_PRODUCT_FOLDER = "Glimmark 2";

struct FolderState {
  std::mutex lock;
  bool initialized = false;
  std::string settings;
  std::string parameters;
  std::string logs;
  std::string common;
  std::string product;
};

FolderState& State() {
  static FolderState state;
  return state;
}

// Appends parts to root with the platform's separator; false with a report
// when the result would not fit a caller's path buffer.
bool AppendParts(const std::string& root, std::initializer_list<const char*> parts, std::string* path) {
  const char separator = DataPathSeparator();
  std::string result = root;
  for (const char* part : parts) {
    if (result.empty() || result.back() != separator) result += separator;
    result += part;
  }
  if (result.size() >= USER_FOLDER_PATH_CHARS) {
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, ERANGE);
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                  "_stprintf_s() failed with RootDirPath = '%s' and  errno = '%d'", root.c_str(), ERANGE);
    return false;
  }
  *path = result;
  return true;
}

// Builds one user folder under the local data folder and creates it.
bool MakeUserDataFolder(const char* subfolder, const char* label, std::string* path) {
  std::string root;
  if (!GetApplicationDataFolder(DataFolderKind::LocalUser, &root)) {
    REPORT_DEBUG("GetUserDataFolder() failed.");
    return false;
  }
  std::string folder;
  if (!AppendParts(root, {COMPANY_FOLDER, PRODUCT_FOLDER, subfolder}, &folder)) return false;
  if (!MakeFolderTree(folder)) {
    REPORT_DEBUG("MakeUserDataFolder() failed with %s Subdirectory = '%s'", label, folder.c_str());
    return false;
  }
  *path = folder;
  return true;
}

// Copies one of the paths out under the lock; the reports come after it.
bool CopyFolder(std::string FolderState::*member, const char* label, char* buffer, size_t size) {
  std::string path;
  bool initialized;
  {
    FolderState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    initialized = s.initialized;
    path = s.*member;
  }
  if (!initialized) {
    REPORT_DEBUG("File system not initialized - the %s folder is not available.", label);
    return false;
  }
  if (buffer == nullptr || size <= path.size()) {
    REPORT_DEBUG("_tcscpy_s() failed with %s = '%s'", label, path.c_str());
    return false;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

// A settings file is a plain name inside the settings folder: nothing that
// could climb out of it or name another drive.
bool IsPlainFileName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
  return std::strpbrk(name, "/\\:") == nullptr && std::strlen(name) < USER_FOLDER_PATH_CHARS;
}

// The full path of a settings file, or false with a report.
bool SettingsFilePath(const char* fileName, std::string* path) {
  if (!IsPlainFileName(fileName)) {
    REPORT_DEBUG("Settings file name '%s' is not a plain file name.", fileName != nullptr ? fileName : "(null)");
    return false;
  }
  char folder[USER_FOLDER_PATH_CHARS];
  if (!GetUserDataFolder(folder, sizeof folder)) {
    REPORT_DEBUG("GetUserDataFolder() failed.");
    return false;
  }
  std::string result = std::string(folder) + DataPathSeparator() + fileName;
  if (result.size() >= USER_FOLDER_PATH_CHARS) {
    DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, ERANGE);
    ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                  "_stprintf_s() failed with Filename = '%s' and  errno = '%d'", fileName, ERANGE);
    return false;
  }
  *path = result;
  return true;
}

}  // namespace

bool InitializeUserDataFolders() noexcept {
  try {
    std::string settings, parameters, logs, common, product;
    bool ok = MakeUserDataFolder("Settings", "Settings", &settings);
    ok = MakeUserDataFolder("Parameters", "Parameters", &parameters) && ok;
    ok = MakeUserDataFolder("Logs", "DebugLog", &logs) && ok;
    std::string commonRoot;
    if (GetApplicationDataFolder(DataFolderKind::Common, &commonRoot) &&
        AppendParts(commonRoot, {COMMON_COMPANY_FOLDER}, &common)) {
      ok = AppendParts(common, {COMMON_PRODUCT_FOLDER}, &product) && ok;
    } else {
      REPORT_DEBUG("GetCommonDataFolder() failed to initialize the common data directory.");
      ok = false;
    }
    FolderState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.settings = settings;
    s.parameters = parameters;
    s.logs = logs;
    s.common = common;
    s.product = product;
    s.initialized = ok;
    return ok;
  } catch (...) {
    REPORT_DEBUG("InitializeUserDataFolders() ran out of memory.");
    return false;
  }
}

bool IsFileSystemInitialized() noexcept {
  FolderState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.initialized;
}

bool GetUserDataFolder(char* buffer, size_t size) noexcept {
  try {
    return CopyFolder(&FolderState::settings, "Settings Directory", buffer, size);
  } catch (...) {
    return false;
  }
}

bool GetUserParametersFolder(char* buffer, size_t size) noexcept {
  try {
    return CopyFolder(&FolderState::parameters, "Parameters Directory", buffer, size);
  } catch (...) {
    return false;
  }
}

bool GetDebugLogFolder(char* buffer, size_t size) noexcept {
  try {
    return CopyFolder(&FolderState::logs, "Debug Log directory", buffer, size);
  } catch (...) {
    return false;
  }
}

bool GetCommonDataFolder(char* buffer, size_t size) noexcept {
  try {
    return CopyFolder(&FolderState::common, "Common Data Directory", buffer, size);
  } catch (...) {
    return false;
  }
}

bool GetProductDataFolder(char* buffer, size_t size) noexcept {
  try {
    return CopyFolder(&FolderState::product, "Product Data Directory", buffer, size);
  } catch (...) {
    return false;
  }
}

// The log asks quietly: it reports a missing folder itself.
bool GetDebugLogFolder(std::string* folder) noexcept {
  if (folder == nullptr) return false;
  try {
    std::string path;
    {
      FolderState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      if (s.initialized) path = s.logs;
    }
    std::string replacement;
    TestHooks* hooks = ActiveTestHooks();
    if (hooks != nullptr && hooks->Override(TEST_OVERRIDE_DEBUG_LOG_FOLDER, &replacement) && !replacement.empty())
      path = replacement;
    // Someone may have deleted the folder since initialisation.
    if (path.empty() || !PlatformCreateFolderTree(path)) return false;
    *folder = path;
    return true;
  } catch (...) {
    return false;
  }
}

bool ReadSettingsFile(const char* fileName, void* buffer, size_t size) noexcept {
  try {
    if (!IsFileSystemInitialized()) return false;
    if (buffer == nullptr || size == 0) {
      REPORT_DEBUG("ReadSettingsFile() was given no buffer for '%s'.", fileName != nullptr ? fileName : "(null)");
      return false;
    }
    std::string path;
    if (!SettingsFilePath(fileName, &path)) return false;
    int error = 0;
    const char* notRegular = nullptr;
    std::FILE* file = OpenRegularFileForReading(path.c_str(), &error, &notRegular);
    if (file == nullptr) {
      if (notRegular != nullptr) {
        REPORT_DEBUG("Settings file '%s' is %s, not a regular file; it is not read.", path.c_str(), notRegular);
      } else if (error == ENOENT) {
        REPORT_TRACE("UI settings file '%s' does not yet exist. ", path.c_str());
      } else {
        REPORT_DEBUG("fopen() failed to open file '%s' : %s", path.c_str(), std::strerror(error));
      }
      return false;
    }
    size_t count = std::fread(buffer, 1, size, file);
    error = errno;
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (count == 0) {
      REPORT_DEBUG("fread() failed to read file '%s' : '%s'", path.c_str(),
                   failed ? std::strerror(error) : "the file is empty");
      return false;
    }
    return true;
  } catch (...) {
    REPORT_DEBUG("ReadSettingsFile() ran out of memory.");
    return false;
  }
}

ReplacingWriteStep WriteFileReplacing(const std::string& path, const void* data, size_t size, bool stopBeforeReplace,
                                      std::string* temporary, int* error) {
  // A stale temporary left by a crash goes first: whatever stands there
  // (a named pipe would make the open wait), the new one is a fresh file.
  *temporary = path + "." + std::to_string(CurrentProcessNumber()) + ".tmp";
  std::remove(temporary->c_str());
  std::FILE* file = std::fopen(temporary->c_str(), "wb");
  if (file == nullptr) {
    *error = errno;
    return ReplacingWriteStep::Open;
  }
  bool ok = size == 0 || std::fwrite(data, 1, size, file) == size;
  ok = ok && std::fflush(file) == 0 && FlushFileToDisk(file);
  *error = errno;
  if (std::fclose(file) != 0 && ok) {
    *error = errno;
    ok = false;
  }
  if (!ok) {
    std::remove(temporary->c_str());
    return ReplacingWriteStep::Write;
  }
  if (stopBeforeReplace) return ReplacingWriteStep::Stopped;
  if (!ReplaceFileAtomically(*temporary, path)) {
    std::remove(temporary->c_str());
    return ReplacingWriteStep::Replace;
  }
  return ReplacingWriteStep::Done;
}

bool WriteSettingsFile(const char* fileName, const void* data, size_t size) noexcept {
  try {
    if (!IsFileSystemInitialized()) return false;
    if (data == nullptr && size != 0) {
      REPORT_DEBUG("WriteSettingsFile() was given no data for '%s'.", fileName != nullptr ? fileName : "(null)");
      return false;
    }
    std::string path;
    if (!SettingsFilePath(fileName, &path)) return false;
    const TestHooks* hooks = ActiveTestHooks();
    const bool stop = hooks != nullptr && hooks->stopSettingsWriteBeforeReplace.load();
    std::string temporary;
    int error = 0;
    switch (WriteFileReplacing(path, data, size, stop, &temporary, &error)) {
      case ReplacingWriteStep::Open: {
        DebugMessage message = MakeDebugMessage(__LINE__, CRT_ERROR, static_cast<uint32_t>(error));
        ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR,
                      "_tfopen() failed with FilePath = '%s'  and  errno = '%d'", temporary.c_str(), error);
        return false;
      }
      case ReplacingWriteStep::Write:
        REPORT_DEBUG("fwrite() failed to write file '%s' : %s", temporary.c_str(), std::strerror(error));
        return false;
      case ReplacingWriteStep::Stopped:
      case ReplacingWriteStep::Replace:
        return false;
      case ReplacingWriteStep::Done:
        break;
    }
    return true;
  } catch (...) {
    REPORT_DEBUG("WriteSettingsFile() ran out of memory.");
    return false;
  }
}

void ResetUserDataFoldersForTesting() noexcept {
  FolderState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.initialized = false;
  s.settings.clear();
  s.parameters.clear();
  s.logs.clear();
  s.common.clear();
  s.product.clear();
}
