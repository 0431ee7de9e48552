#include "pe_image.h"

#include <fstream>
#include <iterator>

namespace pe {
namespace {

uint16_t Get16(const std::vector<uint8_t>& b, uint64_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

uint32_t Get32(const std::vector<uint8_t>& b, uint64_t at) {
  return static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
         (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

std::string Hex(uint32_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string out = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xf];
  return out;
}

// Limits that no sound module comes near; they stop a damaged count from
// making the reader walk the whole file entry by entry.
constexpr uint32_t kMaxNames = 65536;
constexpr uint32_t kMaxImports = 4096;
constexpr uint32_t kMaxStringLength = 4096;
constexpr uint32_t kMaxDirectoryEntries = 65536;

}  // namespace

bool Image::Fail(const std::string& message) {
  error_ = message;
  return false;
}

bool Image::LoadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail("cannot open " + path);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Fail("cannot read " + path);
  return Load(std::move(bytes));
}

bool Image::Load(std::vector<uint8_t> bytes) {
  bytes_ = std::move(bytes);
  sections_.clear();
  exports_ = imports_ = resources_ = Directory{};
  error_.clear();
  const uint64_t size = bytes_.size();

  if (size < 64 || bytes_[0] != 'M' || bytes_[1] != 'Z') return Fail("no DOS header (MZ)");
  const uint64_t peOffset = Get32(bytes_, 0x3c);
  if (peOffset + 24 > size) return Fail("PE header offset " + Hex(static_cast<uint32_t>(peOffset)) + " lies past the end");
  if (Get32(bytes_, peOffset) != 0x00004550) return Fail("no PE signature");

  const uint64_t fileHeader = peOffset + 4;
  machine_ = Get16(bytes_, fileHeader);
  const uint16_t sectionCount = Get16(bytes_, fileHeader + 2);
  const uint16_t optionalSize = Get16(bytes_, fileHeader + 16);
  characteristics_ = Get16(bytes_, fileHeader + 18);

  const uint64_t optional = fileHeader + 20;
  if (optionalSize < 2 || optional + optionalSize > size) return Fail("optional header truncated");
  magic_ = Get16(bytes_, optional);
  uint64_t countField = 0;
  if (magic_ == kMagicPe32) {
    countField = 92;
  } else if (magic_ == kMagicPe32Plus) {
    countField = 108;
  } else {
    return Fail("unknown optional header magic " + Hex(magic_));
  }
  if (countField + 4 > optionalSize) return Fail("optional header too short for its data directories");
  const uint32_t directoryCount = Get32(bytes_, optional + countField);
  const uint64_t directories = optional + countField + 4;
  auto readDirectory = [&](uint32_t index, Directory* dir) {
    if (index < directoryCount && directories + 8 * (index + 1) <= optional + optionalSize) {
      dir->rva = Get32(bytes_, directories + 8 * index);
      dir->size = Get32(bytes_, directories + 8 * index + 4);
    }
  };
  readDirectory(0, &exports_);
  readDirectory(1, &imports_);
  readDirectory(2, &resources_);

  const uint64_t table = optional + optionalSize;
  if (table + 40ull * sectionCount > size) return Fail("section table truncated");
  for (uint16_t i = 0; i < sectionCount; ++i) {
    const uint64_t at = table + 40ull * i;
    Section s{Get32(bytes_, at + 12), Get32(bytes_, at + 8), Get32(bytes_, at + 20), Get32(bytes_, at + 16)};
    sections_.push_back(s);
  }
  return true;
}

bool Image::MapRva(uint32_t rva, uint32_t length, uint32_t* offset) const {
  for (const Section& s : sections_) {
    // Only bytes present in the file count; the zero-filled tail of a section
    // holds no names or resource data in a sound module.
    uint64_t extent = s.rawSize;
    if (s.virtualSize != 0 && s.virtualSize < extent) extent = s.virtualSize;
    if (rva < s.virtualAddress || uint64_t(rva) - s.virtualAddress + length > extent) continue;
    const uint64_t at = uint64_t(s.rawOffset) + (rva - s.virtualAddress);
    if (at + length > bytes_.size()) return false;
    *offset = static_cast<uint32_t>(at);
    return true;
  }
  return false;
}

bool Image::ReadCString(uint32_t rva, std::string* out) const {
  out->clear();
  for (uint32_t i = 0; i < kMaxStringLength; ++i) {
    uint32_t at = 0;
    if (!MapRva(rva + i, 1, &at)) return false;
    if (bytes_[at] == 0) return true;
    out->push_back(static_cast<char>(bytes_[at]));
  }
  return false;
}

bool Image::ExportNames(std::vector<std::string>* names, std::string* problem) const {
  names->clear();
  if (exports_.rva == 0) return true;
  uint32_t dir = 0;
  if (!MapRva(exports_.rva, 40, &dir)) {
    *problem = "export directory outside the sections";
    return false;
  }
  const uint32_t count = Get32(bytes_, dir + 24);
  const uint32_t nameTable = Get32(bytes_, dir + 32);
  uint32_t table = 0;
  if (count > kMaxNames || (count != 0 && !MapRva(nameTable, count * 4, &table))) {
    *problem = "export name table damaged (" + std::to_string(count) + " names)";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!ReadCString(Get32(bytes_, table + 4 * i), &name)) {
      *problem = "export name " + std::to_string(i) + " unreadable";
      return false;
    }
    names->push_back(name);
  }
  return true;
}

bool Image::ImportNames(std::vector<std::string>* names, std::string* problem) const {
  names->clear();
  if (imports_.rva == 0) return true;
  for (uint32_t i = 0; i < kMaxImports; ++i) {
    uint32_t at = 0;
    if (!MapRva(imports_.rva + 20 * i, 20, &at)) {
      *problem = "import directory runs outside the sections";
      return false;
    }
    const uint32_t lookup = Get32(bytes_, at);
    const uint32_t nameRva = Get32(bytes_, at + 12);
    const uint32_t thunks = Get32(bytes_, at + 16);
    if (lookup == 0 && nameRva == 0 && thunks == 0) return true;
    std::string name;
    if (!ReadCString(nameRva, &name)) {
      *problem = "import " + std::to_string(i) + " has an unreadable DLL name";
      return false;
    }
    names->push_back(name);
  }
  *problem = "import directory has no terminating entry";
  return false;
}

// Looks up `key` in the resource directory at `dirOffset` (relative to the
// start of the resource section); a null key takes the first entry.
// `target` receives the entry's raw offset field (high bit = subdirectory).
bool Image::FindEntry(uint32_t dirOffset, const ResourceKey* key, uint32_t* target, std::string* problem) const {
  const uint32_t base = resources_.rva;
  uint32_t dir = 0;
  if (!MapRva(base + dirOffset, 16, &dir)) {
    *problem = "resource directory at " + Hex(dirOffset) + " outside the sections";
    return false;
  }
  const uint32_t count = uint32_t(Get16(bytes_, dir + 12)) + Get16(bytes_, dir + 14);
  if (count > kMaxDirectoryEntries) {
    *problem = "resource directory claims " + std::to_string(count) + " entries";
    return false;
  }
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t entry = 0;
    if (!MapRva(base + dirOffset + 16 + 8 * i, 8, &entry)) {
      *problem = "resource directory entries run outside the sections";
      return false;
    }
    const uint32_t nameField = Get32(bytes_, entry);
    const uint32_t offsetField = Get32(bytes_, entry + 4);
    bool match = key == nullptr;
    if (!match && (nameField & 0x80000000u) != 0 && key->isName) {
      const uint32_t nameOffset = nameField & 0x7fffffffu;
      uint32_t at = 0;
      if (!MapRva(base + nameOffset, 2, &at)) {
        *problem = "resource name outside the sections";
        return false;
      }
      const uint32_t length = Get16(bytes_, at);
      if (!MapRva(base + nameOffset + 2, length * 2, &at)) {
        *problem = "resource name outside the sections";
        return false;
      }
      std::string name;
      for (uint32_t c = 0; c < length; ++c) {
        const uint16_t unit = Get16(bytes_, at + 2 * c);
        name.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
      }
      match = name == key->name;
    } else if (!match && (nameField & 0x80000000u) == 0 && !key->isName) {
      match = nameField == key->id;
    }
    if (match) {
      *target = offsetField;
      return true;
    }
  }
  return false;
}

