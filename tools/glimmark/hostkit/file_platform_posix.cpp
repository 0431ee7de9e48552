#include "hostkit/file_platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace hostkit {
namespace fileplatform {

namespace {

bool Failed(std::string* error) {
  if (error) *error = std::strerror(errno);
  return false;
}

int Descriptor(FileHandle file) { return static_cast<int>(file); }

}  // namespace

FileHandle OpenForReading(const std::string& path, std::string* error) {
  // Without O_NONBLOCK, opening a named pipe waits for a writer, maybe for ever.
  int fd;
  do fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Failed(error);
    return kNoFile;
  }
  // Only regular files: a folder opens too but its reads fail with a less
  // clear cause, and pipes and devices cannot be measured or read back.
  struct stat info;
  const char* notRegular = nullptr;
  if (fstat(fd, &info) != 0) {
    Failed(error);
    close(fd);
    return kNoFile;
  }
  if (S_ISDIR(info.st_mode)) notRegular = "it is a folder, not a file";
  else if (S_ISFIFO(info.st_mode)) notRegular = "it is a named pipe, not a regular file";
  else if (!S_ISREG(info.st_mode)) notRegular = "it is a device, not a regular file";
  if (notRegular != nullptr) {
    close(fd);
    if (error) *error = notRegular;
    return kNoFile;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

FileHandle CreateNewFile(const std::string& path, std::string* error) {
  int fd;
  do fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    Failed(error);
    return kNoFile;
  }
  return fd;
}

int64_t ReadFrom(FileHandle file, void* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = read(Descriptor(file), static_cast<char*>(data) + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Failed(error);
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

bool WriteTo(FileHandle file, const void* data, size_t size, std::string* error) {
  size_t done = 0;
  while (done < size) {
    const ssize_t put = write(Descriptor(file), static_cast<const char*>(data) + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return Failed(error);
    if (put == 0) {  // a write that makes no progress: the device is full
      errno = ENOSPC;
      return Failed(error);
    }
    done += static_cast<size_t>(put);
  }
  return true;
}

bool SeekTo(FileHandle file, uint64_t offset, std::string* error) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
    errno = EFBIG;
    return Failed(error);
  }
  return lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0 || Failed(error);
}

bool SizeOf(FileHandle file, uint64_t* size, std::string* error) {
  struct stat info;
  if (fstat(Descriptor(file), &info) != 0) return Failed(error);
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool SyncToDisk(FileHandle file, std::string* error) {
  int result;
  do result = fsync(Descriptor(file));
  while (result != 0 && errno == EINTR);
  // Some file systems (pipes, some FUSE ones) cannot sync; that is no loss.
  return result == 0 || errno == EINVAL || errno == ENOTSUP || Failed(error);
}

bool CloseFile(FileHandle file, std::string* error) {
  // No retry on EINTR: the descriptor is released either way.
  return close(Descriptor(file)) == 0 || errno == EINTR || Failed(error);
}

bool ListFolder(const std::string& folder, std::vector<std::string>* names) {
  names->clear();
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return false;
  while (const dirent* entry = readdir(dir)) names->push_back(entry->d_name);
  closedir(dir);
  return true;
}

void SyncFolder(const std::string& folder) {
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

bool ProcessIsRunning(int pid) {
  if (pid <= 0) return true;  // not one process: never taken for a dead one
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

std::string DiskFullText() { return std::strerror(ENOSPC); }

}  // namespace fileplatform
}  // namespace hostkit
