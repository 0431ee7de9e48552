#pragma once
// The rules of the options dialog, the about box and the light source table
// listing that need no window: what a text field reads as, which words and
// lines are shown, and how a selection becomes clipboard text. The dialogs
// (Windows) call these; the native tests check them row by row.
#include <cstdint>
#include <string>
#include <vector>

// Days between update checks as the field reads: the leading decimal digits
// of at most 64 characters, saturating at MAX_UPDATE_DAYS; "" and text
// without a leading digit read as 0.
constexpr uint32_t MAX_UPDATE_DAYS = 999;
uint32_t ParseUpdateDays(const char* text);
// The days to store: at least one day between checks.
uint32_t StoredUpdateDays(uint32_t shown);
// The word after the field: "day." for exactly one, else "days.".
const char* DaysUnitText(uint32_t days);

// The options window's caption: "32 Bit " or "64 Bit " before the template's.
std::string OptionsCaption(const char* templateCaption, bool sixtyFourBit);

// The drawing-mode radio buttons: which is checked and whether any can be
// chosen. A mode outside 1..4 (none determined yet) checks none and
// disables all: the choice belongs to the first preview on this machine.
struct DrawingModeChoice {
  int32_t checked;  // 1..4, or 0 for none
  bool enabled;
};
DrawingModeChoice DrawingModeChoiceFor(int32_t storedMode);

// The "Please Note" text after OK, or "" when the mode did not change.
std::string DrawingModeChangeNote(int32_t modeAtStart, int32_t chosenMode);

// "OpenGL Version <text>", or "OpenGL Version Unknown" without a text.
std::string OpenGLVersionLine(const char* versionText);
// "Version: a.b.c.d".
std::string ProductVersionLine(const uint16_t version[4]);

// The listed lines joined for the clipboard, each ended by CR LF. A line
// longer than MAX_CLIPBOARD_LINE stops the copy: false, with its index in
// *tooLong. Nothing selected gives "" and true.
constexpr size_t MAX_CLIPBOARD_LINE = 4095;
bool ClipboardTextOfLines(const std::vector<std::string>& lines, std::string* text, int32_t* tooLong);
