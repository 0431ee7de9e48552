#pragma once
// A small reader for the parts of a Windows PE module that the static checks
// look at: the file header, the export and import names and the resource tree.
//
// The input is untrusted (a half-written or wrong file must give a message,
// not a crash): every offset and count is checked against the file before it
// is used. Load returns false and leaves a description in error(); the query
// routines return false or an empty result when their data is missing.
#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014c;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kFileDll = 0x2000;  // file header characteristic
constexpr uint16_t kMagicPe32 = 0x10b;
constexpr uint16_t kMagicPe32Plus = 0x20b;

// A resource type or name: either a number or a string (compared exactly;
// resource compilers store string types upper-cased).
struct ResourceKey {
  bool isName = false;
  uint16_t id = 0;
  std::string name;

  static ResourceKey Id(uint16_t value) { return ResourceKey{false, value, {}}; }
  static ResourceKey Name(std::string value) { return ResourceKey{true, 0, std::move(value)}; }
};

class Image {
 public:
  bool Load(std::vector<uint8_t> bytes);
  bool LoadFile(const std::string& path);
  const std::string& error() const { return error_; }

  uint16_t machine() const { return machine_; }
  uint16_t characteristics() const { return characteristics_; }
  uint16_t optionalMagic() const { return magic_; }

  // Names in the export name table, in table order. False if the table is
  // damaged; true with an empty list if the module exports nothing.
  bool ExportNames(std::vector<std::string>* names, std::string* problem) const;
  // Names of the DLLs in the import directory.
  bool ImportNames(std::vector<std::string>* names, std::string* problem) const;
  // Data of the resource type/name/language; language 0xFFFF takes the first.
  bool FindResource(const ResourceKey& type, const ResourceKey& name, uint16_t language,
                    std::vector<uint8_t>* data, std::string* problem) const;

 private:
  struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawOffset;
    uint32_t rawSize;
  };
  struct Directory {
    uint32_t rva = 0;
    uint32_t size = 0;
  };

  bool Fail(const std::string& message);
  // File offset of `length` bytes at `rva`, all inside one section's raw data.
  bool MapRva(uint32_t rva, uint32_t length, uint32_t* offset) const;
  bool ReadCString(uint32_t rva, std::string* out) const;
  bool FindEntry(uint32_t dirOffset, const ResourceKey* key, uint32_t* target, std::string* problem) const;

  std::vector<uint8_t> bytes_;
  std::vector<Section> sections_;
  Directory exports_, imports_, resources_;
  uint16_t machine_ = 0;
  uint16_t characteristics_ = 0;
  uint16_t magic_ = 0;
  std::string error_;
};

}  // namespace pe
