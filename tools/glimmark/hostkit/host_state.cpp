#include "hostkit/host_state.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "hostkit/host_platform.h"

namespace hostkit {

namespace {

constexpr uint8_t kMagic[4] = {'G', 'M', 'H', 'S'};
constexpr uint32_t kFormatVersion = 1;
// Far above anything a module stores; a larger count or size is damage.
constexpr uint32_t kMaxEntries = 4096;
constexpr uint32_t kMaxKeyLength = 1024;
constexpr size_t kMaxFileSize = 64u << 20;

uint32_t Checksum(const uint8_t* bytes, size_t size) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

void PutU32(std::vector<uint8_t>* out, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<uint8_t>(value >> shift));
}

void PutBlock(std::vector<uint8_t>* out, const std::vector<uint8_t>& block) {
  PutU32(out, static_cast<uint32_t>(block.size()));
  out->insert(out->end(), block.begin(), block.end());
}

class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool U32(uint32_t* value) {
    if (size_ - at_ < 4) return false;
    *value = 0;
    for (int i = 0; i < 4; ++i) *value |= static_cast<uint32_t>(data_[at_ + i]) << (8 * i);
    at_ += 4;
    return true;
  }
  bool U8(uint8_t* value) {
    if (at_ >= size_) return false;
    *value = data_[at_++];
    return true;
  }
  bool Bytes(uint32_t length, std::vector<uint8_t>* out) {
    if (size_ - at_ < length) return false;
    out->assign(data_ + at_, data_ + at_ + length);
    at_ += length;
    return true;
  }
  bool Block(std::vector<uint8_t>* out) {
    uint32_t length = 0;
    return U32(&length) && Bytes(length, out);
  }
  bool AtEnd() const { return at_ == size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace

std::vector<uint8_t> EncodeHostState(const HostState& state) {
  std::vector<uint8_t> out(kMagic, kMagic + 4);
  PutU32(&out, kFormatVersion);
  out.push_back(state.hasLastDescriptor ? 1 : 0);
  if (state.hasLastDescriptor) PutBlock(&out, EncodeDescriptor(state.lastDescriptor));
  PutU32(&out, static_cast<uint32_t>(state.registry.size()));
  for (const RegistryRecord& record : state.registry) {
    PutBlock(&out, std::vector<uint8_t>(record.key.begin(), record.key.end()));
    PutBlock(&out, EncodeDescriptor(record.items));
  }
  PutU32(&out, Checksum(out.data(), out.size()));
  return out;
}

bool DecodeHostState(const std::vector<uint8_t>& bytes, HostState* state, std::string* why) {
  auto fail = [why](const char* reason) {
    if (why) *why = reason;
    return false;
  };
  if (bytes.size() < 4 + 4 + 1 + 4 + 4 || !std::equal(kMagic, kMagic + 4, bytes.begin()))
    return fail("not a glimmark host state file");
  const size_t body = bytes.size() - 4;
  Cursor tail(bytes.data() + body, 4);
  uint32_t stored = 0;
  tail.U32(&stored);
  if (stored != Checksum(bytes.data(), body)) return fail("the file is truncated or damaged (checksum mismatch)");

  Cursor in(bytes.data() + 4, body - 4);
  uint32_t version = 0;
  if (!in.U32(&version) || version != kFormatVersion) return fail("the file has an unknown format version");
  HostState read;
  uint8_t hasLast = 0;
  std::vector<uint8_t> block;
  if (!in.U8(&hasLast) || hasLast > 1) return fail("the file is damaged");
  read.hasLastDescriptor = hasLast == 1;
  if (read.hasLastDescriptor && !(in.Block(&block) && DecodeDescriptor(block, &read.lastDescriptor)))
    return fail("the last descriptor in the file is damaged");
  uint32_t count = 0;
  if (!in.U32(&count) || count > kMaxEntries) return fail("the registry in the file is damaged");
  for (uint32_t i = 0; i < count; ++i) {
    RegistryRecord record;
    if (!in.Block(&block) || block.empty() || block.size() > kMaxKeyLength)
      return fail("a registry key in the file is damaged");
    record.key.assign(block.begin(), block.end());
    if (record.key.find('\0') != std::string::npos) return fail("a registry key in the file is damaged");
    if (!in.Block(&block) || !DecodeDescriptor(block, &record.items))
      return fail("a registry entry in the file is damaged");
    read.registry.push_back(std::move(record));
  }
  if (!in.AtEnd()) return fail("the file has unexpected data at its end");
  *state = std::move(read);
  return true;
}

namespace {

// A name for what stands where a regular file was expected; empty for a
// regular file or nothing at all.
std::string NotARegularFile(const std::filesystem::file_status& status) {
  switch (status.type()) {
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::not_found:
      return std::string();
    case std::filesystem::file_type::directory:
      return "it is a folder, not a file";
    case std::filesystem::file_type::fifo:
      return "it is a named pipe, not a regular file";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
      return "it is a device, not a regular file";
    case std::filesystem::file_type::socket:
      return "it is a socket, not a regular file";
    default:
      return "it is not a regular file";
  }
}

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

}  // namespace

StateLoad LoadHostState(const std::string& path, HostState* state, std::string* why) {
  std::error_code error;
  const std::filesystem::path file(path);
  const std::filesystem::file_status status = std::filesystem::status(file, error);
  if (status.type() == std::filesystem::file_type::not_found) return StateLoad::kMissing;
  // Checked before opening: opening a named pipe waits for a writer.
  const std::string odd = error ? error.message() : NotARegularFile(status);
  if (!odd.empty()) {
    if (why) *why = odd;
    return StateLoad::kUnusable;
  }
  const auto size = std::filesystem::file_size(file, error);
  if (error || size > kMaxFileSize) {
    if (why) *why = error ? error.message() : "the file is far too large to be ours";
    return StateLoad::kUnusable;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  errno = 0;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) {
    if (why) *why = std::string("cannot open the file: ") + std::strerror(errno);
    return StateLoad::kUnusable;
  }
  const size_t got = bytes.empty() ? 0 : std::fread(bytes.data(), 1, bytes.size(), in);
  const bool failed = std::ferror(in) != 0;
  const int readError = errno;
  std::fclose(in);
  if (got != bytes.size()) {
    if (why)
      *why = failed ? std::string("cannot read the file: ") + std::strerror(readError)
                    : "the file shrank while it was read";
    return StateLoad::kUnusable;
  }
  return DecodeHostState(bytes, state, why) ? StateLoad::kLoaded : StateLoad::kUnusable;
}

namespace {

// The file a replacement goes to: a link to a file stays a link, and the
// file it names is replaced.
std::filesystem::path ReplacementTarget(const std::string& path) {
  std::error_code failure;
  const std::filesystem::path target(path);
  if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, failure))) return target;
  const std::filesystem::path resolved = std::filesystem::canonical(target, failure);
  return failure ? target : resolved;
}

}  // namespace

