// What the preview's quads carry: the brightness split into a texture level
// and a vertex colour, the rotated spike quad, and batches of at most 16383
// quads.
#include <gtest/gtest.h>

#include <cmath>

#include "effects/effect_tables.h"
#include "effects/preview_batches.h"

namespace {

TEST(PreviewStamps, LevelTimesVertexColourRestoresTheStampsBrightness) {
  struct Row {
    uint32_t colour[3];
    uint32_t weight;
    int32_t level;
  };
  // Levels worked out from e = max / 16777215 x weight / 2^32, halved until
  // it is at most 1 (level 8 at most).
  const Row rows[] = {
      {{0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu}, 0xFFFFFFFEu, 8},  // e = 256: level 8 is the highest
      {{0x60000000u, 0x30000000u, 0}, 0xFFFFFFFEu, 7},          // e = 96
      {{0x60000000u, 0, 0}, 0x40000000u, 5},                    // e = 24
      {{0x01000000u, 0, 0}, 0xFFFFFFFEu, 1},                    // just above 1/256 of full
      {{0x00FFFFFFu, 0x00800000u, 0}, 0xFFFFFFFEu, 0},          // 1/256 of full: level 0
      {{0, 0, 0}, 0xFFFFFFFEu, 0},
  };
  for (const Row& r : rows) {
    const PreviewStamp stamp = PreviewStampOf(r.colour, r.weight);
    EXPECT_EQ(stamp.level, r.level) << std::hex << r.colour[0];
    EXPECT_EQ(stamp.colour[3], 1.0f);
    for (int c = 0; c < 3; ++c) {
      // Drawn brightness: vertex colour x 2^(level - 8), in units of full.
      const double drawn = stamp.colour[c] * std::ldexp(1.0, stamp.level - 8);
      const double wanted = r.colour[c] / 4294967294.0 * (r.weight / 4294967296.0);
      EXPECT_NEAR(drawn, wanted, 1e-6 * (wanted + 1e-3)) << "channel " << c;
      EXPECT_LE(stamp.colour[c], 1.0f + 1e-6f);
    }
  }
}

TEST(PreviewStamps, SpikeQuadsRunFromTheLightAlongTheirAngle) {
  BuildEffectTables();
  const SpikeTextureLayout layout{100, 9, 128, 16};
  const float white[4] = {1, 1, 1, 1};
  PreviewVertex quad[4];
  // -900 tenths: the software spike of angle 0, pointing right.
  SpikeQuad(10.5, 20.5, -900, layout, white, quad);
  const float expected[4][4] = {{10.5f, 24.75f, 0.5f / 128, 8.75f / 16},
                                {110.0f, 24.75f, 100.0f / 128, 8.75f / 16},
                                {110.0f, 16.25f, 100.0f / 128, 0.25f / 16},
                                {10.5f, 16.25f, 0.5f / 128, 0.25f / 16}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_NEAR(quad[i].x, expected[i][0], 1e-4) << "corner " << i;
    EXPECT_NEAR(quad[i].y, expected[i][1], 1e-4) << "corner " << i;
    EXPECT_FLOAT_EQ(quad[i].s, expected[i][2]);
    EXPECT_FLOAT_EQ(quad[i].t, expected[i][3]);
    EXPECT_EQ(quad[i].red, 1.0f);
  }
  // 0 tenths: the texture's own direction, straight down.
  SpikeQuad(0, 0, 0, layout, white, quad);
  EXPECT_NEAR(quad[1].x, -4.25, 1e-4);
  EXPECT_NEAR(quad[1].y, 99.5, 1e-4);
}

TEST(PreviewBatches, AFullBatchStartsTheNextAndIsHandedOverFirst) {
  PreviewBatches batches{};
  PreviewVertex quad[4] = {};
  int handedOver = 0;
  auto full = [](PreviewBatch* batch, void* context) {
    EXPECT_EQ(batch->vertices.size(), static_cast<size_t>(PREVIEW_QUADS_PER_BATCH) * 4);
    ++*static_cast<int*>(context);
  };
  for (int32_t i = 0; i < PREVIEW_QUADS_PER_BATCH; ++i) ASSERT_TRUE(AppendPreviewQuad(&batches, 8, quad, full, &handedOver));
  EXPECT_EQ(batches.batchCount, 1);
  EXPECT_EQ(handedOver, 0);
  ASSERT_TRUE(AppendPreviewQuad(&batches, 1, quad, full, &handedOver));
  EXPECT_EQ(batches.batchCount, 2);
  EXPECT_EQ(handedOver, 1);
  EXPECT_EQ(batches.quadCount, PREVIEW_QUADS_PER_BATCH + 1);
  // Level 8 lives in slot 2, level 1 in slot 4; indices restart per batch.
  EXPECT_EQ(batches.batches[0].indices[2].size(), static_cast<size_t>(PREVIEW_QUADS_PER_BATCH) * 4);
  EXPECT_EQ(batches.batches[0].indices[2].back(), 65531);
  ASSERT_EQ(batches.batches[1].indices[4].size(), 4u);
  EXPECT_EQ(batches.batches[1].indices[4][0], 0);
  EXPECT_FALSE(AppendPreviewQuad(&batches, 9, quad));

  const size_t capacity = batches.batches[0].vertices.capacity();
  ResetPreviewBatches(&batches);
  EXPECT_EQ(batches.batchCount, 0);
  EXPECT_EQ(batches.quadCount, 0);
  EXPECT_EQ(batches.batches[0].vertices.capacity(), capacity) << "memory is kept for the next frame";
  ASSERT_TRUE(AppendPreviewQuad(&batches, 0, quad));
  EXPECT_EQ(batches.batches[0].indices[PreviewSlotOfLevel(0)].size(), 4u);
  EXPECT_EQ(batches.batches[0].indices[2].size(), 0u);
}

}  // namespace
