#include <gtest/gtest.h>

#include "host/plugin_globals.h"

namespace {

TEST(PrepareSpace, BufferSpaceFollowsBytesPerSample) {
  // 16 × (B × W × H + 1250000), worked by hand.
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGBColor, 100, 100), 20160000);
  EXPECT_EQ(ComputeBufferSpace(plugInModeGrayScale, 1, 1), 20000016);
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGB48, 6000, 4000), 788000000);
  EXPECT_EQ(ComputeBufferSpace(plugInModeGray16, 1000, 1000), 52000000);
}

TEST(PrepareSpace, BufferSpaceSaturatesInsteadOfWrapping) {
  // 32-bit float 6000 × 4000 needs 1.556e9: capped.
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGB96, 6000, 4000), 1000000000);
  // 32767² at one byte is 17198820624, which wraps in 32 bits to the small
  // positive 18951440: it must saturate, not wrap.
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGBColor, 32767, 32767), 1000000000);
  // Big-document sizes far beyond 32 bits.
  EXPECT_EQ(ComputeBufferSpace(plugInModeGray32, 2000000000, 2000000000), 1000000000);
  // Right at the edge: 16 × (W×H + 1250000) == 1e9 exactly.
  EXPECT_EQ(ComputeBufferSpace(plugInModeGrayScale, 61250000, 1), 1000000000);
  EXPECT_EQ(ComputeBufferSpace(plugInModeGrayScale, 61249999, 1), 999999984);
}

TEST(PrepareSpace, UnknownModeCountsOneByteAndEmptyRectanglesNeedOnlyTheReserve) {
  EXPECT_EQ(ComputeBufferSpace(99, 100, 100), 20160000);
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGBColor, 0, 500), 20000000);
  EXPECT_EQ(ComputeBufferSpace(plugInModeRGBColor, -5, 500), 20000000);
}

TEST(PrepareSpace, MaxSpaceCountsTilesOfAtMost1024AndTheMaskPlane) {
  EXPECT_EQ(ComputeMaxSpace(100, 50, 3, false), 2 * 100 * 50 * 3);
  EXPECT_EQ(ComputeMaxSpace(100, 50, 3, true), 2 * 100 * 50 * 4);
  EXPECT_EQ(ComputeMaxSpace(5000, 3000, 4, false), int64_t{2} * 1024 * 1024 * 4);
  EXPECT_EQ(ComputeMaxSpace(0, 3000, 4, true), 0);
  // Many planes must not overflow.
  EXPECT_EQ(ComputeMaxSpace(4096, 4096, 32767, true), int64_t{2} * 1024 * 1024 * 32768);
}

}  // namespace
