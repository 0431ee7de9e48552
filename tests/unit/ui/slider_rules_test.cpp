// The sliders' rules: the table agrees with the parameter table, number
// boxes read and refuse text as the dialog does, keys step, and a click on
// the channel lands where the formula says.
#include "ui/slider_rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "params/parameter_table.h"

namespace {

TEST(SliderRules, TheTableAgreesWithTheParameterTable) {
  for (const ParameterField& field : PARAMETER_TABLE) {
    if (field.control == NO_CONTROL) continue;
    ASSERT_LT(field.control, SLIDER_COUNT) << field.name;
    const SliderEntry& e = SLIDER_TABLE[field.control];
    EXPECT_STREQ(e.name, field.name);
    EXPECT_EQ(e.minimum, field.minimum) << field.name;
    EXPECT_EQ(e.maximum, field.maximum) << field.name;
    EXPECT_EQ(e.defaultValue, field.factory) << field.name;
    EXPECT_EQ(e.pageStep, field.pageStep) << field.name;
    EXPECT_EQ(e.editId != 0, field.hasControl) << field.name;
  }
}

TEST(SliderRules, NumberBoxesReadClampAndRefuse) {
  const SliderEntry& quantity = SLIDER_TABLE[0];
  const SliderEntry& angle = SLIDER_TABLE[3];
  const struct {
    const char* text;
    const SliderEntry* entry;
    bool read;
    int32_t value;
  } rows[] = {{"150", &quantity, true, 100}, {"42", &quantity, true, 42},  {"12.7", &quantity, true, 12},
              {"-3.9", &angle, true, -3},    {"-200", &angle, true, -90},  {"+7", &angle, true, 7},
              {"", &quantity, false, 0},     {"-", &angle, false, 0},      {".", &quantity, false, 0}};
  for (const auto& r : rows) {
    int32_t value = 0;
    EXPECT_EQ(ParseSliderText(r.text, *r.entry, &value), r.read) << r.text;
    if (r.read) {
      EXPECT_EQ(value, r.value) << r.text;
    }
  }
  for (char c : std::string("0123456789+-.\b")) EXPECT_TRUE(SliderFieldAccepts(c)) << c;
  for (char c : std::string("aZ ,\t%e")) EXPECT_FALSE(SliderFieldAccepts(c)) << c;
  EXPECT_EQ(SliderFieldText(angle, -45), "-45");
}

TEST(SliderRules, KeysStepAndClicksJump) {
  const SliderEntry& points = SLIDER_TABLE[4];
  EXPECT_EQ(SliderKeyValue(points, 4, SLIDER_KEY_UP, true, 1), 6) << "Ctrl+Up adds 2";
  EXPECT_EQ(SliderKeyValue(points, 4, SLIDER_KEY_UP, false, 1), 5);
  EXPECT_EQ(SliderKeyValue(points, 7, SLIDER_KEY_UP, true, 3), 8) << "held to the range";
  EXPECT_EQ(SliderKeyValue(SLIDER_TABLE[1], 50, SLIDER_KEY_PAGE_DOWN, false, 2), 30);
  // Channel from 10, 210 wide, thumb 10: e = 200 steps over 0..100.
  const SliderEntry& intensity = SLIDER_TABLE[1];
  EXPECT_EQ(TrackbarClickValue(intensity, 15, 10, 10, 210), 0);
  EXPECT_EQ(TrackbarClickValue(intensity, 115, 10, 10, 210), 50);
  EXPECT_EQ(TrackbarClickValue(intensity, 116, 10, 10, 210), 51) << "(100 x 101 + 100) / 200";
  EXPECT_EQ(TrackbarClickValue(intensity, 400, 10, 10, 210), 100);
  EXPECT_EQ(TrackbarClickValue(intensity, -50, 10, 10, 210), 0);
  EXPECT_EQ(TrackbarClickValue(SLIDER_TABLE[3], 115, 10, 10, 210), 0) << "the middle of -90..90";
  EXPECT_EQ(TrackbarClickValue(intensity, 50, 10, 10, 5), 0) << "no channel to speak of";
}

}  // namespace
