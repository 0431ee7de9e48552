#pragma once
// Reads a plug-in property list back the way a host does: a 16-bit prelude
// (1), a 32-bit version (0) and property count, then properties of a 16-byte
// header (vendor, key, id, length) and data. The next property begins at the
// data plus the length rounded up to a multiple of 4, whatever the length
// says about padding. Every read is bounds-checked; damage gives a message.
#include <cstdint>
#include <string>
#include <vector>

namespace pipl {

// A four-character code as the host compares it ('8BIM' = 0x3842494D).
constexpr uint32_t Code(const char (&c)[5]) {
  return (uint32_t(uint8_t(c[0])) << 24) | (uint32_t(uint8_t(c[1])) << 16) | (uint32_t(uint8_t(c[2])) << 8) |
         uint32_t(uint8_t(c[3]));
}

std::string CodeText(uint32_t code);

struct Property {
  uint32_t vendor = 0;
  uint32_t key = 0;
  uint32_t id = 0;
  uint32_t length = 0;        // as stored
  std::vector<uint8_t> data;  // exactly `length` bytes
};

struct List {
  int16_t prelude = 0;
  int32_t version = 0;
  std::vector<Property> properties;
  size_t bytesUsed = 0;  // end of the last property's padded data
};

bool Parse(const std::vector<uint8_t>& bytes, List* list, std::string* problem);

}  // namespace pipl
