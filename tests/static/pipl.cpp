#include "pipl.h"

namespace pipl {
namespace {

uint32_t Get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

std::string CodeText(uint32_t code) {
  std::string text = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((code >> shift) & 0xff);
    text += (c >= 0x20 && c < 0x7f) ? c : '?';
  }
  return text + "'";
}

bool Parse(const std::vector<uint8_t>& bytes, List* list, std::string* problem) {
  *list = List{};
  if (bytes.size() < 10) {
    *problem = "property list shorter than its 10-byte header";
    return false;
  }
  list->prelude = static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
  list->version = static_cast<int32_t>(Get32(bytes, 2));
  const uint32_t count = Get32(bytes, 6);
  if (list->prelude != 1) {
    *problem = "prelude word is " + std::to_string(list->prelude) + ", not 1";
    return false;
  }
  if (list->version != 0) {
    *problem = "version is " + std::to_string(list->version) + ", not 0";
    return false;
  }
  size_t at = 10;
  for (uint32_t i = 0; i < count; ++i) {
    const std::string which = "property " + std::to_string(i);
    if (bytes.size() - at < 16) {
      *problem = which + ": header runs past the end (count " + std::to_string(count) + " too large?)";
      return false;
    }
    Property p;
    p.vendor = Get32(bytes, at);
    p.key = Get32(bytes, at + 4);
    p.id = Get32(bytes, at + 8);
    p.length = Get32(bytes, at + 12);
    at += 16;
    const uint64_t padded = (uint64_t(p.length) + 3) & ~uint64_t(3);
    if (padded > bytes.size() - at) {
      *problem = which + " " + CodeText(p.key) + ": length " + std::to_string(p.length) + " runs past the end";
      return false;
    }
    p.data.assign(bytes.begin() + at, bytes.begin() + at + p.length);
    at += static_cast<size_t>(padded);
    list->properties.push_back(std::move(p));
  }
  list->bytesUsed = at;
  return true;
}

}  // namespace pipl
