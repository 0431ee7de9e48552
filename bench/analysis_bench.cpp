// The light source analysis of a 24-megapixel (6000 x 4000) photograph: a
// synthetic night sky full of stars, and a hazy picture of the same size
// without any highlight. Each run reports where its time went (reduction to
// the analysis image, conversion to linear light, pass 1, pass 2, handing
// the lists over) on one worker and on all of them.
//
//   cmake --build build/linux --target benchmarks && build/linux/bench/benchmarks --benchmark_filter=Analysis
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "analysis/light_source_analysis.h"
#include "image/image.h"
#include "image/pixel_access.h"
#include "runtime/threads.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;

// Small, fast and the same everywhere.
struct XorShift {
  uint64_t state;
  uint64_t Next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  }
  double Unit() { return (Next() >> 11) / 9007199254740992.0; }
};

// 8-bit sRGB-like image (gamma 2.2), blue first in memory.
struct SyntheticPhoto {
  Image image{};
  std::vector<float> linear;  // 3 floats per pixel while drawing
  SyntheticPhoto() : linear(static_cast<size_t>(kWidth) * kHeight * 3, 0.0f) {}
  ~SyntheticPhoto() { ReleaseImage(&image); }
  void Add(int32_t x, int32_t y, double r, double g, double b) {
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight) return;
    float* p = &linear[(static_cast<size_t>(y) * kWidth + x) * 3];
    p[0] += static_cast<float>(r);
    p[1] += static_cast<float>(g);
    p[2] += static_cast<float>(b);
  }
  // A star: a Gaussian spot of the given peak and width.
  void Star(double cx, double cy, double sigma, double peak, double r, double g, double b) {
    const int32_t reach = static_cast<int32_t>(std::ceil(sigma * 4));
    for (int32_t y = static_cast<int32_t>(cy) - reach; y <= static_cast<int32_t>(cy) + reach; ++y) {
      for (int32_t x = static_cast<int32_t>(cx) - reach; x <= static_cast<int32_t>(cx) + reach; ++x) {
        const double d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        const double v = peak * std::exp(-d2 / (2 * sigma * sigma));
        Add(x, y, v * r, v * g, v * b);
      }
    }
  }
  void Encode() {
    const ImageRect rect{0, 0, kWidth, kHeight};
    CreateImage(rect, false, &image, rect, IMAGE_MODE_RGB8, nullptr, 2.2, false, nullptr);
    auto* out = static_cast<uint8_t*>(image.pixels.buffer);
    for (size_t i = 0; i < static_cast<size_t>(kWidth) * kHeight; ++i) {
      for (int c = 0; c < 3; ++c) {
        const double v = std::clamp(static_cast<double>(linear[i * 3 + c]), 0.0, 1.0);
        out[i * 4 + 2 - c] = static_cast<uint8_t>(std::lround(std::pow(v, 1 / 2.2) * 255));
      }
      out[i * 4 + 3] = 255;
    }
    linear.clear();
    linear.shrink_to_fit();
  }
};

const Image& NightSky() {
  static SyntheticPhoto* photo = [] {
    auto* p = new SyntheticPhoto;
    XorShift random{0x9E3779B97F4A7C15ull};
    for (int32_t y = 0; y < kHeight; ++y) {
      const bool ground = y > kHeight * 3 / 4;
      for (int32_t x = 0; x < kWidth; ++x) {
        const double sky = ground ? 0.002 : 0.004 + 0.01 * y / kHeight;
        const double noise = 0.002 * random.Unit();
        p->Add(x, y, sky * 0.6 + noise, sky * 0.7 + noise, sky + noise);
      }
    }
    // Stars of every brightness; about a third burn out in the middle.
    for (int i = 0; i < 4000; ++i) {
      const double x = random.Unit() * kWidth, y = random.Unit() * kHeight * 0.75;
      const double peak = 0.05 + 4.0 * std::pow(random.Unit(), 3.0);
      const double sigma = 0.8 + 2.5 * random.Unit() * random.Unit();
      const double tint = random.Unit();
      p->Star(x, y, sigma, peak, 0.8 + 0.2 * tint, 0.85, 1.0 - 0.2 * tint);
    }
    for (int i = 0; i < 12; ++i)  // the brightest, wider stars
      p->Star(random.Unit() * kWidth, random.Unit() * kHeight * 0.7, 4.0 + 3 * random.Unit(), 3.0, 1.0, 0.95, 0.9);
    p->Encode();
    return p;
  }();
  return photo->image;
}

