// OpenGL on llvmpipe through the EGL test context: what the preview's
// uploads cost. Steady state re-uses the tiles' storage; the first upload
// also defines it.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <random>
#include <vector>

#include "color/color_management.h"
#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/preview_effects.h"
#include "params/parameter_set.h"
#include "runtime/buffers.h"
#include "gl/texture_sets.h"
#include "test_gl_context.h"

namespace {

struct GLFixture {
  TestGLContext context;
  Image image{};
  bool ready = false;

  explicit GLFixture(int32_t mode) {
    if (!context.Create()) return;
    GlobalOpenGLSettings() = OpenGLSettings{"", mode, mode, true};
    int16_t resultCode = 0;
    if (!InitializeOpenGLDrawingSettings(true, &resultCode)) return;
    const ImageRect rect{0, 0, 4000, 3000};
    if (!CreateImage(rect, false, &image, rect, IMAGE_MODE_RGB8, nullptr, 2.2, false, nullptr)) return;
    auto* p = static_cast<uint8_t*>(image.pixels.buffer);
    for (size_t i = 0; i < image.pixels.size; ++i) p[i] = static_cast<uint8_t>(i * 31);
    ready = true;
  }
  ~GLFixture() { ReleaseImage(&image); }
};

// A 1000 x 700 view of a 4000 x 3000 host image at zoom 1, scrolled so that
// the excerpt lies inside.
void UploadHostExcerpt(benchmark::State& state, int32_t mode, bool buffers, bool steady) {
  GLFixture gl(mode);
  if (!gl.ready) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  const ImageRect view{0, 0, 1000, 700};
  TextureSet set{};
  ConfigureTextureSet(&set, GL_NEAREST, GL_LINEAR, buffers && UseVertexBufferObjects(), GL_STATIC_DRAW,
                      buffers && UsePixelBufferObjects(), GL_STATIC_DRAW, false);
  if (steady) CreateTextureSetFromImage(&set, gl.image, 1, 1, 1200, 900, 1.0, view);
  for (auto _ : state) {
    if (!steady) {
      state.PauseTiming();
      DestroyTextureSet(&set);
      ConfigureTextureSet(&set, GL_NEAREST, GL_LINEAR, buffers && UseVertexBufferObjects(), GL_STATIC_DRAW,
                          buffers && UsePixelBufferObjects(), GL_STATIC_DRAW, false);
      state.ResumeTiming();
    }
    if (!CreateTextureSetFromImage(&set, gl.image, 1, 1, 1200, 900, 1.0, view)) {
      state.SkipWithError("the upload failed");
      break;
    }
    glFinish();
  }
  DestroyTextureSet(&set);
}

void BM_HostExcerptUpload_PixelBuffer(benchmark::State& s) { UploadHostExcerpt(s, OPTIMIZE_FOR_QUALITY, true, true); }
void BM_HostExcerptUpload_Direct(benchmark::State& s) { UploadHostExcerpt(s, OPTIMIZE_FOR_QUALITY, false, true); }
void BM_HostExcerptUpload_PowerOfTwo(benchmark::State& s) {
  UploadHostExcerpt(s, OPTIMIZE_FOR_COMPATIBILITY, false, true);
}
void BM_HostExcerptUpload_FirstTime(benchmark::State& s) { UploadHostExcerpt(s, OPTIMIZE_FOR_QUALITY, true, false); }
BENCHMARK(BM_HostExcerptUpload_PixelBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostExcerptUpload_Direct)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostExcerptUpload_PowerOfTwo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HostExcerptUpload_FirstTime)->Unit(benchmark::kMillisecond);

// The preview's stars: both shapes built, one frame of 500 light sources
// screened into a 1000 x 700 frame buffer per iteration.
struct EffectsFixture : GLFixture {
  PreviewEffects effects{};
  LightSourceList table{};
  RenderingParameters parameters{};
  TextureSet target{};

