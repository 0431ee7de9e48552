// OpenGL on llvmpipe through the EGL test context: what the preview's
// uploads cost. Steady state re-uses the tiles' storage; the first upload
// also defines it.
#include <benchmark/benchmark.h>

#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/opengl_drawing.h"
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

}  // namespace
