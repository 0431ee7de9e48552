#include "params/parameter_set.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>

namespace {

// The stored layout, byte for byte, as files and hosts keep it.
TEST(ParameterSet, FactorySetHasTheStoredByteLayout) {
  const uint8_t expected[40] = {
      0, 0, 0, 0, 0, 0, 5, 0,             // version 0.0.0.5
      50, 0, 50, 0, 15, 0, 6, 0, 50, 0,   // intensity, length, angle, points, sharpness
      30, 0, 50, 0, 50, 0, 0, 0, 30, 0,   // saturation, rainbow ×2, secondary, soft flare
      0, 0, 0, 0,                         // blend selector, padding
      0x30, 0x54, 0x66, 0x65,             // carried value 0x65665430
      50, 0, 0, 0,                        // quantity, padding
  };
  EXPECT_EQ(0, std::memcmp(&FACTORY_PARAMETER_SET, expected, sizeof expected));
}

TEST(ParameterSet, VersionCheckAcceptsOnlyTheCurrentStamp) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.intensity = 32000;  // other fields do not matter
  EXPECT_TRUE(ParameterSetVersionMatches(&set));
  set.versionBuild = 4;
  EXPECT_FALSE(ParameterSetVersionMatches(&set));
  set = FACTORY_PARAMETER_SET;
  set.versionRevision = 1;
  EXPECT_FALSE(ParameterSetVersionMatches(&set));
  set = FACTORY_PARAMETER_SET;
  set.versionMajor = -1;
  EXPECT_FALSE(ParameterSetVersionMatches(&set));
}

TEST(ParameterSet, EqualityIgnoresVersionAndPaddingButNotCarriedValueOrQuantity) {
  ParameterSet a = FACTORY_PARAMETER_SET;
  ParameterSet b = FACTORY_PARAMETER_SET;
  b.versionBuild = 9;
  b.padding1[0] = 0x7f;
  b.padding2[1] = 0x11;
  EXPECT_TRUE(ParameterSetsEqual(&a, &b));

  b = a;
  b.carriedValue ^= 1;
  EXPECT_FALSE(ParameterSetsEqual(&a, &b));
  b = a;
  b.quantity = 51;
  EXPECT_FALSE(ParameterSetsEqual(&a, &b));
  b = a;
  b.blendSelector = 1;
  EXPECT_FALSE(ParameterSetsEqual(&a, &b));
  b = a;
  b.intensity = 49;
  EXPECT_FALSE(ParameterSetsEqual(&a, &b));
}

TEST(ParameterSet, ScriptingIndicesAddressTheDocumentedOffsets) {
  ParameterSet set{};
  const auto* base = reinterpret_cast<const uint8_t*>(&set);
  for (int index = 1; index <= 10; ++index) {
    const int16_t* field = ParameterFieldByIndex(&set, index);
    ASSERT_NE(field, nullptr) << index;
    EXPECT_EQ(reinterpret_cast<const uint8_t*>(field) - base, 6 + 2 * index) << index;
  }
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(ParameterFieldByIndex(&set, 13)) - base, 36);
  EXPECT_EQ(ParameterFieldByIndex(&set, 0), nullptr);
  EXPECT_EQ(ParameterFieldByIndex(&set, 11), nullptr);
  EXPECT_EQ(ParameterFieldByIndex(&set, 12), nullptr);
  EXPECT_EQ(ParameterFieldByIndex(&set, -1), nullptr);
  EXPECT_EQ(ParameterFieldByIndex(&set, 14), nullptr);
}

TEST(ParameterSet, ScriptedFloatsTruncateTowardZeroAndKeepLowBits) {
  struct Case {
    double in;
    int16_t out;
  } cases[] = {
      {-45.9, -45}, {45.9, 45}, {250.0, 250}, {-0.5, 0}, {32767.9, 32767},
      {32768.0, -32768},       // low 16 bits of 0x8000
      {65536.0 + 7, 7},        // wraps like the 16-bit store it is
      {-65537.0, -1},
      {1e300, 0},              // huge but finite: low bits of an exact multiple of 65536
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {std::numeric_limits<double>::infinity(), 0},
  };
  for (const Case& c : cases) {
    ScriptValue value{SCRIPT_FLOAT, c.in, 0, 0, 0};
    int16_t field = 1234;
    ASSERT_TRUE(ScriptValueToField(value, &field));
    EXPECT_EQ(field, c.out) << c.in;
  }
}

TEST(ParameterSet, ScriptedIntegersRoundTripThroughSixteenBits) {
  ScriptValue value{};
  ASSERT_TRUE(FieldToScriptValue(-90, SCRIPT_INTEGER, &value));
  EXPECT_EQ(value.integerValue, -90);
  ASSERT_TRUE(FieldToScriptValue(-90, SCRIPT_FLOAT, &value));
  EXPECT_EQ(value.floatValue, -90.0);

  ScriptValue in{SCRIPT_INTEGER, 0, 0x12345, 0, 0};
  int16_t field = 0;
  ASSERT_TRUE(ScriptValueToField(in, &field));
  EXPECT_EQ(field, 0x2345);
  in.integerValue = -2;
  ASSERT_TRUE(ScriptValueToField(in, &field));
  EXPECT_EQ(field, -2);

  in.type = 0x54455854;  // 'TEXT': not a representation of a field
  EXPECT_FALSE(ScriptValueToField(in, &field));
  EXPECT_FALSE(FieldToScriptValue(1, 0x54455854, &value));
}

TEST(ParameterSet, BuffersAre255ZeroFilledBytes) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.angle = -33;
  uint8_t* buffer = NewParameterBuffer(&set);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(0, std::memcmp(buffer, &set, sizeof set));
  for (size_t i = sizeof set; i < PARAMETER_BUFFER_SIZE; ++i) ASSERT_EQ(buffer[i], 0) << i;
  FreeParameterBuffer(buffer);
}

}  // namespace
