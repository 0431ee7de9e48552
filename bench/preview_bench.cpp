// The preview's frames on llvmpipe (EGL, no window): a 1000 x 700 view of a
// 24-megapixel photo at factory settings with 500 light sources spread over
// it, the whole photo fitted into the view (the first view a user gets) and
// at 100 %. The first frame builds the host image level and every texture;
// a settings change redraws only the stars; a scroll redraws the image and
// the stars.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "color/color_management.h"
#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/opengl_drawing.h"
#include "gl/texture_sets.h"
#include "params/parameter_set.h"
#include "preview/host_proxy_levels.h"
#include "preview/scaled_proxy_display.h"
#include "runtime/buffers.h"
#include "test_gl_context.h"

namespace {

constexpr int32_t PHOTO_W = 6000, PHOTO_H = 4000, VIEW_W = 1000, VIEW_H = 700;

struct PreviewFixture {
  TestGLContext context;
  Image photo{};
  HostProxyImage proxy{};
  LightSourceList table{};
  ScaledProxyLayer layer{};
  TextureSet output{};
  RenderingParameters parameters{};
  bool ready = false;

  explicit PreviewFixture(double zoom) {
    int16_t status = 0;
    if (!context.Create() || !InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status)) return;
    GlobalOpenGLSettings() = OpenGLSettings{"", OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_QUALITY, true};
    if (!InitializeOpenGLDrawingSettings(true, &status)) return;
    const ImageRect rect{0, 0, PHOTO_W, PHOTO_H};
    if (!CreateImage(rect, false, &photo, rect, IMAGE_MODE_RGB8, GetImageProfile(), 2.2, false, &status)) return;
    auto* p = static_cast<uint8_t*>(photo.pixels.buffer);
    for (size_t i = 0; i < photo.pixels.size; ++i) p[i] = static_cast<uint8_t>((i * 7) >> 10);
    std::mt19937 random(3);
    std::vector<LightSourceRecord> lights(500);
    for (LightSourceRecord& e : lights) {
      e = LightSourceRecord{};
      e.x = static_cast<int32_t>(random() % PHOTO_W);
      e.y = static_cast<int32_t>(random() % PHOTO_H);
      e.red = e.green = e.blue = e.brightness = 0x10000000u + static_cast<uint32_t>(random() % 0x30000000u);
      e.effectWeight = 0xFFFFFFFEu;
      e.state = 2;
    }
    table.count = 500;
    ReallocateBuffer(lights.size() * sizeof(LightSourceRecord), &table.records);
    std::memcpy(table.records.buffer, lights.data(), lights.size() * sizeof(LightSourceRecord));
    layer.proxy = &proxy;
    layer.hostImage = &photo;
    layer.table = &table;
    layer.screenDrawing = true;
    if (!InitializeScaledProxyLayer(&layer)) return;
    ConfigureTextureSet(&output, GL_NEAREST, GL_NEAREST, false, GL_STATIC_DRAW, false, GL_STATIC_DRAW, true);
    AttachFBOWithRenderBuffer(&output, VIEW_W, VIEW_H);
    layer.outputFramebuffer = output.framebuffer;
    ParameterSet set = FACTORY_PARAMETER_SET;
    InitializeFinalRenderingParameters(&parameters, &set);
    parameters.viewRect = RenderingRect{0, 0, VIEW_W, VIEW_H};
    parameters.effectsVisible = 1;
    // Fitted: the whole photo; at 100 %: the middle of it.
    parameters.zoomPercent = zoom;
    parameters.scrollX = zoom < 100 ? 0 : 2500;
    parameters.scrollY = zoom < 100 ? 0 : 1650;
    LayOutHostProxyLevels(&proxy, photo);
    ready = true;
  }
  ~PreviewFixture() {
    DetachFBO();
    if (layer.initialized) DestroyScaledProxyLayer(&layer);
    DestroyTextureSet(&output);
    ReleaseHostProxyImage(&proxy);
    DeallocateBuffer(&table.records);
    ReleaseImage(&photo);
    ReleaseColorManagement();
  }
  bool Frame() {
    UpdateProxyDisplayState(&layer, parameters);
    const bool ok = RenderScaledProxyDisplay(&layer, parameters);
    glFinish();
    return ok;
  }
};

constexpr double FIT = 100.0 * VIEW_W / PHOTO_W;

void BM_PreviewFirstFrame(benchmark::State& state) {
  PreviewFixture f(FIT);
  if (!f.ready) return state.SkipWithError("no OpenGL context");
  for (auto _ : state) {
    state.PauseTiming();
    LayOutHostProxyLevels(&f.proxy, f.photo);  // the levels are made again
    f.layer.hostTexturesStale = f.layer.effectsStale = true;
    f.layer.effects.spike.ready = f.layer.effects.flare.ready = false;
    state.ResumeTiming();
    if (!f.Frame()) return state.SkipWithError("the frame failed");
  }
}

void BM_PreviewSettingsChange(benchmark::State& state) {
  PreviewFixture f(static_cast<double>(state.range(0)) < 100 ? FIT : 100.0);
  if (!f.ready || !f.Frame()) return state.SkipWithError("no first frame");
  for (auto _ : state) {
    f.parameters.angle = static_cast<int16_t>(f.parameters.angle == 15 ? 16 : 15);
    if (!f.Frame()) return state.SkipWithError("the frame failed");
  }
}

// Length changes both star textures as well.
void BM_PreviewLengthChange(benchmark::State& state) {
  PreviewFixture f(FIT);
  if (!f.ready || !f.Frame()) return state.SkipWithError("no first frame");
  for (auto _ : state) {
    f.parameters.length = static_cast<int16_t>(f.parameters.length == 50 ? 51 : 50);
    if (!f.Frame()) return state.SkipWithError("the frame failed");
  }
}

void BM_PreviewScroll(benchmark::State& state) {
  PreviewFixture f(static_cast<double>(state.range(0)) < 100 ? FIT : 100.0);
  if (!f.ready || !f.Frame()) return state.SkipWithError("no first frame");
  bool right = true;
  for (auto _ : state) {
    f.parameters.scrollX += right ? 40 : -40;
    right = !right;
    if (!f.Frame()) return state.SkipWithError("the frame failed");
  }
}

// One step of the start-up: the splash drawn into the view and read back
// for the window's painting.
void BM_SplashStep(benchmark::State& state) {
  PreviewFixture f(FIT);
  if (!f.ready) return state.SkipWithError("no OpenGL context");
  std::vector<uint8_t> frame(static_cast<size_t>(VIEW_W) * VIEW_H * 4);
  for (auto _ : state) {
    if (!DrawSplashScreen(&f.layer, ImageRect{0, 0, VIEW_W, VIEW_H})) return state.SkipWithError("no splash");
    glReadPixels(0, 0, VIEW_W, VIEW_H, GL_BGRA, GL_UNSIGNED_BYTE, frame.data());
  }
}

BENCHMARK(BM_SplashStep)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewFirstFrame)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PreviewLengthChange)->Unit(benchmark::kMillisecond);
// Argument: 17 for the fitted view, 100 for 100 %.
BENCHMARK(BM_PreviewSettingsChange)->Arg(17)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PreviewScroll)->Arg(17)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
