#pragma once
// The operating-system side of hostkit's image files: unbuffered file
// access that says why it failed, flushing to the disk, the folder listing
// and the process probe that clearing old temporaries needs. Implemented in
// file_platform_posix.cpp and file_platform_win32.cpp; no OS headers here.
//
// Every routine that can fail takes `error` and sets it to the system's
// words for the cause ("No space left on device").
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostkit {
namespace fileplatform {

// A file descriptor natively, a HANDLE on Windows.
using FileHandle = intptr_t;
constexpr FileHandle kNoFile = -1;

FileHandle OpenForReading(const std::string& path, std::string* error);
// Creates a file that must not exist yet, for reading and writing.
FileHandle CreateNewFile(const std::string& path, std::string* error);
// Up to `size` bytes; fewer only at the end of the file. -1 on failure.
int64_t ReadFrom(FileHandle file, void* data, size_t size, std::string* error);
// All `size` bytes or a failure.
bool WriteTo(FileHandle file, const void* data, size_t size, std::string* error);
bool SeekTo(FileHandle file, uint64_t offset, std::string* error);
bool SizeOf(FileHandle file, uint64_t* size, std::string* error);
// Waits until the file's data is on the disk.
bool SyncToDisk(FileHandle file, std::string* error);
bool CloseFile(FileHandle file, std::string* error);

// Names of the entries of a folder ("." for the current one); false when it
// cannot be listed.
bool ListFolder(const std::string& folder, std::vector<std::string>* names);
// Makes a rename inside the folder durable where the system needs that
// asked separately; failures are ignored (the rename itself has happened).
void SyncFolder(const std::string& folder);
// False only when no process with this id exists; a process that exists but
// belongs to someone else counts as running.
bool ProcessIsRunning(int pid);
// The system's words for "the disk is full" (the failing-write test seam).
std::string DiskFullText();

}  // namespace fileplatform
}  // namespace hostkit
