#pragma once
// Software drawing of the star shapes: stamping a shape into an Image, and
// rendering every light source's effects into one band of the final image.
//
// Band layers are sparse: a layer starts out unfilled and each row records
// the columns it has initialised to black, so that drawing, conversion and
// blending cost what the effects cover rather than what the image holds.
// Pixels outside a row's span are black by definition.
//
// Threads: several band threads draw with the same shapes at once. Lazy
// generation of a sub-shape is serialised per sub-shape; drawing reads the
// finished samples without a lock. Each thread draws into its own layer.
#include <atomic>
#include <cstdint>
#include <vector>

#include "analysis/light_source.h"
#include "analysis/sampling_shapes.h"
#include "color/blend.h"
#include "effects/star_shapes.h"
#include "image/image.h"

struct StampColour {
  uint32_t red;    // fractions
  uint32_t green;
  uint32_t blue;
  uint32_t alpha;  // the stamp's weight
};

// Stamps `shape` at `position` into `destination` within `clip`: every
// sample's colour is the stamp colour times its channel factors, its
// coverage the stamp alpha times its weight; samples too faint to show
// (below half the minimum visible value of the destination's depth) are
// skipped. False after a report (wrong shape type, no generator).
bool DrawShapeInto(SamplingShape* shape, Image* destination, const ImageRect& clip, const StampColour& colour,
                   const QuarterPoint& position, uint32_t blendMode, BlendPrecision precision);

// A band's effects layer.
struct BandLayer {
  Image image;                  // host mode, working profile, clamped, no mask
  bool sparse;                  // rows initialise on first touch
  std::vector<int32_t> spanLeft;   // per buffer row: initialised columns [left, right)
  std::vector<int32_t> spanRight;
  uint8_t black[16];            // one black, opaque pixel as the layer stores it
};

// Creates the layer over `band` (reported, status stored on failure). A
// dense layer is filled with black at once; a sparse one on first touch.
bool CreateBandLayer(const ImageRect& band, uint32_t mode, ColorProfileHandle profile, double gamma, bool sparse,
                     BandLayer* layer, int16_t* status);
void ReleaseBandLayer(BandLayer* layer);

// The shapes and settings of one rendering, shared by its bands.
struct EffectShapes {
  StarEffectSettings settings;
  SamplingShape spike;
  SamplingShape flare;
};

// Sets up both shapes for `settings` (copied in); Release frees them.
void SetUpEffectShapes(EffectShapes* shapes, const StarEffectSettings& settings);
void ReleaseEffectShapes(EffectShapes* shapes);

// Generates, on `threadCount` workers side by side, every spike sub-shape
// the taking-part light sources of `table` will need, so that the bands do
// not queue for them one by one. Whatever fails here is generated (and
// reported) again when a band asks for it.
void GenerateNeededSubShapes(EffectShapes* shapes, const LightSourceList& table, int threadCount);

// Called after each light source; false asks the band to stop.
using LightSourceDone = bool (*)(void* context);

// Draws every light source of `table` that takes part into the layer over
// its band: spikes first, then the soft flares, each in table order, with
// `done` after every light source of each pass. False when drawing stopped
// (a failed stamp, reported; or `done` said stop).
bool RenderEffectsIntoBandLayer(BandLayer* layer, EffectShapes* shapes, const LightSourceList& table,
                                BlendPrecision precision, LightSourceDone done, void* context);
