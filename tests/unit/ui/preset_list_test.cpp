// The preset list: where names go, what a save over an existing name does,
// deleting, and a preset shown again once the settings come back to it.
#include "ui/preset_list.h"

#include <gtest/gtest.h>

namespace {

ParameterSet WithLength(int16_t length) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.length = length;
  return set;
}

std::vector<std::string> Names(const PresetList& list) {
  std::vector<std::string> names;
  for (int i = 0; i < list.Count(); ++i) names.push_back(list.Name(i));
  return names;
}

TEST(PresetList, NamesGoInOrderIgnoringCaseAndASaveKeepsItsPlace) {
  PresetList list(WithLength(70));
  list.Append("night", WithLength(10));  // as the folder listed it
  list.Append("Candles", WithLength(20));
  EXPECT_EQ(list.Add("city", WithLength(30)), 2) << "before the first later name";
  EXPECT_EQ(list.Add("Zebra", WithLength(40)), 5) << "at the end";
  // Another text than "night": not greater than "night" or "Candles"
  // ignoring case, so it goes before "Zebra" (the folder's order is kept).
  EXPECT_EQ(list.Add("Night", WithLength(50)), 5);
  EXPECT_EQ(Names(list), (std::vector<std::string>{"Default Settings", "Initial Settings", "city", "night", "Candles",
                                                   "Night", "Zebra"}));
  // Saving as an existing name: same place, new set, selected.
  EXPECT_EQ(list.Add("city", WithLength(99)), 2);
  EXPECT_EQ(list.Set(2).length, 99);
  EXPECT_EQ(list.Selected(), 2);
  EXPECT_EQ(list.Count(), 7);
}

TEST(PresetList, AChosenPresetReturnsWithItsSettingsAndDeletesApply) {
  PresetList list(WithLength(70));
  EXPECT_EQ(list.Set(PRESET_DEFAULT).length, FACTORY_PARAMETER_SET.length);
  EXPECT_EQ(list.Set(PRESET_INITIAL).length, 70);
  list.Choose(PRESET_INITIAL);
  EXPECT_FALSE(list.CanDelete()) << "the fixed items cannot be deleted";
  EXPECT_FALSE(list.Remove(PRESET_INITIAL));
  const int soft = list.Add("soft", WithLength(25));
  EXPECT_TRUE(list.CanDelete());
  list.SettingsChanged(WithLength(26));
  EXPECT_FALSE(list.Shown()) << "a slider moved: no preset shown";
  EXPECT_FALSE(list.CanDelete());
  list.SettingsChanged(WithLength(25));
  EXPECT_TRUE(list.Shown()) << "moved back: the preset is shown again";
  EXPECT_EQ(list.Selected(), soft);
  list.Add("alpha", WithLength(1));
  EXPECT_EQ(list.Name(3), "soft");
  EXPECT_TRUE(list.Remove(3));
  EXPECT_EQ(list.Selected(), 2) << "alpha stays chosen";
  EXPECT_TRUE(list.Remove(2));
  EXPECT_EQ(list.Selected(), PRESET_NONE);
  EXPECT_FALSE(list.Shown());
}

TEST(PresetList, FileNamesAndFolders) {
  EXPECT_EQ(PresetNameOfFile("D:\\Presets\\Warm.glow.sss"), "Warm.glow");
  EXPECT_EQ(PresetNameOfFile("presets/Candles.sss"), "Candles");
  EXPECT_EQ(PresetNameOfFile("plain"), "plain");
  EXPECT_TRUE(IsInParametersFolder("D:\\PRESETS\\Glimmark\\a.sss", "d:\\presets\\glimmark"));
  EXPECT_FALSE(IsInParametersFolder("D:\\Presets\\GlimmarkOld\\a.sss", "D:\\Presets\\Glimmark"));
  EXPECT_FALSE(IsInParametersFolder("E:\\a.sss", "D:\\Presets\\Glimmark"));
  EXPECT_FALSE(IsInParametersFolder("a.sss", ""));
}

}  // namespace