bool Image::FindResource(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                         std::vector<uint8_t>* data, std::string* problem) const {
  data->clear();
  problem->clear();
  if (resources_.rva == 0) {
    *problem = "module has no resource directory";
    return false;
  }
  const ResourceKey lang = ResourceKey::Id(language);
  const ResourceKey* keys[3] = {&type, &name, language == 0xFFFF ? nullptr : &lang};
  const char* levels[3] = {"type", "name", "language"};
  uint32_t offset = 0;
  for (int level = 0; level < 3; ++level) {
    uint32_t target = 0;
    if (!FindEntry(offset, keys[level], &target, problem)) {
      if (problem->empty()) *problem = std::string("no resource of that ") + levels[level];
      return false;
    }
    const bool isDirectory = (target & 0x80000000u) != 0;
    if (isDirectory != (level < 2)) {
      *problem = std::string("resource tree malformed at the ") + levels[level] + " level";
      return false;
    }
    offset = target & 0x7fffffffu;
  }
  uint32_t leaf = 0;
  if (!MapRva(resources_.rva + offset, 16, &leaf)) {
    *problem = "resource data entry outside the sections";
    return false;
  }
  const uint32_t dataRva = Get32(bytes_, leaf);
  const uint32_t dataSize = Get32(bytes_, leaf + 4);
  uint32_t at = 0;
  if (!MapRva(dataRva, dataSize, &at)) {
    *problem = "resource data outside the sections";
    return false;
  }
  data->assign(bytes_.begin() + at, bytes_.begin() + at + dataSize);
  return true;
}

}  // namespace pe
