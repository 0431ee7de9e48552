#include "hostkit/file_io.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <new>

#include "hostkit/host_platform.h"

namespace hostkit {

namespace {

constexpr size_t kInputBufferBytes = size_t(64) << 10;
constexpr size_t kOutputBufferBytes = size_t(1) << 20;

std::atomic<int64_t> failWritesAfter{-1};

bool IsSeparator(char c) { return c == '/' || c == PathSeparator(); }

// The folder part of a path ("." when it has none) and the name in it.
void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  size_t slash = path.size();
  while (slash > 0 && !IsSeparator(path[slash - 1])) --slash;
  if (slash == 0) {
    *folder = ".";
  } else {
    *folder = path.substr(0, slash == 1 ? 1 : slash - 1);  // "/x" lives in "/"
  }
  *name = path.substr(slash);
}

// The process id in `name` when it is exactly `prefix` followed by 1 to 10
// digits; -1 otherwise.
int TemporaryOwner(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.size() > prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0)
    return -1;
  int64_t pid = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    pid = pid * 10 + (name[i] - '0');
  }
  return pid > std::numeric_limits<int>::max() ? -1 : static_cast<int>(pid);
}

}  // namespace

void FailWritesAfterForTests(int64_t bytes) { failWritesAfter.store(bytes); }

std::string TemporaryNameFor(const std::string& target, int pid) { return target + ".tmp" + std::to_string(pid); }

void RemoveDeadTemporaries(const std::string& target) {
  std::string folder, name;
  SplitPath(target, &folder, &name);
  if (name.empty()) return;
  std::vector<std::string> entries;
  if (!fileplatform::ListFolder(folder, &entries)) return;
  const std::string prefix = name + ".tmp";
  const std::string base = target.substr(0, target.size() - name.size());
  for (const std::string& entry : entries) {
    const int pid = TemporaryOwner(entry, prefix);
    // Our own id: a run before ours had it, since this process writes each
    // target once at a time.
    if (pid > 0 && (pid == CurrentProcessId() || !fileplatform::ProcessIsRunning(pid))) RemoveFileQuietly(base + entry);
  }
}

// --- InputFile ----------------------------------------------------------------

InputFile::~InputFile() {
  if (file_ != fileplatform::kNoFile) fileplatform::CloseFile(file_, nullptr);
}

bool InputFile::Open(const std::string& path, std::string* error) {
  std::string reason;
  file_ = fileplatform::OpenForReading(path, &reason);
  if (file_ == fileplatform::kNoFile || !fileplatform::SizeOf(file_, &size_, &reason)) {
    if (error) *error = reason;
    return false;
  }
  try {
    buffer_.resize(kInputBufferBytes);
  } catch (const std::bad_alloc&) {
    if (error) *error = "out of memory";
    return false;
  }
  return true;
}

size_t InputFile::Read(void* data, size_t size) {
  if (file_ == fileplatform::kNoFile) return 0;
  uint8_t* out = static_cast<uint8_t*>(data);
  size_t done = 0;
  while (done < size && error_.empty()) {
    if (bufferAt_ < bufferEnd_) {
      const size_t take = std::min(size - done, bufferEnd_ - bufferAt_);
      std::memcpy(out + done, buffer_.data() + bufferAt_, take);
      bufferAt_ += take;
      done += take;
      continue;
    }
    bufferStart_ += bufferEnd_;
    bufferAt_ = bufferEnd_ = 0;
    // Large reads go straight to the caller's memory.
    const bool direct = size - done >= buffer_.size();
    const int64_t got = fileplatform::ReadFrom(file_, direct ? out + done : buffer_.data(),
                                               direct ? size - done : buffer_.size(), &error_);
    if (got <= 0) break;  // the end, or a failure with error_ set
    if (direct) {
      bufferStart_ += static_cast<uint64_t>(got);
      done += static_cast<size_t>(got);
    } else {
      bufferEnd_ = static_cast<size_t>(got);
    }
  }
  return done;
}

bool InputFile::Seek(uint64_t offset) {
  if (file_ == fileplatform::kNoFile || !error_.empty()) return false;
  if (offset >= bufferStart_ && offset <= bufferStart_ + bufferEnd_) {
    bufferAt_ = static_cast<size_t>(offset - bufferStart_);
    return true;
  }
  if (!fileplatform::SeekTo(file_, offset, &error_)) return false;
  bufferStart_ = offset;
  bufferAt_ = bufferEnd_ = 0;
  return true;
}

