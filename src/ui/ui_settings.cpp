#include "ui/ui_settings.h"

#include <cstring>

#include "runtime/report.h"
#include "runtime/user_folders.h"

namespace {

constexpr uint16_t VERSION[4] = {0, 0, 0, 11};

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, int32_t value) {
  const uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
int32_t Get32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void EncodeUISettings(const UISettings& s, uint8_t bytes[UI_SETTINGS_BYTES]) {
  std::memset(bytes, 0, UI_SETTINGS_BYTES);
  for (int i = 0; i < 4; ++i) Put16(bytes + 2 * i, VERSION[i]);
  Put32(bytes + 8, s.windowRect.left);
  Put32(bytes + 12, s.windowRect.top);
  Put32(bytes + 16, s.windowRect.right);
  Put32(bytes + 20, s.windowRect.bottom);
  Put32(bytes + 24, s.tool);
  Put32(bytes + 28, s.preview);
}

bool DecodeUISettings(const uint8_t* bytes, size_t size, UISettings* settings) {
  *settings = UISettings{};
  if (bytes == nullptr || size < UI_SETTINGS_BYTES) return false;
  const uint16_t version[4] = {Get16(bytes), Get16(bytes + 2), Get16(bytes + 4), Get16(bytes + 6)};
  if (std::memcmp(version, VERSION, sizeof version) != 0) {
    REPORT_DEBUG("User Setting File version mismatch. File Version = '%d','%d','%d','%d'", version[0], version[1],
                 version[2], version[3]);
    return false;
  }
  for (size_t i = 32; i < UI_SETTINGS_BYTES; ++i)
    if (bytes[i] != 0) return false;  // the reserved bytes are zero in every file we write
  UISettings s;
  s.windowRect = ImageRect{Get32(bytes + 8), Get32(bytes + 12), Get32(bytes + 16), Get32(bytes + 20)};
  s.tool = Get32(bytes + 24);
  s.preview = Get32(bytes + 28);
  // Values no dialog writes keep their defaults, one by one.
  if (s.tool < TOOL_HAND || s.tool > TOOL_SHOW_EFFECTS) s.tool = TOOL_ZOOM;
  if (s.preview != 0 && s.preview != 1) s.preview = 1;
  *settings = s;
  return true;
}

bool LoadUISettings(UISettings* settings, const char* fileName) {
  // One byte past the record, and a fill the reserved part never holds: a
  // short file leaves it, a long one overwrites the extra byte.
  uint8_t bytes[UI_SETTINGS_BYTES + 1];
  std::memset(bytes, 0xA5, sizeof bytes);
  *settings = UISettings{};
  if (!ReadSettingsFile(fileName, bytes, sizeof bytes)) return false;
  if (bytes[UI_SETTINGS_BYTES] != 0xA5) return false;  // longer than any file we write
  return DecodeUISettings(bytes, UI_SETTINGS_BYTES, settings);
}

bool SaveUISettings(const UISettings& settings, const char* fileName) {
  uint8_t bytes[UI_SETTINGS_BYTES];
  EncodeUISettings(settings, bytes);
  return WriteSettingsFile(fileName, bytes, sizeof bytes);
}
