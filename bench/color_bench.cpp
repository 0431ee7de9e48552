// ConvertColorOf on a 6000 x 4000 image in 8-bit, 16-bit and float, on one
// thread and on all workers.
//
//   FirstRun/...   one conversion right after colour management is set up:
//                  it includes making the transform (not yet cached);
//   Steady/...     repeated conversions with the transform cached, timed in
//                  one direction between sRGB and linear light.
// Arguments: image mode (3, 11, 16), thread count (0 = all workers), and for
// Steady the direction (0 to linear, 1 from linear).
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "color/color_management.h"
#include "color/color_transforms.h"
#include "image/image.h"
#include "runtime/threads.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;

// A smooth colour field with a different value in every pixel.
void Fill(Image* image) {
  const size_t count = static_cast<size_t>(kWidth) * kHeight;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t x = static_cast<uint32_t>(i % kWidth);
    const uint32_t y = static_cast<uint32_t>(i / kWidth);
    const double r = x / double(kWidth), g = y / double(kHeight), b = ((x + y) % 997) / 997.0;
    switch (image->bytesPerChannel) {
      case 1: {
        uint8_t* p = static_cast<uint8_t*>(image->pixels.buffer) + i * 4;
        p[0] = static_cast<uint8_t>(b * 255), p[1] = static_cast<uint8_t>(g * 255), p[2] = static_cast<uint8_t>(r * 255), p[3] = 255;
        break;
      }
      case 2: {
        uint16_t* p = static_cast<uint16_t*>(image->pixels.buffer) + i * 4;
        p[0] = static_cast<uint16_t>(r * 65535), p[1] = static_cast<uint16_t>(g * 65535), p[2] = static_cast<uint16_t>(b * 65535), p[3] = 65535;
        break;
      }
      default: {
        float* p = static_cast<float*>(image->pixels.buffer) + i * 4;
        p[0] = static_cast<float>(r), p[1] = static_cast<float>(g), p[2] = static_cast<float>(b), p[3] = 1.0f;
        break;
      }
    }
  }
}

struct BenchImage {
  Image image{};
  explicit BenchImage(uint32_t mode) {
    const ImageRect rect{0, 0, kWidth, kHeight};
    if (CreateImage(rect, false, &image, rect, mode, GetStandardProfile(), GetProfileGamma(GetStandardProfile()), false,
                    nullptr)) {
      Fill(&image);
    }
  }
  ~BenchImage() { ReleaseImage(&image); }
};

int Threads(const benchmark::State& state) {
  return state.range(1) == 0 ? GetWorkerThreadCount() : static_cast<int>(state.range(1));
}

void Label(benchmark::State& state, const char* suffix = "") {
  static const char* const names[] = {"8-bit", "16-bit", "float"};
  const int which = state.range(0) == 3 ? 0 : state.range(0) == 11 ? 1 : 2;
  state.SetLabel(std::string(names[which]) + ", " + std::to_string(Threads(state)) + " thread(s)" + suffix);
  state.SetItemsProcessed(state.iterations() * int64_t{kWidth} * kHeight);
}

void FirstRun(benchmark::State& state) {
  std::unique_ptr<BenchImage> image;
  for (auto _ : state) {
    state.PauseTiming();
    image.reset();
    ReleaseColorManagement();
    if (!InitializeColorManagement(nullptr, 0, 3, nullptr)) state.SkipWithError("colour management");
    image = std::make_unique<BenchImage>(static_cast<uint32_t>(state.range(0)));
    state.ResumeTiming();
    if (!ConvertColorOf(&image->image, GetLinearWorkingProfile(), Threads(state))) state.SkipWithError("conversion");
  }
  image.reset();
  Label(state);
  ReleaseColorManagement();
}

// The measured direction (third argument: 0 sRGB to linear, 1 back) runs
// timed; the other one restores the image untimed.
void Steady(benchmark::State& state) {
  ReleaseColorManagement();
  if (!InitializeColorManagement(nullptr, 0, 3, nullptr)) state.SkipWithError("colour management");
  BenchImage image(static_cast<uint32_t>(state.range(0)));
  const cmsHPROFILE linear = GetLinearWorkingProfile();
  const cmsHPROFILE standard = GetStandardProfile();
  const bool toLinear = state.range(2) == 0;
  ConvertColorOf(&image.image, linear, Threads(state));  // both transforms cached
  if (toLinear) ConvertColorOf(&image.image, standard, Threads(state));
  for (auto _ : state) {
    if (!ConvertColorOf(&image.image, toLinear ? linear : standard, Threads(state))) state.SkipWithError("conversion");
    state.PauseTiming();
    ConvertColorOf(&image.image, toLinear ? standard : linear, Threads(state));
    state.ResumeTiming();
  }
  Label(state, toLinear ? ", to linear" : ", from linear");
  ReleaseColorManagement();
}

void Arguments(benchmark::internal::Benchmark* b) {
  for (int mode : {3, 11, 16})
    for (int threads : {1, 0}) b->Args({mode, threads});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void SteadyArguments(benchmark::internal::Benchmark* b) {
  for (int mode : {3, 11, 16})
    for (int threads : {1, 0})
      for (int direction : {0, 1}) b->Args({mode, threads, direction});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(FirstRun)->Apply(Arguments)->Iterations(1);
BENCHMARK(Steady)->Apply(SteadyArguments)->MinTime(2.0);

}  // namespace