// --- OutputFile ---------------------------------------------------------------

bool OutputFile::Open(const std::string& target, std::string* error) {
  Abandon();
  error_.clear();
  discarding_ = false;
  bufferStart_ = position_ = size_ = handedToSystem_ = 0;
  buffer_.clear();
  try {
    buffer_.reserve(kOutputBufferBytes);
  } catch (const std::bad_alloc&) {
    if (error) *error = "out of memory";
    return false;
  }
  RemoveDeadTemporaries(target);
  target_ = target;
  temporary_ = TemporaryNameFor(target, CurrentProcessId());
  RemoveFileQuietly(temporary_);
  std::string reason;
  file_ = fileplatform::CreateNewFile(temporary_, &reason);
  if (file_ == fileplatform::kNoFile) {
    temporary_.clear();
    if (error) *error = reason;
    return false;
  }
  return true;
}

bool OutputFile::Fail(const std::string& cause) {
  if (error_.empty()) error_ = cause;
  return false;
}

bool OutputFile::Flush() {
  if (file_ == fileplatform::kNoFile) return Fail("the file is not open");
  if (buffer_.empty() || discarding_) return error_.empty();
  std::string reason;
  if (!fileplatform::SeekTo(file_, bufferStart_, &reason)) return Fail(reason);
  size_t count = buffer_.size();
  const int64_t limit = failWritesAfter.load();
  const bool seamFails = limit >= 0 && handedToSystem_ + count > static_cast<uint64_t>(limit);
  if (seamFails) count = static_cast<size_t>(std::max<int64_t>(0, limit - static_cast<int64_t>(handedToSystem_)));
  if (!fileplatform::WriteTo(file_, buffer_.data(), count, &reason)) return Fail(reason);
  handedToSystem_ += count;
  if (seamFails) return Fail(fileplatform::DiskFullText());
  bufferStart_ += buffer_.size();
  buffer_.clear();
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (discarding_) {
    position_ += size;
    return true;
  }
  if (!error_.empty()) return false;
  if (file_ == fileplatform::kNoFile) return Fail("the file is not open");
  // A write elsewhere than at the buffer's end starts a new buffer.
  if (!buffer_.empty() && position_ != bufferStart_ + buffer_.size() && !Flush()) return false;
  if (buffer_.empty()) bufferStart_ = position_;
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const size_t take = std::min(size, buffer_.capacity() - buffer_.size());
    buffer_.insert(buffer_.end(), bytes, bytes + take);
    bytes += take;
    size -= take;
    position_ += take;
    if (buffer_.size() == buffer_.capacity() && !Flush()) return false;
  }
  size_ = std::max(size_, position_);
  return true;
}

bool OutputFile::Seek(uint64_t offset) {
  position_ = offset;
  return discarding_ || error_.empty();
}

size_t OutputFile::Read(void* data, size_t size) {
  if (discarding_ || !Flush()) return 0;
  bufferStart_ = position_;
  std::string reason;
  const int64_t got =
      fileplatform::SeekTo(file_, position_, &reason) ? fileplatform::ReadFrom(file_, data, size, &reason) : -1;
  if (got < 0) {
    Fail(reason);
    return 0;
  }
  position_ += static_cast<uint64_t>(got);
  bufferStart_ = position_;
  return static_cast<size_t>(got);
}

bool OutputFile::Commit(std::string* error) {
  std::string reason;
  bool ok = !discarding_ && Flush() && fileplatform::SyncToDisk(file_, &reason);
  if (!ok && reason.empty()) reason = discarding_ ? "the writing was stopped" : error_;
  if (ok) {
    ok = fileplatform::CloseFile(file_, &reason);
    file_ = fileplatform::kNoFile;
  }
  if (ok) ok = MoveFileOver(temporary_, target_, &reason);
  if (!ok) {
    Abandon();
    if (error) *error = reason;
    return false;
  }
  std::string folder, name;
  SplitPath(target_, &folder, &name);
  fileplatform::SyncFolder(folder);
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (file_ != fileplatform::kNoFile) fileplatform::CloseFile(file_, nullptr);
  file_ = fileplatform::kNoFile;
  if (!temporary_.empty()) RemoveFileQuietly(temporary_);
  temporary_.clear();
  buffer_.clear();
}

}  // namespace hostkit
