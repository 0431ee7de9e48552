#pragma once
// Buffered files for the image codecs. Both keep the cause of their first
// failure in plain words, which the codecs' error callbacks pass on.
//
// OutputFile never leaves a target half-written: it writes a temporary
// beside the target (the target's name + ".tmp" + this process's id),
// checks every write, and Commit() flushes it to the disk and renames it over
// the target in one step. Anything short of a successful Commit() removes
// the temporary, so the target keeps its old contents. Open() first removes
// the temporaries of the same target that runs killed while writing left
// behind: names of exactly that pattern whose process no longer exists.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostkit/file_platform.h"

namespace hostkit {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  // Up to `size` bytes; fewer at the end of the file or after a failure
  // (error() says which: empty at the end).
  size_t Read(void* data, size_t size);
  bool Seek(uint64_t offset);
  uint64_t position() const { return bufferStart_ + bufferAt_; }
  uint64_t size() const { return size_; }
  const std::string& error() const { return error_; }

 private:
  fileplatform::FileHandle file_ = fileplatform::kNoFile;
  std::vector<uint8_t> buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  size_t bufferAt_ = 0, bufferEnd_ = 0;
  uint64_t size_ = 0;
  std::string error_;
};

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { Abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool Open(const std::string& target, std::string* error);
  // False from the first failure on; error() gives the cause.
  bool Write(const void* data, size_t size);
  bool Seek(uint64_t offset);
  // Reads back what was written (libtiff may).
  size_t Read(void* data, size_t size);
  uint64_t position() const { return position_; }
  uint64_t size() const { return size_ > position_ ? size_ : position_; }
  bool failed() const { return !error_.empty(); }
  const std::string& error() const { return error_; }
  // From now on writes succeed without writing: a codec that flushes while
  // it is torn down after a failure does not bury the first cause.
  void Discard() { discarding_ = true; }

  // Flushes, syncs, closes and renames over the target; on failure the
  // temporary is removed and *error says why.
  bool Commit(std::string* error);
  // Closes and removes the temporary (also done by the destructor).
  void Abandon();

  const std::string& temporaryPath() const { return temporary_; }

 private:
  bool Flush();
  bool Fail(const std::string& cause);

  fileplatform::FileHandle file_ = fileplatform::kNoFile;
  std::string target_, temporary_;
  std::vector<uint8_t> buffer_;
  uint64_t bufferStart_ = 0;  // file offset of buffer_[0]
  uint64_t position_ = 0, size_ = 0;
  uint64_t handedToSystem_ = 0;  // bytes written through the platform, for the test seam
  bool discarding_ = false;
  std::string error_;
};

// The temporary name OutputFile uses for `target` in process `pid`.
std::string TemporaryNameFor(const std::string& target, int pid);
// Removes the temporaries of `target` whose process has ended (see above).
void RemoveDeadTemporaries(const std::string& target);

// Test seam: from now on every OutputFile fails, as on a full disk, once it
// has handed `bytes` bytes to the system; a negative value turns it off.
void FailWritesAfterForTests(int64_t bytes);

}  // namespace hostkit