const Image& Haze() {
  static SyntheticPhoto* photo = [] {
    auto* p = new SyntheticPhoto;
    XorShift random{12345};
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        const double v = 0.1 + 0.15 * std::sin(x * 0.001) * std::cos(y * 0.0013) + 0.01 * random.Unit();
        p->Add(x, y, v * 0.8, v * 0.9, v);
      }
    }
    p->Encode();
    return p;
  }();
  return photo->image;
}

// A table that only counts what it is given.
uint64_t g_records = 0;
int16_t CountPreallocate(void*, uint32_t) { return 0; }
void CountList(void*, int32_t, const LightSourceList& list) { g_records += list.count; }
void Nothing(void*) {}
void ResetCount(void*) { g_records = 0; }

bool Linearize(Image* image) {
  LinearizeImage(image);
  return true;
}

void Analyse(benchmark::State& state, const Image& host) {
  const int32_t workers = state.range(0) > 0 ? static_cast<int32_t>(state.range(0)) : GetWorkerThreadCount();
  LightSourceAnalysisTimings total{};
  uint64_t records = 0;
  for (auto _ : state) {
    std::atomic<int16_t> resultCode{0};
    LightSourceAnalysisSetup setup{};
    setup.hostImage = &host;
    setup.convertToLinearWorking = Linearize;
    setup.resultCode = &resultCode;
    setup.table = LightSourceTableRoutines{nullptr, CountPreallocate, CountList, Nothing, ResetCount};
    setup.workerCount = workers;
    LightSourceAnalysis* analysis = nullptr;
    if (!StartLightSourceAnalysis(setup, &analysis)) {
      state.SkipWithError("the analysis did not start");
      return;
    }
    WaitForLightSourceAnalysis(analysis, -1);
    const LightSourceAnalysisTimings t = GetLightSourceAnalysisTimings(analysis);
    total.reduction += t.reduction;
    total.conversion += t.conversion;
    total.pass1 += t.pass1;
    total.pass2 += t.pass2;
    total.merge += t.merge;
    records = g_records;
    ReleaseLightSourceAnalysis(&analysis);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["workers"] = workers;
  state.counters["highlights"] = static_cast<double>(records);
  state.counters["reduction_ms"] = total.reduction / n * 1000;
  state.counters["conversion_ms"] = total.conversion / n * 1000;
  state.counters["pass1_ms"] = total.pass1 / n * 1000;
  state.counters["pass2_ms"] = total.pass2 / n * 1000;
  state.counters["merge_ms"] = total.merge / n * 1000;
}

void BM_AnalysisNightSky24MP(benchmark::State& state) { Analyse(state, NightSky()); }
void BM_AnalysisHaze24MP(benchmark::State& state) { Analyse(state, Haze()); }

// Argument: workers (0 = as many as the machine gets).
BENCHMARK(BM_AnalysisNightSky24MP)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_AnalysisHaze24MP)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

namespace {

// The reduction alone: the 24-megapixel photo to its 1800 x 1200 analysis
// image, on one thread and on all.
void BM_AnalysisReduction24MP(benchmark::State& state) {
  const Image& host = NightSky();
  const int32_t threads = state.range(0) > 0 ? static_cast<int32_t>(state.range(0)) : GetWorkerThreadCount();
  const AnalysisGeometry geometry = ComputeAnalysisGeometry(host.imageRect);
  Image reduced{};
  CreateImage(geometry.rect, false, &reduced, geometry.rect, IMAGE_MODE_RGB16, nullptr, 2.2, true, nullptr);
  for (auto _ : state) CopyImageWithReduction(&host, &reduced, nullptr, threads);
  ReleaseImage(&reduced);
}
BENCHMARK(BM_AnalysisReduction24MP)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
