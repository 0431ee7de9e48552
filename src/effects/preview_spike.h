#pragma once
// The preview's spike: one spike (angle 900, pointing down, full peak) that
// the preview rotates per point and scales per light source, built again
// only when a setting it depends on changes. The preview draws it a little
// sharper than the final render above the middle of the range.
#include <cstdint>

#include "analysis/sampling_shapes.h"
#include "effects/star_shapes.h"
#include "params/rendering_parameters.h"

// Above 50: trunc(1.05 x S - 2.1), in integers.
int32_t PreviewSpikeSharpness(int32_t sharpness);
// The frame's settings with the preview's sharpness.
void PreparePreviewSpikeSettings(const RenderingParameters& parameters, int32_t diagonal, int32_t bytesPerChannel,
                                 bool gray, StarEffectSettings* settings);
// Appends the single spike's samples to an empty sub-shape (quarter 0, 0).
bool GeneratePreviewSpike(SubShape* subShape, const StarEffectSettings& settings);
// The spike depends on Length, Intensity, Spike Sharpness, Color Saturation
// and the Rainbow Frequency that sets its tint; the flare on Length only.
bool PreviewSpikeNeedsRebuild(const RenderingParameters& previous, const RenderingParameters& current);
bool PreviewFlareNeedsRebuild(const RenderingParameters& previous, const RenderingParameters& current);
