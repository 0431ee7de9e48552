#include "hostkit/file_platform.h"

#include <windows.h>

namespace hostkit {
namespace fileplatform {

namespace {

std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length && text ? std::string(text, length) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() &&
         (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
    result.pop_back();
  return result;
}

bool Failed(std::string* error) {
  if (error) *error = SystemText(GetLastError());
  return false;
}

HANDLE Native(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

FileHandle Open(const std::string& path, DWORD access, DWORD share, DWORD disposition, std::string* error) {
  const HANDLE file = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Failed(error);
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(file);
}

// ReadFile and WriteFile move at most 4 GB per call.
constexpr size_t kMaxPiece = size_t(1) << 30;

}  // namespace

FileHandle OpenForReading(const std::string& path, std::string* error) {
  // Others may go on writing or renaming what we read, as they can natively.
  return Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, error);
}

FileHandle CreateNewFile(const std::string& path, std::string* error) {
  return Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW, error);
}

int64_t ReadFrom(FileHandle file, void* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    DWORD got = 0;
    const DWORD piece = static_cast<DWORD>(size - done < kMaxPiece ? size - done : kMaxPiece);
    if (!ReadFile(Native(file), static_cast<char*>(data) + done, piece, &got, nullptr)) {
      Failed(error);
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<int64_t>(done);
}

bool WriteTo(FileHandle file, const void* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    DWORD put = 0;
    const DWORD piece = static_cast<DWORD>(size - done < kMaxPiece ? size - done : kMaxPiece);
    if (!WriteFile(Native(file), static_cast<const char*>(data) + done, piece, &put, nullptr)) return Failed(error);
    if (put == 0) {
      SetLastError(ERROR_DISK_FULL);
      return Failed(error);
    }
    done += put;
  }
  return true;
}

bool SeekTo(FileHandle file, uint64_t offset, std::string* error) {
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(Native(file), to, nullptr, FILE_BEGIN) || Failed(error);
}

bool SizeOf(FileHandle file, uint64_t* size, std::string* error) {
  LARGE_INTEGER value;
  if (!GetFileSizeEx(Native(file), &value)) return Failed(error);
  *size = static_cast<uint64_t>(value.QuadPart);
  return true;
}

bool SyncToDisk(FileHandle file, std::string* error) { return FlushFileBuffers(Native(file)) || Failed(error); }

bool CloseFile(FileHandle file, std::string* error) { return CloseHandle(Native(file)) || Failed(error); }

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  WIN32_FIND_DATAA entry;
  const HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do names->push_back(entry.cFileName);
  while (FindNextFileA(search, &entry));
  FindClose(search);
  return true;
}

// MoveFileEx with MOVEFILE_WRITE_THROUGH already waits for the rename.
void SyncFolder(const std::string&) {}

bool ProcessIsRunning(int pid) {
  if (pid <= 0) return true;
  const HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;  // exists, someone else's
  // A process that has ended stays open while others hold handles to it.
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
}

std::string DiskFullText() { return SystemText(ERROR_DISK_FULL); }

}  // namespace fileplatform
}  // namespace hostkit
