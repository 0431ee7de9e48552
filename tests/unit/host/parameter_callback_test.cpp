#include <gtest/gtest.h>

#include <cstring>

#include "host/plugin_globals.h"

namespace {

// The dialog and the parameter files reach the current set only through this
// callback; point the globals at a set of our own as a locked host block.
class ParameterCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    current_ = FACTORY_PARAMETER_SET;
    current_.angle = -20;
    current_.versionBuild = 3;  // a stale stamp in the host block
    Globals().lockedParameters = &current_;
  }
  void TearDown() override { Globals().lockedParameters = nullptr; }
  ParameterSet current_;
};

TEST_F(ParameterCallback, CurrentVersionIsZeroZeroZeroFive) {
  const auto* version = reinterpret_cast<const ParameterVersion*>(ParameterSetCallback(0, nullptr));
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version->major, 0);
  EXPECT_EQ(version->minor, 0);
  EXPECT_EQ(version->revision, 0);
  EXPECT_EQ(version->build, 5);
}

TEST_F(ParameterCallback, CopiesAreFullBuffersAndTheCurrentCopyIsRestamped) {
  auto* factory = reinterpret_cast<uint8_t*>(ParameterSetCallback(1, nullptr));
  ASSERT_NE(factory, nullptr);
  EXPECT_EQ(0, std::memcmp(factory, &FACTORY_PARAMETER_SET, sizeof(ParameterSet)));
  FreeParameterBuffer(factory);

  auto* copy = reinterpret_cast<uint8_t*>(ParameterSetCallback(2, nullptr));
  ASSERT_NE(copy, nullptr);
  const auto* set = reinterpret_cast<const ParameterSet*>(copy);
  EXPECT_EQ(set->angle, -20);
  EXPECT_EQ(set->versionBuild, 5);
  EXPECT_EQ(current_.versionBuild, 3) << "the host block itself is not touched";
  for (size_t i = sizeof(ParameterSet); i < PARAMETER_BUFFER_SIZE; ++i) ASSERT_EQ(copy[i], 0);
  FreeParameterBuffer(copy);
}

TEST_F(ParameterCallback, MakeCurrentCompareAndReset) {
  ParameterSet other = FACTORY_PARAMETER_SET;
  other.quantity = 77;
  EXPECT_EQ(ParameterSetCallback(4, &other), 0);
  EXPECT_EQ(ParameterSetCallback(3, &other), 1);
  EXPECT_EQ(0, std::memcmp(&current_, &other, sizeof other));  // all 40 bytes, version included
  EXPECT_EQ(ParameterSetCallback(4, &other), 1);
  EXPECT_EQ(ParameterSetCallback(5, &other), 0) << "no older layout can be converted";
  EXPECT_EQ(ParameterSetCallback(6, nullptr), 1);
  EXPECT_EQ(0, std::memcmp(&current_, &FACTORY_PARAMETER_SET, sizeof current_));
  EXPECT_EQ(ParameterSetCallback(3, nullptr), 0);
  EXPECT_EQ(ParameterSetCallback(99, &other), 0);
}

}  // namespace
