#include "ui/slider_rules.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

const SliderEntry SLIDER_TABLE[SLIDER_COUNT] = {
    {"Quantity", 0, 100, 1, 10, 10, 50, 1025, 1026, 0},
    {"Intensity", 0, 100, 1, 10, 10, 50, 1005, 1004, 0},
    {"Length", 0, 100, 1, 10, 10, 50, 1007, 1006, 0},
    {"Angle", -90, 90, 1, 10, 10, 15, 1009, 1008, 0},
    {"Number of Points", 2, 8, 1, 2, 2, 6, 1011, 1010, 0},
    {"Spike Sharpness", 0, 100, 1, 10, 10, 50, 1022, 1024, 0},
    {"Color Saturation", -100, 100, 1, 10, 10, 30, 1013, 1012, 0},
    {"Rainbow Intensity", 0, 100, 1, 10, 10, 50, 0, 0, 0},
    {"Rainbow Frequency", 0, 100, 1, 10, 10, 50, 0, 0, 0},
    {"Secondary Spike Intensity", 0, 100, 1, 10, 10, 0, 0, 0, 0},
    {"Soft Flare Intensity", 0, 100, 1, 10, 10, 30, 1021, 1020, 0},
};

namespace {

int32_t Clamp(const SliderEntry& e, int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, e.minimum, e.maximum)); }

}  // namespace

bool ParseSliderText(const char* text, const SliderEntry& entry, int32_t* value) {
  if (text == nullptr || text[0] == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const double number = std::strtod(text, &end);
  if (end == text || !std::isfinite(number)) return false;
  const double scaled = std::trunc(number * std::pow(10.0, entry.decimals));
  *value = Clamp(entry, static_cast<int64_t>(std::clamp(scaled, -1e9, 1e9)));
  return true;
}

std::string SliderFieldText(const SliderEntry& entry, int32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", entry.decimals, value / std::pow(10.0, entry.decimals));
  return text;
}

bool SliderFieldAccepts(char c) { return (c >= '0' && c <= '9') || c == '\b' || c == '+' || c == '-' || c == '.'; }

int32_t SliderKeyValue(const SliderEntry& entry, int32_t value, SliderKey key, bool ctrl, int32_t repeat) {
  const int64_t count = std::max(1, repeat);
  const int64_t line = ctrl ? entry.ctrlStep : entry.lineStep;
  switch (key) {
    case SLIDER_KEY_UP: return Clamp(entry, value + line * count);
    case SLIDER_KEY_DOWN: return Clamp(entry, value - line * count);
    case SLIDER_KEY_PAGE_UP: return Clamp(entry, value + entry.pageStep * count);
    case SLIDER_KEY_PAGE_DOWN: return Clamp(entry, value - entry.pageStep * count);
  }
  return value;
}

int32_t TrackbarClickValue(const SliderEntry& entry, int32_t x, int32_t thumbWidth, int32_t channelLeft,
                           int32_t channelWidth) {
  const int64_t e = static_cast<int64_t>(channelWidth) - thumbWidth;
  if (e <= 0) return entry.minimum;  // a channel no wider than the thumb
  const int64_t span = static_cast<int64_t>(entry.maximum) - entry.minimum;
  const int64_t offset = static_cast<int64_t>(x) - thumbWidth / 2 - channelLeft;
  // Rounded to the nearest step; floor division so that a press left of the
  // channel stays below the minimum before the clamp.
  const int64_t numerator = span * offset + e / 2;
  const int64_t steps = numerator >= 0 ? numerator / e : -((-numerator + e - 1) / e);
  return Clamp(entry, entry.minimum + steps);
}