  explicit EffectsFixture(int32_t mode) : GLFixture(mode) {
    int16_t status = 0;
    if (!ready || !InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status) ||
        !SetUpPreviewEffectShapes(&effects)) {
      ready = false;
      return;
    }
    ParameterSet set = FACTORY_PARAMETER_SET;
    InitializeFinalRenderingParameters(&parameters, &set);
    ConfigureTextureSet(&target, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
  }
  ~EffectsFixture() {
    DestroyFilterEffects_OpenGL(&effects);
    DestroyTextureSet(&target);
    DeallocateBuffer(&table.records);
    ReleaseColorManagement();
  }
  void ScatterLights(int32_t count, int32_t width, int32_t height) {
    std::mt19937 random(7);
    std::vector<LightSourceRecord> lights(static_cast<size_t>(count));
    for (LightSourceRecord& e : lights) {
      e = LightSourceRecord{};
      e.x = static_cast<int32_t>(random() % static_cast<uint32_t>(width));
      e.y = static_cast<int32_t>(random() % static_cast<uint32_t>(height));
      e.xQuarter = static_cast<int32_t>(random() % 4);
      e.yQuarter = static_cast<int32_t>(random() % 4);
      e.red = e.green = e.blue = e.brightness = 0x20000000u + static_cast<uint32_t>(random() % 0x40000000u);
      e.effectWeight = 0xFFFFFFFEu;
      e.state = 2;
    }
    table.count = static_cast<uint32_t>(count);
    ReallocateBuffer(lights.size() * sizeof(LightSourceRecord), &table.records);
    std::memcpy(table.records.buffer, lights.data(), lights.size() * sizeof(LightSourceRecord));
  }
};

void EffectsPass(benchmark::State& state, int32_t mode) {
  EffectsFixture gl(mode);
  if (!gl.ready) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  constexpr int32_t W = 1000, H = 700;
  gl.ScatterLights(500, W, H);
  const PreviewFrame frame{&gl.parameters, &gl.table, 1221, 1, false, nullptr, nullptr};
  AttachFBOWithRenderBuffer(&gl.target, W, H);
  SetGLSize(GLRect{0, 0, W, H});
  DrawPreviewEffectsPass(&gl.effects, frame, 0, 0, 1.0);  // builds the textures
  glFinish();
  for (auto _ : state) {
    if (!DrawPreviewEffectsPass(&gl.effects, frame, 0, 0, 1.0)) {
      state.SkipWithError("the effects pass failed");
      break;
    }
    glFinish();
  }
  DetachFBO();
}
void BM_EffectsPass500Lights_Quality(benchmark::State& s) { EffectsPass(s, OPTIMIZE_FOR_QUALITY); }
void BM_EffectsPass500Lights_Compatibility(benchmark::State& s) { EffectsPass(s, OPTIMIZE_FOR_COMPATIBILITY); }
BENCHMARK(BM_EffectsPass500Lights_Quality)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EffectsPass500Lights_Compatibility)->Unit(benchmark::kMillisecond);

// The spike's nine levels built again at Length 100 on a 24-megapixel photo
// (6000 x 4000): the cost of moving the Length slider once.
void SpikeRebuild(benchmark::State& state, int32_t mode) {
  EffectsFixture gl(mode);
  if (!gl.ready) {
    state.SkipWithError("no OpenGL context");
    return;
  }
  gl.parameters.length = 100;
  PreviewFrame frame{&gl.parameters, &gl.table, 7212, 1, false, nullptr, nullptr};
  UpdatePreviewSpikeTextures(&gl.effects, frame);
  for (auto _ : state) {
    gl.parameters.intensity = static_cast<int16_t>(gl.parameters.intensity == 50 ? 51 : 50);
    if (!UpdatePreviewSpikeTextures(&gl.effects, frame)) {
      state.SkipWithError("the rebuild failed");
      break;
    }
    glFinish();
  }
  state.counters["spike_texels"] = gl.effects.spike.usedWidth * gl.effects.spike.usedHeight;
}
void BM_SpikeTextureRebuild24MP_Quality(benchmark::State& s) { SpikeRebuild(s, OPTIMIZE_FOR_QUALITY); }
void BM_SpikeTextureRebuild24MP_Compatibility(benchmark::State& s) { SpikeRebuild(s, OPTIMIZE_FOR_COMPATIBILITY); }
BENCHMARK(BM_SpikeTextureRebuild24MP_Quality)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpikeTextureRebuild24MP_Compatibility)->Unit(benchmark::kMillisecond);

}  // namespace
