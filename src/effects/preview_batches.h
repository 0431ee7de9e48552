#pragma once
// What the preview draws per frame: one textured quad per light source (per
// point for spikes), collected into batches of vertices and, per texture
// slot, 16-bit quad indices. No OpenGL here: the drawing side uploads and
// draws what this builds.
//
// One texture per brightness level serves every light source. A stamp's
// brightness is split into a level (the texture drawn at 2^(level - 8) of
// full) and a vertex colour within 0..1, so that the product restores the
// stamp's absolute brightness.
#include <cstddef>
#include <cstdint>
#include <vector>

// Interleaved as OpenGL reads it: colour (4 floats), texture coordinate
// (2 floats), position in host image pixels (2 floats).
struct PreviewVertex {
  float red, green, blue, alpha;
  float s, t;
  float x, y;
};
static_assert(sizeof(PreviewVertex) == 32, "a preview vertex is 32 bytes");

constexpr int32_t PREVIEW_LEVELS = 9;
constexpr int32_t PREVIEW_SLOTS = 16;
// 16-bit indices, four per quad: 65532 vertices at most per batch.
constexpr int32_t PREVIEW_QUADS_PER_BATCH = 16383;

// The texture slot of brightness level 0..8.
inline int32_t PreviewSlotOfLevel(int32_t level) { return (level & 3) * 4 + (level >> 2); }

struct PreviewStamp {
  int32_t level;
  float colour[4];
};
// colour: the stamp's red, green, blue as fractions (0xFFFFFFFE full, more
// allowed); weight: its fraction.
PreviewStamp PreviewStampOf(const uint32_t colour[3], uint32_t weight);

// The spike texture as the quads read it: the spike runs along +x from the
// light source over spikeWidth pixels, centred across spikeHeight pixels, in
// storage of textureWidth x textureHeight.
struct SpikeTextureLayout {
  int32_t spikeWidth;
  int32_t spikeHeight;
  int32_t textureWidth;
  int32_t textureHeight;
};
// (After BuildEffectTables: the rotation reads the cosine table.)
// The quad of one point rotated about (px, py): `angleTenths` is the
// point's angle (0 points right, growing clockwise with y downwards) less
// 900, so that -900 runs the texture's +x to the right.
void SpikeQuad(double px, double py, int32_t angleTenths, const SpikeTextureLayout& layout, const float colour[4],
               PreviewVertex quad[4]);

struct PreviewBatch {
  std::vector<PreviewVertex> vertices;
  std::vector<uint16_t> indices[PREVIEW_SLOTS];
};

struct PreviewBatches {
  std::vector<PreviewBatch> batches;
  int32_t batchCount;  // in use this frame (the vector keeps spares)
  int32_t quadCount;
};

// Empties the batches for a new frame, keeping their memory.
void ResetPreviewBatches(PreviewBatches* batches);
// Appends a quad to the level's slot; a full batch starts the next one, and
// `batchFull` (may be null) sees the full one first, so that the drawing
// side can copy it to its buffer objects. False when memory ran out: the
// frame then draws what was built.
using PreviewBatchFull = void (*)(PreviewBatch* batch, void* context);
bool AppendPreviewQuad(PreviewBatches* batches, int32_t level, const PreviewVertex quad[4],
                       PreviewBatchFull batchFull = nullptr, void* context = nullptr);
