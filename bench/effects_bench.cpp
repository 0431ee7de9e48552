// The star effects of a 24-megapixel (6000 x 4000) image: generating the
// spike and flare shapes for all sixteen quarter positions, and stamping
// light sources of falling brightness into one sparse band layer as the
// final rendering does, with factory settings and with everything at full.
//
//   cmake --build build/linux --target benchmarks && build/linux/bench/benchmarks --benchmark_filter=Effects
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "analysis/light_source_table.h"
#include "color/blend.h"
#include "effects/effect_drawing.h"
#include "image/pixel_access.h"
#include "params/parameter_set.h"
#include "runtime/buffers.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
const int32_t kDiagonal = ImageDiagonal(kWidth, kHeight);

StarEffectSettings Settings(bool full) {
  ParameterSet set = FACTORY_PARAMETER_SET;
  if (full) {
    set.intensity = 100;
    set.length = 100;
    set.softFlareIntensity = 100;
  }
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  StarEffectSettings s;
  PrepareStarEffectSettings(p, kDiagonal, 1, false, &s);
  return s;
}

void EffectsShapeGeneration(benchmark::State& state) {
  const StarEffectSettings settings = Settings(state.range(0) != 0);
  int64_t samples = 0;
  for (auto _ : state) {
    SamplingShape spike{}, flare{};
    SetUpStarEffectShapes(&spike, &flare, &settings);
    samples = 0;
    for (int32_t q = 0; q < 16; ++q) {
      GenerateSpikeSubShape(&spike, q / 4, q % 4);
      GenerateFlareSubShape(&flare, q / 4, q % 4);
      samples += spike.subShapes[q].sampleCount + flare.subShapes[q].sampleCount;
    }
    FreeSamplingShape(&spike);
    FreeSamplingShape(&flare);
  }
  state.counters["samples"] = static_cast<double>(samples);
}
BENCHMARK(EffectsShapeGeneration)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// `count` lights spread over the image, brightness falling like a ranked
// table's: a few bright ones, many faint ones.
LightSourceList Lights(int count) {
  LightSourceList list{};
  list.count = static_cast<uint32_t>(count);
  ReallocateBuffer(static_cast<size_t>(count) * sizeof(LightSourceRecord), &list.records);
  auto* records = static_cast<LightSourceRecord*>(list.records.buffer);
  for (int i = 0; i < count; ++i) {
    LightSourceRecord& e = records[i];
    std::memset(&e, 0, sizeof e);
    e.x = (i * 7919) % kWidth;
    e.y = (i * 104729) % kHeight;
    e.xQuarter = i % 4;
    e.yQuarter = (i / 4) % 4;
    const uint32_t level = static_cast<uint32_t>(0xFFFFFFFEu / (1.0 + i * 0.05));
    e.red = level;
    e.green = level / 4 * 3;
    e.blue = level / 2;
    e.brightness = level;
    e.effectWeight = 0xFFFFFFFE;
    e.state = LIGHT_SOURCE_SHOWN;
  }
  return list;
}

// One band of half the image, as one of two workers draws it; shapes are
// made once (their generation is measured above).
void EffectsStampIntoBand(benchmark::State& state) {
  BuildPixelValueTables();
  EffectShapes shapes;
  SetUpEffectShapes(&shapes, Settings(state.range(1) != 0));
  shapes.settings.quantity = 100;
  LightSourceList lights = Lights(static_cast<int>(state.range(0)));
  const ImageRect band{0, 0, kWidth, kHeight / 2};
  BandLayer layer{};
  int16_t status = 0;
  for (auto _ : state) {
    CreateBandLayer(band, 3, nullptr, 2.2, true, &layer, &status);
    RenderEffectsIntoBandLayer(&layer, &shapes, lights, BLEND_PRECISE, nullptr, nullptr);
    benchmark::DoNotOptimize(layer.image.pixels.buffer);
  }
  ReleaseBandLayer(&layer);
  ReleaseEffectShapes(&shapes);
  DeallocateBuffer(&lights.records);
}
BENCHMARK(EffectsStampIntoBand)->Args({50, 0})->Args({500, 0})->Args({50, 1})->Unit(benchmark::kMillisecond);

}  // namespace
