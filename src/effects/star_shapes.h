#pragma once
// The two shapes of a star effect and what each light source contributes.
//
// A star is drawn from two shapes shared by every light source: the spike
// shape (all points of one star) and the soft flare. Both depend only on the
// effect settings and the image's size; every light source stamps them at
// its own position, tinted with its own colour and scaled by its weight.
// Shapes are sample lists (analysis/sampling_shapes.h) with coordinates in
// quarter pixels relative to the light source's integer pixel; one sub-shape
// per quarter position, generated on first use.
//
// Sizes are relative to the image diagonal D (pixels). Weights and channel
// factors are fractions (0xFFFFFFFE = 1); samples lighter than the minimum
// visible value of the image's depth are not stored.
//
// Threads: StarEffectSettings are built once per rendering and read-only
// afterwards. The generators write only the sub-shape they are asked for;
// callers serialise generation of the same sub-shape.
#include <cstdint>
#include <vector>

#include "analysis/light_source.h"
#include "analysis/sampling_shapes.h"
#include "params/rendering_parameters.h"

struct StarEffectSettings {
  // The effect fields, limited to what can be drawn (scripts may store any
  // 16-bit value) by the render limits of params/parameter_table.h.
  int32_t quantity;
  int32_t intensity;
  int32_t length;
  int32_t angle;  // degrees, any value
  int32_t points;
  int32_t sharpness;
  int32_t saturation;
  int32_t rainbowFrequency;
  int32_t secondarySpikes;
  int32_t softFlare;

  int32_t diagonal;         // D, at least 1
  uint32_t minimumVisible;  // m of the image's depth
  bool gray;                // no rainbow and no saturation for gray images

  uint32_t spikePeak;       // trunc((I / 100)^2.8 x full)
  double spikeWidth;        // cross-section steepness, relative to D
  double spikeFalloff;      // exponent of the intensity along a spike
  // Intensity along a spike by distance (tenths of a quarter pixel / 4;
  // beyond the table computed on the spot with the same formula), and the
  // flare's weight by distance (tenths / 2), as far as it can be seen.
  std::vector<uint32_t> spikeProfile;
  std::vector<uint32_t> flareProfile;
  // flareBounds[k]: the smallest squared distance in quarter pixels whose
  // flare index (tenths / 2) is k or more; one entry beyond the profile.
  std::vector<int64_t> flareBounds;
};

// The two passes of a final rendering: spikes (primary or secondary
// intensity above 0) and the soft flare.
inline bool DrawsSpikes(const StarEffectSettings& s) { return s.intensity >= 1 || s.secondarySpikes >= 1; }
inline bool DrawsFlare(const StarEffectSettings& s) { return s.softFlare >= 1; }

// Fills `settings` for a rendering of `parameters` on an image of the given
// diagonal, bytes per channel and colour family.
void PrepareStarEffectSettings(const RenderingParameters& parameters, int32_t diagonal, int32_t bytesPerChannel,
                               bool gray, StarEffectSettings* settings);

// The cross-section steepness of a spike of this sharpness (0..100, or a
// little more in the preview) on an image of diagonal D.
double SpikeWidth(int32_t sharpness, int32_t diagonal);

// Zeroes both shapes and binds them to their generators and to `settings`,
// which must outlive them; builds the trigonometric tables.
void SetUpStarEffectShapes(SamplingShape* spikeShape, SamplingShape* flareShape, const StarEffectSettings* settings);

// Generators (ShapeGenerator): fill one sub-shape and mark it generated.
// Running out of memory ends the shape after the user was warned; what was
// generated stays and the generator still succeeds.
bool GenerateSpikeSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter);
bool GenerateFlareSubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter);

// The flare's weight at a distance in tenths of a quarter pixel (0 where it
// is too faint to keep), and how far from its light, in whole pixels along
// either axis, a flare pixel can lie.
uint32_t FlareWeight(uint32_t tenths, const StarEffectSettings& settings);
int32_t FlareReach(const StarEffectSettings& settings);

// Appends the samples of one spike at `angleTenths` (0 points right, larger
// angles turn clockwise as y grows downwards) for a light source at quarters
// (xQuarter, yQuarter) of its pixel. False when an append failed.
bool RasterizeSpike(int32_t angleTenths, SubShape* subShape, int32_t xQuarter, int32_t yQuarter,
                    const StarEffectSettings& settings, uint32_t peak, double width);

// What one light source stamps.
struct StarStamp {
  bool spikes;           // draw the spike shape
  bool flare;            // draw the soft flare
  uint32_t red;          // colour after the saturation step (fractions)
  uint32_t green;
  uint32_t blue;
  uint32_t spikeAlpha;   // the light source's effect weight
  uint32_t flareAlpha;   // effect weight x (soft flare / 100)^2
};

// Brightness threshold of a Quantity setting (0..100), and whether an entry
// takes part in rendering at that threshold.
uint32_t QuantityThreshold(int32_t quantity);
bool LightSourceTakesPart(const LightSourceRecord& entry, uint32_t threshold);

// Whether the entry takes part at `threshold` (QuantityThreshold) and, if so,
// its stamp. False when it draws nothing at all.
bool SelectLightSource(const LightSourceRecord& entry, uint32_t threshold, const StarEffectSettings& settings,
                       StarStamp* stamp);

// Pushes each channel away from the mean of the other two by the colour
// saturation (stronger for positive values); gray images keep their colour.
void SaturateColour(uint32_t colour[3], int32_t saturation, bool gray);
