#include "ui/small_dialog_rules.h"

#include <cstdio>
#include <cstring>

#include "gl/drawing_settings.h"

uint32_t ParseUpdateDays(const char* text) {
  if (text == nullptr) return 0;
  uint32_t days = 0;
  for (size_t i = 0; i < 64 && text[i] >= '0' && text[i] <= '9'; ++i) {
    days = days * 10 + static_cast<uint32_t>(text[i] - '0');
    if (days > MAX_UPDATE_DAYS) return MAX_UPDATE_DAYS;
  }
  return days;
}

uint32_t StoredUpdateDays(uint32_t shown) { return shown == 0 ? 1 : (shown > MAX_UPDATE_DAYS ? MAX_UPDATE_DAYS : shown); }

const char* DaysUnitText(uint32_t days) { return days == 1 ? "day." : "days."; }

std::string OptionsCaption(const char* templateCaption, bool sixtyFourBit) {
  return std::string(sixtyFourBit ? "64 Bit " : "32 Bit ") + (templateCaption != nullptr ? templateCaption : "");
}

DrawingModeChoice DrawingModeChoiceFor(int32_t storedMode) {
  if (storedMode < OPTIMIZE_FOR_QUALITY || storedMode > OPTIMIZE_NONE) return DrawingModeChoice{0, false};
  return DrawingModeChoice{storedMode, true};
}

std::string DrawingModeChangeNote(int32_t modeAtStart, int32_t chosenMode) {
  if (chosenMode == modeAtStart) return "";
  const char* label = DrawingModeLabel(chosenMode);
  const std::string named = *label != '\0' ? std::string(", '") + label + "'," : "";
  return "The OpenGL drawing setting you have chosen" + named + " will take effect the next time the plug-in is started.";
}

std::string OpenGLVersionLine(const char* versionText) {
  if (versionText == nullptr || *versionText == '\0') return "OpenGL Version Unknown";
  return std::string("OpenGL Version ") + versionText;
}

std::string ProductVersionLine(const uint16_t version[4]) {
  char line[64];
  std::snprintf(line, sizeof line, "Version: %u.%u.%u.%u", version[0], version[1], version[2], version[3]);
  return line;
}

bool ClipboardTextOfLines(const std::vector<std::string>& lines, std::string* text, int32_t* tooLong) {
  text->clear();
  text->reserve(lines.size() * 256);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].size() > MAX_CLIPBOARD_LINE) {
      *tooLong = static_cast<int32_t>(i);
      text->clear();
      return false;
    }
    *text += lines[i];
    *text += "\r\n";
  }
  return true;
}
