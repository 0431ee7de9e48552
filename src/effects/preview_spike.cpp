#include "effects/preview_spike.h"

int32_t PreviewSpikeSharpness(int32_t sharpness) {
  return sharpness > 50 ? (105 * sharpness - 210) / 100 : sharpness;
}

void PreparePreviewSpikeSettings(const RenderingParameters& parameters, int32_t diagonal, int32_t bytesPerChannel,
                                 bool gray, StarEffectSettings* settings) {
  PrepareStarEffectSettings(parameters, diagonal, bytesPerChannel, gray, settings);
  // After the render limits: the adjustment may go past 100 on purpose.
  settings->sharpness = PreviewSpikeSharpness(settings->sharpness);
  settings->spikeWidth = SpikeWidth(settings->sharpness, settings->diagonal);
}

bool GeneratePreviewSpike(SubShape* subShape, const StarEffectSettings& settings) {
  if (settings.length < 1) return true;
  return RasterizeSpike(900, subShape, 0, 0, settings, 0xFFFFFFFEu, settings.spikeWidth);
}

bool PreviewSpikeNeedsRebuild(const RenderingParameters& previous, const RenderingParameters& current) {
  return previous.length != current.length || previous.intensity != current.intensity ||
         previous.spikeSharpness != current.spikeSharpness || previous.colorSaturation != current.colorSaturation ||
         previous.rainbowFrequency != current.rainbowFrequency;
}

bool PreviewFlareNeedsRebuild(const RenderingParameters& previous, const RenderingParameters& current) {
  return previous.length != current.length;
}
