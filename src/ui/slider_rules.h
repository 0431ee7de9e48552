#pragma once
// The main dialog's sliders as rules: their table (range, steps, default,
// control ids), how a number box's text becomes a value, which characters
// it takes, what its keys do and where a click on a trackbar's channel puts
// the thumb. The window code applies them.
#include <cstdint>
#include <string>

struct SliderEntry {
  const char* name;
  int16_t minimum;
  int16_t maximum;
  int16_t lineStep;
  int16_t pageStep;
  int16_t ctrlStep;  // the arrow keys' step with Ctrl held
  int16_t defaultValue;
  int32_t editId;      // 0: no controls in this dialog
  int32_t trackbarId;
  int32_t decimals;
};

constexpr int SLIDER_COUNT = 11;
// In the order of the Parameter Set's slider values (the parameter table's
// control numbers).
extern const SliderEntry SLIDER_TABLE[SLIDER_COUNT];

// The number box's text as a value: a decimal number scaled by the entry's
// decimals, truncated toward zero and held to the range. False (keep the old
// value) for an empty or unreadable text.
bool ParseSliderText(const char* text, const SliderEntry& entry, int32_t* value);
// The text the box shows for a value ("%.*f" with the entry's decimals).
std::string SliderFieldText(const SliderEntry& entry, int32_t value);
// Digits, backspace, "+", "-" and "." go in; anything else is refused.
bool SliderFieldAccepts(char c);

enum SliderKey : int32_t { SLIDER_KEY_UP, SLIDER_KEY_DOWN, SLIDER_KEY_PAGE_UP, SLIDER_KEY_PAGE_DOWN };
// The value after a key pressed `repeat` times, held to the range.
int32_t SliderKeyValue(const SliderEntry& entry, int32_t value, SliderKey key, bool ctrl, int32_t repeat);

// The value a press at x on a trackbar's channel jumps to.
int32_t TrackbarClickValue(const SliderEntry& entry, int32_t x, int32_t thumbWidth, int32_t channelLeft,
                           int32_t channelWidth);