std::string ReplaceabilityProblem(const std::string& path) {
  std::error_code failure;
  return NotARegularFile(std::filesystem::status(ReplacementTarget(path), failure));
}

bool ReplaceFileContents(const std::string& path, const void* data, size_t size, std::string* error) {
  auto fail = [error](const std::string& reason) {
    if (error) *error = reason;
    return false;
  };
  const std::filesystem::path target = ReplacementTarget(path);
  std::error_code failure;
  const std::string odd = NotARegularFile(std::filesystem::status(target, failure));
  if (!odd.empty()) return fail(odd);
  const std::string finalPath = target.string();
  const std::string temporary = finalPath + ".tmp" + std::to_string(CurrentProcessId());
  // A temporary left by a crash goes first, whatever it is.
  RemoveFileQuietly(temporary);
  errno = 0;
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) return fail(std::string("cannot create '") + temporary + "': " + std::strerror(errno));
  bool written = size == 0 || std::fwrite(data, 1, size, out) == size;
  written = written && FlushToDisk(out);
  int writeError = errno;
  if (std::fclose(out) != 0 && written) {
    writeError = errno;
    written = false;
  }
  if (!written) {
    RemoveFileQuietly(temporary);
    return fail(std::string("cannot write the file: ") + (writeError != 0 ? std::strerror(writeError) : "write error"));
  }
  std::string reason;
  if (!MoveFileOver(temporary, finalPath, &reason)) {
    RemoveFileQuietly(temporary);
    return fail("cannot replace the file: " + (reason.empty() ? std::string("unknown error") : reason));
  }
  return true;
}

bool SaveHostState(const std::string& path, const HostState& state, std::string* error) {
  std::error_code failure;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, failure);
  if (failure) {
    if (error) *error = "cannot create the folder: " + failure.message();
    return false;
  }
  const std::vector<uint8_t> bytes = EncodeHostState(state);
  return ReplaceFileContents(path, bytes.data(), bytes.size(), error);
}

}  // namespace hostkit
