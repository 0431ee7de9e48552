// The small dialogs' rules, row by row against the texts and limits the
// dialogs promise: the days field, the caption, the drawing-mode choice and
// its note, the about box's lines, and the listing's clipboard text.
#include "ui/small_dialog_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(SmallDialogRules, TheDaysFieldReadsWhatWasTypedAndNamesItsUnit) {
  const std::string sixtyFiveDigits(65, '9');
  const struct {
    const char* typed;
    uint32_t shown;
    const char* unit;
    uint32_t stored;
  } rows[] = {{"1", 1, "day.", 1},         {"2", 2, "days.", 2},          {"0", 0, "days.", 1},
              {"", 0, "days.", 1},         {"14", 14, "days.", 14},       {"007", 7, "days.", 7},
              {"12x", 12, "days.", 12},    {"x12", 0, "days.", 1},        {"999", 999, "days.", 999},
              {"1000", MAX_UPDATE_DAYS, "days.", MAX_UPDATE_DAYS},
              {"4294967296", MAX_UPDATE_DAYS, "days.", MAX_UPDATE_DAYS},
              {sixtyFiveDigits.c_str(), MAX_UPDATE_DAYS, "days.", MAX_UPDATE_DAYS}};
  for (const auto& r : rows) {
    const uint32_t shown = ParseUpdateDays(r.typed);
    EXPECT_EQ(shown, r.shown) << "'" << r.typed << "'";
    EXPECT_STREQ(DaysUnitText(shown), r.unit) << "'" << r.typed << "'";
    EXPECT_EQ(StoredUpdateDays(shown), r.stored) << "'" << r.typed << "'";
  }
  EXPECT_EQ(ParseUpdateDays(nullptr), 0u);
}

TEST(SmallDialogRules, TheCaptionNamesTheModulesBitness) {
  EXPECT_EQ(OptionsCaption("Glimmark 2 Plug-in Options", false), "32 Bit Glimmark 2 Plug-in Options");
  EXPECT_EQ(OptionsCaption("Glimmark 2 Plug-in Options", true), "64 Bit Glimmark 2 Plug-in Options");
  EXPECT_EQ(OptionsCaption(nullptr, true), "64 Bit ");
}

TEST(SmallDialogRules, OnlyAStoredModeCanBeChangedAndAChangeIsNamed) {
  const struct {
    int32_t stored;
    int32_t checked;
    bool enabled;
  } choices[] = {{0, 0, false}, {1, 1, true}, {2, 2, true}, {3, 3, true}, {4, 4, true}, {5, 0, false}, {-1, 0, false}};
  for (const auto& c : choices) {
    const DrawingModeChoice choice = DrawingModeChoiceFor(c.stored);
    EXPECT_EQ(choice.checked, c.checked) << c.stored;
    EXPECT_EQ(choice.enabled, c.enabled) << c.stored;
  }
  const std::string head = "The OpenGL drawing setting you have chosen";
  const std::string tail = " will take effect the next time the plug-in is started.";
  const struct {
    int32_t from;
    int32_t to;
    const char* named;
  } notes[] = {{4, 1, ", 'Optimize for better display quality',"},
               {1, 2, ", 'Optimize for faster display',"},
               {1, 3, ", 'Optimize for greater compatibility',"},
               {1, 4, ", 'Use Software Rendering',"},
               {1, 9, ""}};
  for (const auto& n : notes) EXPECT_EQ(DrawingModeChangeNote(n.from, n.to), head + n.named + tail) << n.to;
  for (int32_t mode = 0; mode <= 4; ++mode) EXPECT_EQ(DrawingModeChangeNote(mode, mode), "") << mode;
}

TEST(SmallDialogRules, TheAboutBoxLines) {
  EXPECT_EQ(OpenGLVersionLine("4.5 (Compatibility Profile) Mesa 22.3.6"),
            "OpenGL Version 4.5 (Compatibility Profile) Mesa 22.3.6");
  EXPECT_EQ(OpenGLVersionLine(""), "OpenGL Version Unknown");
  EXPECT_EQ(OpenGLVersionLine(nullptr), "OpenGL Version Unknown");
  const uint16_t version[4] = {2, 0, 65535, 1};
  EXPECT_EQ(ProductVersionLine(version), "Version: 2.0.65535.1");
}

TEST(SmallDialogRules, SelectedLinesBecomeClipboardTextUpToTheLineLimit) {
  std::string text = "stale";
  int32_t tooLong = -1;
  EXPECT_TRUE(ClipboardTextOfLines({}, &text, &tooLong));
  EXPECT_EQ(text, "");
  EXPECT_TRUE(ClipboardTextOfLines({"a", "", "LightSourceTable[0002] x = 1.00"}, &text, &tooLong));
  EXPECT_EQ(text, "a\r\n\r\nLightSourceTable[0002] x = 1.00\r\n");
  const std::string longest(MAX_CLIPBOARD_LINE, 'x');
  EXPECT_TRUE(ClipboardTextOfLines({longest}, &text, &tooLong));
  EXPECT_EQ(text.size(), MAX_CLIPBOARD_LINE + 2);
  EXPECT_FALSE(ClipboardTextOfLines({"a", longest + "x", "c"}, &text, &tooLong));
  EXPECT_EQ(tooLong, 1);
  EXPECT_EQ(text, "");
}

}  // namespace
