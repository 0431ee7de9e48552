#include "effects/preview_batches.h"

#include <cstddef>
#include <new>

#include "effects/effect_tables.h"

PreviewStamp PreviewStampOf(const uint32_t colour[3], uint32_t weight) {
  constexpr double FULL_24 = 16777215.0;
  double d = weight / 4294967296.0;
  uint32_t brightest = colour[0];
  if (colour[1] > brightest) brightest = colour[1];
  if (colour[2] > brightest) brightest = colour[2];
  int32_t level = 0;
  if (brightest > 0xFFFFFF) {
    double e = brightest / FULL_24 * d;
    while (e > 1.0 && level < PREVIEW_LEVELS - 1) {
      ++level;
      e /= 2;
      d /= 2;
    }
  }
  PreviewStamp stamp{};
  stamp.level = level;
  stamp.colour[0] = static_cast<float>(colour[0] / FULL_24 * d);
  stamp.colour[1] = static_cast<float>(colour[1] / FULL_24 * d);
  stamp.colour[2] = static_cast<float>(colour[2] / FULL_24 * d);
  stamp.colour[3] = 1.0f;
  return stamp;
}

void SpikeQuad(double px, double py, int32_t angleTenths, const SpikeTextureLayout& layout, const float colour[4],
               PreviewVertex quad[4]) {
  // The texture runs from 0.5 to its width along the spike and from 0.25 to
  // height - 0.25 across it.
  const double length = layout.spikeWidth - 0.5;
  const double half = (layout.spikeHeight - 0.5) / 2;
  const double u = CosineOf(static_cast<int64_t>(angleTenths) + 900);
  const double v = CosineOf(angleTenths);
  const double s0 = 0.5 / layout.textureWidth, s1 = static_cast<double>(layout.spikeWidth) / layout.textureWidth;
  const double t0 = 0.25 / layout.textureHeight, t1 = (layout.spikeHeight - 0.25) / layout.textureHeight;
  const double corners[4][4] = {
      {px - v * half, py + u * half, s0, t1},
      {px + u * length - v * half, py + v * length + u * half, s1, t1},
      {px + u * length + v * half, py + v * length - u * half, s1, t0},
      {px + v * half, py - u * half, s0, t0},
  };
  for (int i = 0; i < 4; ++i) {
    quad[i] = PreviewVertex{colour[0],
                            colour[1],
                            colour[2],
                            colour[3],
                            static_cast<float>(corners[i][2]),
                            static_cast<float>(corners[i][3]),
                            static_cast<float>(corners[i][0]),
                            static_cast<float>(corners[i][1])};
  }
}

void ResetPreviewBatches(PreviewBatches* batches) {
  for (int32_t b = 0; b < batches->batchCount && b < static_cast<int32_t>(batches->batches.size()); ++b) {
    PreviewBatch& batch = batches->batches[static_cast<size_t>(b)];
    batch.vertices.clear();
    for (std::vector<uint16_t>& list : batch.indices) list.clear();
  }
  batches->batchCount = 0;
  batches->quadCount = 0;
}

bool AppendPreviewQuad(PreviewBatches* batches, int32_t level, const PreviewVertex quad[4], PreviewBatchFull batchFull,
                       void* context) {
  if (level < 0 || level >= PREVIEW_LEVELS) return false;
  try {
    PreviewBatch* batch = batches->batchCount > 0 ? &batches->batches[static_cast<size_t>(batches->batchCount - 1)]
                                                  : nullptr;
    if (batch == nullptr || batch->vertices.size() >= static_cast<size_t>(PREVIEW_QUADS_PER_BATCH) * 4) {
      if (batch != nullptr && batchFull != nullptr) batchFull(batch, context);
      if (static_cast<size_t>(batches->batchCount) == batches->batches.size()) batches->batches.emplace_back();
      batch = &batches->batches[static_cast<size_t>(batches->batchCount)];
      ++batches->batchCount;
      batch->vertices.clear();
      for (std::vector<uint16_t>& list : batch->indices) list.clear();
    }
    // Room for a whole batch at once: the arrays grow in batch-sized steps.
    if (batch->vertices.capacity() == 0) batch->vertices.reserve(static_cast<size_t>(PREVIEW_QUADS_PER_BATCH) * 4);
    std::vector<uint16_t>& indices = batch->indices[PreviewSlotOfLevel(level)];
    const uint16_t first = static_cast<uint16_t>(batch->vertices.size());
    batch->vertices.insert(batch->vertices.end(), quad, quad + 4);
    for (uint16_t i = 0; i < 4; ++i) indices.push_back(static_cast<uint16_t>(first + i));
  } catch (const std::bad_alloc&) {
    return false;
  }
  ++batches->quadCount;
  return true;
}
