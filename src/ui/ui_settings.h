#pragma once
// The main dialog's own settings: where it stood, which preview tool was
// chosen and whether Preview was on, kept in "UISettings.bin" (52 bytes,
// little-endian) in the user's settings folder. A missing, short, damaged or
// foreign file leaves the defaults; a write replaces the file whole.
#include <cstddef>
#include <cstdint>

#include "image/image.h"

constexpr size_t UI_SETTINGS_BYTES = 52;
constexpr const char* UI_SETTINGS_FILE = "UISettings.bin";

enum ProxyTool : int32_t { TOOL_HAND = 1, TOOL_ZOOM = 2, TOOL_HIDE_EFFECTS = 3, TOOL_SHOW_EFFECTS = 4 };

struct UISettings {
  ImageRect windowRect{0, 0, 0, 0};  // screen coordinates; all 0: never saved
  int32_t tool = TOOL_ZOOM;
  int32_t preview = 1;  // 1 on, 0 off
};

void EncodeUISettings(const UISettings& settings, uint8_t bytes[UI_SETTINGS_BYTES]);
// False (the defaults in *settings, the cause reported where it concerns
// the user's file) for a short, damaged or foreign image of the file.
bool DecodeUISettings(const uint8_t* bytes, size_t size, UISettings* settings);

// Reads and writes the file; Load leaves the defaults when it cannot.
bool LoadUISettings(UISettings* settings, const char* fileName = UI_SETTINGS_FILE);
bool SaveUISettings(const UISettings& settings, const char* fileName = UI_SETTINGS_FILE);
