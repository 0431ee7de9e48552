#include "effects/effect_drawing.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>

#include "analysis/light_source_table.h"
#include "color/blend.h"
#include "color/screen_blend.h"
#include "effects/effect_tables.h"
#include "image/pixel_access.h"
#include "image/pixel_codecs.h"
#include "runtime/invariant.h"
#include "runtime/parallel.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {

// Makes sure that the columns [left, right) of buffer row y are initialised.
void TouchLayerRow(BandLayer* layer, int32_t y, int32_t left, int32_t right);

// The same for one pixel, with the common case (already initialised) inline.
inline void TouchLayerPixel(BandLayer* layer, int32_t x, int32_t y) {
  const size_t row = static_cast<size_t>(y - layer->image.bufferRect.top);
  if (x >= layer->spanLeft[row] && x < layer->spanRight[row]) return;
  TouchLayerRow(layer, y, x, x + 1);
}

constexpr int32_t CHUNK_SAMPLES = 128;
constexpr int32_t SPAN_GRANULE = 64;  // columns initialised at a time

// What a run of samples can reach at most: drawing skips a whole chunk when
// it lies outside the clip or when even its heaviest sample would be too
// faint for the stamp (all products involved only grow with their inputs).
struct SampleChunk {
  uint32_t maxWeight;
  int32_t minDx, maxDx, minDy, maxDy;
};

struct SubShapeChunks {
  std::vector<SampleChunk> chunks;
};

// Hung on a software shape: one generation lock per sub-shape, so that band
// threads needing different quarter positions generate them side by side.
struct SoftwareShapeData {
  std::mutex locks[SUB_SHAPE_COUNT];
};

// Shapes without that data (made elsewhere) share one lock.
std::mutex g_fallbackGenerationLock;

void ReleaseSoftwareShapeData(SamplingShape* shape) {
  for (SubShape& sub : shape->subShapes) {
    delete static_cast<SubShapeChunks*>(sub.drawing);
    sub.drawing = nullptr;
  }
  delete static_cast<SoftwareShapeData*>(shape->drawing);
  shape->drawing = nullptr;
}

SubShapeChunks* SummariseSamples(const SubShape* sub) {
  auto* summary = new (std::nothrow) SubShapeChunks;
  if (summary == nullptr) return nullptr;
  const auto* samples = static_cast<const ShapeSample*>(sub->samples.buffer);
  try {
    summary->chunks.reserve(static_cast<size_t>(sub->sampleCount / CHUNK_SAMPLES + 1));
  } catch (...) {
    delete summary;
    return nullptr;
  }
  for (int32_t first = 0; first < sub->sampleCount; first += CHUNK_SAMPLES) {
    const int32_t end = std::min(sub->sampleCount, first + CHUNK_SAMPLES);
    SampleChunk c{0, INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    for (int32_t i = first; i < end; ++i) {
      const ShapeSample& s = samples[i];
      c.maxWeight = std::max(c.maxWeight, s.weight);
      c.minDx = std::min<int32_t>(c.minDx, s.dx);
      c.maxDx = std::max<int32_t>(c.maxDx, s.dx);
      c.minDy = std::min<int32_t>(c.minDy, s.dy);
      c.maxDy = std::max<int32_t>(c.maxDy, s.dy);
    }
    summary->chunks.push_back(c);
  }
  return summary;
}

// The sub-shape for the position's quarters, generated (and summarised) on
// first use. Null after a report.
SubShape* ReadySubShape(SamplingShape* shape, int32_t xQuarter, int32_t yQuarter) {
  if (shape->type != SHAPE_IMAGE) {
    DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
    ReportMessage(&message, STYLE_ERROR, "Debug: Unexpected Error",
                  "DrawShapeInto detected shape type other than SHAPE_IMAGE:  %d", shape->type);
    return nullptr;
  }
  if (xQuarter < 0 || xQuarter > 3 || yQuarter < 0 || yQuarter > 3) {
    REPORT_DEBUG("DrawShapeInto() received an invalid quarter position (%d, %d).", xQuarter, yQuarter);
    return nullptr;
  }
  const int32_t index = SubShapeIndex(xQuarter, yQuarter);
  SubShape* sub = &shape->subShapes[index];
  auto* data = static_cast<SoftwareShapeData*>(shape->drawing);
  std::mutex& lock = data != nullptr && shape->releaseDrawing == ReleaseSoftwareShapeData
                         ? data->locks[index]
                         : g_fallbackGenerationLock;
  std::lock_guard<std::mutex> guard(lock);
  if (!sub->generated) {
    if (shape->generator == nullptr) {
      REPORT_DEBUG("DrawShapeInto() found a shape without a generator.");
      return nullptr;
    }
    if (!shape->generator(shape, xQuarter, yQuarter)) return nullptr;
    sub->generated = 1;
  }
  if (sub->drawing == nullptr && shape->releaseDrawing == ReleaseSoftwareShapeData) {
    sub->drawing = SummariseSamples(sub);  // without it every sample is visited
  }
  return sub;
}

inline uint32_t Max3(uint32_t a, uint32_t b, uint32_t c) { return std::max(a, std::max(b, c)); }

// How stamps reach the layer's pixels: through the image's routines in any
// mode and blend, or in place for the integer modes when screening (the
// layers' blend), where a run of samples of one colour shares the screen's
// ratios. Both give the same bits: the in-place path reads and writes the
// colour channels with the routines' own codecs and leaves alpha alone,
// which the routines would write back unchanged (see the alpha tables).
enum class LayerAccess { ROUTINES, RGB8, GRAY8, RGB16, GRAY16 };

LayerAccess AccessFor(const Image* image, uint32_t mode) {
  if (mode != BLEND_SCREEN || image->gammaTables == nullptr) return LayerAccess::ROUTINES;
  switch (image->mode) {
    case IMAGE_MODE_RGB8:
      return LayerAccess::RGB8;
    case IMAGE_MODE_GRAY8:
      return LayerAccess::GRAY8;
    case IMAGE_MODE_RGB16:
      return LayerAccess::RGB16;
    case IMAGE_MODE_GRAY16:
      return LayerAccess::GRAY16;
    default:
      return LayerAccess::ROUTINES;
  }
}

template <LayerAccess kAccess>
class StampBlender {
 public:
  StampBlender(Image* image, uint32_t mode, BlendPrecision precision)
      : image_(image),
        read_(SelectPixelReader(image, false)),  // every pixel blended lies inside the clip
        write_(SelectPixelWriter(image, false)),
        mode_(mode),
        precision_(precision) {}

  // Blends one visible sample (the stamp's colour already multiplied by the
  // sample's channel factors) into pixel (x, y).
  void Blend(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    GLIMMARK_INVARIANT(x >= image_->bufferRect.left && x < image_->bufferRect.right && y >= image_->bufferRect.top &&
                       y < image_->bufferRect.bottom);
    // The stamp's colour goes to the blend as it is: a full-strength light is
    // far above white in 24-bit colour units, and the blend's own clamps cap
    // it there (a screen reaches full strength once colour x alpha is white).
    if constexpr (kAccess == LayerAccess::ROUTINES) {
      PixelValue d;
      read_(image_, &d, x, y);
      const BlendPixel source{red, green, blue, alpha, 0};
      BlendPixel target{d.red, d.green, d.blue, d.alpha, d.mask};
      BlendPixels(&source, &target, mode_, precision_);
      const PixelValue out{target.red, target.green, target.blue, target.coverage, PIXEL_KEEP};
      write_(image_, &out, x, y);
    } else if constexpr (kAccess == LayerAccess::RGB8) {
      ScreenInPlace<uint8_t, false>(x, y, red, green, blue, alpha);
    } else if constexpr (kAccess == LayerAccess::GRAY8) {
      ScreenInPlace<uint8_t, true>(x, y, red, green, blue, alpha);
    } else if constexpr (kAccess == LayerAccess::RGB16) {
      ScreenInPlace<uint16_t, false>(x, y, red, green, blue, alpha);
    } else {
      ScreenInPlace<uint16_t, true>(x, y, red, green, blue, alpha);
    }
  }

  // One step of a flare stamp: its coverage, and what it makes of a pixel
  // that is still black (where no other light has reached), worked out once.
  struct Step {
    uint32_t alpha;
    uint16_t black[3];  // codes of the screened black pixel, in memory order
  };

  // The step for coverage `alpha` of colour (red, green, blue); in-place
  // access only.
  Step Prepare(uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    Step step{alpha, {0, 0, 0}};
    if constexpr (kAccess == LayerAccess::RGB8) PrepareBlack<uint8_t, false>(red, green, blue, &step);
    if constexpr (kAccess == LayerAccess::GRAY8) PrepareBlack<uint8_t, true>(red, green, blue, &step);
    if constexpr (kAccess == LayerAccess::RGB16) PrepareBlack<uint16_t, false>(red, green, blue, &step);
    if constexpr (kAccess == LayerAccess::GRAY16) PrepareBlack<uint16_t, true>(red, green, blue, &step);
    return step;
  }

  // Blend(x, y, red, green, blue, step.alpha) for the colour the step was
  // prepared with.
  void BlendStep(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue, const Step& step) {
    if constexpr (kAccess == LayerAccess::RGB8) {
      if (StepOverBlack<uint8_t, false>(x, y, step)) return;
    } else if constexpr (kAccess == LayerAccess::GRAY8) {
      if (StepOverBlack<uint8_t, true>(x, y, step)) return;
    } else if constexpr (kAccess == LayerAccess::RGB16) {
      if (StepOverBlack<uint16_t, false>(x, y, step)) return;
    } else if constexpr (kAccess == LayerAccess::GRAY16) {
      if (StepOverBlack<uint16_t, true>(x, y, step)) return;
    }
    Blend(x, y, red, green, blue, step.alpha);
  }

 private:
  template <typename Sample, bool kGray>
  void PrepareBlack(uint32_t red, uint32_t green, uint32_t blue, Step* step) {
    using Codec = ColourCodec<Sample, kGray>;
    const Sample zero[4] = {0, 0, 0, 0};
    Sample pixel[4] = {0, 0, 0, 0};
    BlendPixel d{0, 0, 0, 0, 0};
    Codec::Read(image_->gammaTables, zero, &d.red, &d.green, &d.blue);
    ScreenBlend(MakeScreenSource(red, green, blue), step->alpha, &d, precision_ == BLEND_PRECISE);
    Codec::Write(image_->gammaTables, pixel, d.red, d.green, d.blue);
    for (int c = 0; c < 3; ++c) step->black[c] = pixel[c];
  }

  // Writes the step's black result where the pixel is black; false elsewhere.
  template <typename Sample, bool kGray>
  bool StepOverBlack(int32_t x, int32_t y, const Step& step) {
    Sample* p = PixelSamples<Sample>(*image_, x, y);
    // Gray reads its first channel only.
    if (p[0] != 0 || (!kGray && (p[1] != 0 || p[2] != 0))) return false;
    for (int c = 0; c < 3; ++c) p[c] = static_cast<Sample>(step.black[c]);
    return true;
  }

  template <typename Sample, bool kGray>
  void ScreenInPlace(int32_t x, int32_t y, uint32_t red, uint32_t green, uint32_t blue, uint32_t alpha) {
    using Codec = ColourCodec<Sample, kGray>;
    if (!haveSource_ || red != source_.colour[0] || green != source_.colour[1] || blue != source_.colour[2]) {
      source_ = MakeScreenSource(red, green, blue);
      haveSource_ = true;
    }
    Sample* p = PixelSamples<Sample>(*image_, x, y);
    BlendPixel d{0, 0, 0, 0, 0};
    Codec::Read(image_->gammaTables, p, &d.red, &d.green, &d.blue);
    ScreenBlend(source_, alpha, &d, precision_ == BLEND_PRECISE);
    Codec::Write(image_->gammaTables, p, d.red, d.green, d.blue);
  }

  Image* image_;
  ReadPixelRoutine read_;
  WritePixelRoutine write_;
  uint32_t mode_;
  BlendPrecision precision_;
  ScreenSource source_{};
  bool haveSource_ = false;
};

template <bool kSparse, LayerAccess kAccess>
void StampSamples(const SubShape* sub, Image* image, BandLayer* layer, const ImageRect& clip, const StampColour& colour,
                  int32_t px, int32_t py, uint32_t mode, BlendPrecision precision, uint32_t threshold) {
  const auto* samples = static_cast<const ShapeSample*>(sub->samples.buffer);
  const auto* summary = static_cast<const SubShapeChunks*>(sub->drawing);
  // Every sample visited lies inside the clip, which lies inside the buffer.
  StampBlender<kAccess> blender(image, mode, precision);
  const uint32_t brightest = Max3(colour.red, colour.green, colour.blue);
  const int32_t chunkCount = summary != nullptr ? static_cast<int32_t>(summary->chunks.size()) : 1;
  for (int32_t ci = 0; ci < chunkCount; ++ci) {
    int32_t first = 0;
    int32_t end = sub->sampleCount;
    if (summary != nullptr) {
      const SampleChunk& c = summary->chunks[static_cast<size_t>(ci)];
      if (py + c.maxDy < clip.top || py + c.minDy >= clip.bottom || px + c.maxDx < clip.left ||
          px + c.minDx >= clip.right)
        continue;
      if (FractionProduct(brightest, FractionProduct(colour.alpha, c.maxWeight)) < threshold) continue;
      first = ci * CHUNK_SAMPLES;
      end = std::min(end, first + CHUNK_SAMPLES);
    }
    for (int32_t i = first; i < end; ++i) {
      const ShapeSample& s = samples[i];
      const int32_t x = px + s.dx;
      const int32_t y = py + s.dy;
      if (x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) continue;
      const uint32_t alpha = FractionProduct(colour.alpha, s.weight);
      const uint32_t red = FractionProduct(colour.red, s.red);
      const uint32_t green = FractionProduct(colour.green, s.green);
      const uint32_t blue = FractionProduct(colour.blue, s.blue);
      if (FractionProduct(Max3(red, green, blue), alpha) < threshold) continue;
      if constexpr (kSparse) TouchLayerPixel(layer, x, y);
      blender.Blend(x, y, red, green, blue, alpha);
    }
  }
}

// The soft flare, stamped straight from its weight profile: the pixels and
// weights of its sub-shape for the position's quarters, without the sample
// list (whose size grows with the square of the flare's reach and is
// gigabytes for a long flare on a large photo). Each pixel is visited once,
// so the order cannot matter.
template <bool kSparse, LayerAccess kAccess>
void StampFlare(const StarEffectSettings& s, Image* image, BandLayer* layer, const ImageRect& clip,
                const StampColour& colour, const QuarterPoint& position, uint32_t mode, BlendPrecision precision,
                uint32_t threshold) {
  const uint32_t brightest = Max3(colour.red, colour.green, colour.blue);
  // Weights fall with the distance: the first index too faint for this
  // stamp ends its reach.
  size_t reach = 0;
  while (reach < s.flareProfile.size() &&
         FractionProduct(brightest, FractionProduct(colour.alpha, s.flareProfile[reach])) >= threshold)
    ++reach;
  if (reach == 0) return;
  const int32_t radius = std::min<int32_t>(FlareReach(s), static_cast<int32_t>(reach / 20 + 2));
  const int64_t px = position.x;
  const int64_t py = position.y;
  const int32_t top = static_cast<int32_t>(std::max<int64_t>(clip.top, py - radius));
  const int32_t bottom = static_cast<int32_t>(std::min<int64_t>(clip.bottom, py + radius + 1));
  const int32_t left = static_cast<int32_t>(std::max<int64_t>(clip.left, px - radius));
  const int32_t right = static_cast<int32_t>(std::min<int64_t>(clip.right, px + radius + 1));
  const uint32_t red = FractionProduct(colour.red, FRACTION_FULL);
  const uint32_t green = FractionProduct(colour.green, FRACTION_FULL);
  const uint32_t blue = FractionProduct(colour.blue, FRACTION_FULL);
  const uint32_t m = s.minimumVisible;
  StampBlender<kAccess> blender(image, mode, precision);
  // The flare's colour is the same at every pixel, so what the distance
  // index decides is worked out once per index.
  // Each index's step is made on first use: a band far from the light
  // meets only the far, faint end of the profile.
  using Step = typename StampBlender<kAccess>::Step;
  enum : uint8_t { UNKNOWN, HIDDEN, READY };
  std::vector<Step> steps;
  std::vector<uint8_t> state;
  if constexpr (kAccess != LayerAccess::ROUTINES) {
    try {
      steps.resize(reach);
      state.assign(reach, UNKNOWN);
    } catch (const std::bad_alloc&) {
      steps.clear();
      state.clear();
    }
  }
  auto stamp = [&](int32_t x, int32_t y, size_t index) {
    if (!steps.empty()) {
      if (state[index] == UNKNOWN) {
        const uint32_t weight = s.flareProfile[index];
        const uint32_t alpha = FractionProduct(colour.alpha, weight);
        const bool visible = weight >= m && FractionProduct(Max3(red, green, blue), alpha) >= threshold;
        if (visible) steps[index] = blender.Prepare(red, green, blue, alpha);
        state[index] = visible ? READY : HIDDEN;
      }
      if (state[index] == HIDDEN) return;
      if constexpr (kSparse) TouchLayerPixel(layer, x, y);
      blender.BlendStep(x, y, red, green, blue, steps[index]);
      return;
    }
    const uint32_t weight = s.flareProfile[index];
    if (weight < m) return;
    const uint32_t alpha = FractionProduct(colour.alpha, weight);
    if (FractionProduct(Max3(red, green, blue), alpha) < threshold) return;
    if constexpr (kSparse) TouchLayerPixel(layer, x, y);
    blender.Blend(x, y, red, green, blue, alpha);
  };
  const std::vector<int64_t>& bounds = s.flareBounds;
  GLIMMARK_INVARIANT(bounds.size() == s.flareProfile.size() + 1);
  // The index of squared distance `squared`, stepped from a nearby one.
  auto follow = [&bounds](int64_t squared, size_t index) {
    while (index + 1 < bounds.size() && squared >= bounds[index + 1]) ++index;
    while (index > 0 && squared < bounds[index]) --index;
    return index;
  };
  // Each row is walked outwards from the centre's column, both ways, and
  // ends where the distance leaves the reach for good; the index at a row's
  // first pixel is close to the previous row's.
  const int32_t centre = static_cast<int32_t>(std::clamp<int64_t>(px, left, right));
  size_t rowIndex = 0;
  for (int32_t y = top; y < bottom; ++y) {
    const int64_t dy = 4 * (y - py) - position.yQuarter;
    const int64_t dy2 = dy * dy;
    auto squareAt = [&](int32_t x) {
      const int64_t dx = 4 * (x - px) - position.xQuarter;
      return dx * dx + dy2;
    };
    if (centre < right) rowIndex = follow(squareAt(centre), rowIndex);
    size_t index = rowIndex;
    for (int32_t x = centre; x < right; ++x) {
      index = follow(squareAt(x), index);
      if (index < reach)
        stamp(x, y, index);
      else if (4 * (x - px) - position.xQuarter > 0)
        break;
    }
    index = rowIndex;
    for (int32_t x = centre - 1; x >= left; --x) {
      index = follow(squareAt(x), index);
      if (index < reach)
        stamp(x, y, index);
      else if (4 * (x - px) - position.xQuarter < 0)
        break;
    }
  }
}

// Calls stamp(sparse, access) with both as compile-time constants
// (std::integral_constant), so that each combination gets its own loop.
template <LayerAccess kAccess>
using AccessTag = std::integral_constant<LayerAccess, kAccess>;

template <typename Stamp>
void WithAccess(bool sparse, LayerAccess access, Stamp stamp) {
  auto withSparse = [&](auto sparseTag) {
    switch (access) {
      case LayerAccess::RGB8:
        return stamp(sparseTag, AccessTag<LayerAccess::RGB8>{});
      case LayerAccess::GRAY8:
        return stamp(sparseTag, AccessTag<LayerAccess::GRAY8>{});
      case LayerAccess::RGB16:
        return stamp(sparseTag, AccessTag<LayerAccess::RGB16>{});
      case LayerAccess::GRAY16:
        return stamp(sparseTag, AccessTag<LayerAccess::GRAY16>{});
      default:
        return stamp(sparseTag, AccessTag<LayerAccess::ROUTINES>{});
    }
  };
  if (sparse)
    withSparse(std::true_type{});
  else
    withSparse(std::false_type{});
}

bool DrawInto(SamplingShape* shape, Image* image, BandLayer* layer, const ImageRect& clip, const StampColour& colour,
              const QuarterPoint& position, uint32_t mode, BlendPrecision precision) {
  if (shape == nullptr || image == nullptr) {
    REPORT_DEBUG("DrawShapeInto() received a NULL shape or image.");
    return false;
  }
  const uint32_t threshold = MinimumVisibleValue(image->bytesPerChannel) / 2;
  BandLayer* sparse = layer != nullptr && layer->sparse ? layer : nullptr;
  if (shape->generator == GenerateFlareSubShape && shape->type == SHAPE_IMAGE && shape->parameter != nullptr &&
      position.xQuarter >= 0 && position.xQuarter <= 3 && position.yQuarter >= 0 && position.yQuarter <= 3) {
    const auto& settings = *static_cast<const StarEffectSettings*>(shape->parameter);
    const ImageRect& b = image->bufferRect;
    const ImageRect r{std::max(b.left, clip.left), std::max(b.top, clip.top), std::min(b.right, clip.right),
                      std::min(b.bottom, clip.bottom)};
    if (r.left >= r.right || r.top >= r.bottom || settings.length < 1) return true;
    WithAccess(sparse != nullptr, AccessFor(image, mode), [&](auto kSparse, auto kAccess) {
      StampFlare<kSparse, kAccess>(settings, image, sparse, r, colour, position, mode, precision, threshold);
    });
    return true;
  }
  SubShape* sub = ReadySubShape(shape, position.xQuarter, position.yQuarter);
  if (sub == nullptr) return false;
  if (sub->sampleCount == 0 || sub->samples.buffer == nullptr) return true;
  // The sub-shape's bounds at the position, inside the image and the clip;
  // 64-bit so that no position can wrap.
  const ImageRect& b = image->bufferRect;
  auto narrow = [](int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  const int64_t x = position.x;
  const int64_t y = position.y;
  const ImageRect r{narrow(std::max({x + sub->left, int64_t{b.left}, int64_t{clip.left}})),
                    narrow(std::max({y + sub->top, int64_t{b.top}, int64_t{clip.top}})),
                    narrow(std::min({x + sub->right, int64_t{b.right}, int64_t{clip.right}})),
                    narrow(std::min({y + sub->bottom, int64_t{b.bottom}, int64_t{clip.bottom}}))};
  if (r.left >= r.right || r.top >= r.bottom) return true;
  WithAccess(sparse != nullptr, AccessFor(image, mode), [&](auto kSparse, auto kAccess) {
    StampSamples<kSparse, kAccess>(sub, image, sparse, r, colour, position.x, position.y, mode, precision, threshold);
  });
  return true;
}

}  // namespace

bool DrawShapeInto(SamplingShape* shape, Image* destination, const ImageRect& clip, const StampColour& colour,
                   const QuarterPoint& position, uint32_t blendMode, BlendPrecision precision) {
  return DrawInto(shape, destination, nullptr, clip, colour, position, blendMode, precision);
}

bool CreateBandLayer(const ImageRect& band, uint32_t mode, ColorProfileHandle profile, double gamma, bool sparse,
                     BandLayer* layer, int16_t* status) {
  ReleaseBandLayer(layer);
  if (!CreateImage(band, true, &layer->image, band, mode, profile, gamma, false, status)) return false;
  const PixelValue black{0, 0, 0, PIXEL_OPAQUE, PIXEL_OPAQUE};
  Image& image = layer->image;
  const size_t pixelBytes = static_cast<size_t>(image.bytesPerChannel) * 4;
  std::memset(layer->black, 0, sizeof layer->black);
  if (image.width > 0 && image.height > 0) {
    // Encode black once; the sparse layer copies these bytes where it grows.
    image.writePixel(&image, &black, band.left, band.top);
    std::memcpy(layer->black, image.pixels.buffer, pixelBytes);
  }
  layer->sparse = sparse;
  const size_t rows = static_cast<size_t>(std::max(image.bufferHeight, 0));
  try {
    layer->spanLeft.assign(rows, band.left);
    layer->spanRight.assign(rows, sparse ? band.left : band.right);
  } catch (...) {
    REPORT_DEBUG("CreateBandLayer() - Not enough memory for the row spans.");
    if (status != nullptr && *status == 0) *status = STATUS_OUT_OF_MEMORY;
    ReleaseImage(&layer->image);
    return false;
  }
  if (!sparse) FillImageRect(band, black, &image);
  return true;
}

void ReleaseBandLayer(BandLayer* layer) {
  ReleaseImage(&layer->image);
  layer->spanLeft.clear();
  layer->spanRight.clear();
  layer->sparse = false;
}

namespace {
void TouchLayerRow(BandLayer* layer, int32_t y, int32_t left, int32_t right) {
  Image& image = layer->image;
  GLIMMARK_INVARIANT(y >= image.bufferRect.top && y < image.bufferRect.bottom);
  GLIMMARK_INVARIANT(left >= image.bufferRect.left && left < right && right <= image.bufferRect.right);
  const size_t row = static_cast<size_t>(y - image.bufferRect.top);
  int32_t& spanLeft = layer->spanLeft[row];
  int32_t& spanRight = layer->spanRight[row];
  if (left >= spanLeft && right <= spanRight) return;
  const int32_t origin = image.bufferRect.left;
  // Grow in whole granules so that a spike crossing a row costs few fills.
  int32_t newLeft = origin + (left - origin) / SPAN_GRANULE * SPAN_GRANULE;
  int32_t newRight = origin + (right - origin + SPAN_GRANULE - 1) / SPAN_GRANULE * SPAN_GRANULE;
  newRight = std::min(newRight, image.bufferRect.right);
  const size_t pixelBytes = static_cast<size_t>(image.bytesPerChannel) * 4;
  uint8_t* rowBytes = static_cast<uint8_t*>(image.pixels.buffer) +
                      row * static_cast<size_t>(image.bufferWidth) * pixelBytes;
  // One pixel, then the filled part copied onto the rest, doubling each time.
  auto fill = [&](int32_t from, int32_t to) {
    if (from >= to) return;
    uint8_t* start = rowBytes + static_cast<size_t>(from - origin) * pixelBytes;
    const size_t total = static_cast<size_t>(to - from) * pixelBytes;
    std::memcpy(start, layer->black, pixelBytes);
    for (size_t done = pixelBytes; done < total;) {
      const size_t chunk = std::min(done, total - done);
      std::memcpy(start + done, start, chunk);
      done += chunk;
    }
  };
  if (spanLeft >= spanRight) {
    fill(newLeft, newRight);
    spanLeft = newLeft;
    spanRight = newRight;
    return;
  }
  if (newLeft < spanLeft) {
    fill(newLeft, spanLeft);
    spanLeft = newLeft;
  }
  if (newRight > spanRight) {
    fill(spanRight, newRight);
    spanRight = newRight;
  }
}
}  // namespace

void SetUpEffectShapes(EffectShapes* shapes, const StarEffectSettings& settings) {
  shapes->settings = settings;
  SetUpStarEffectShapes(&shapes->spike, &shapes->flare, &shapes->settings);
  for (SamplingShape* shape : {&shapes->spike, &shapes->flare}) {
    shape->drawing = new (std::nothrow) SoftwareShapeData;
    shape->releaseDrawing = ReleaseSoftwareShapeData;
  }
}

void ReleaseEffectShapes(EffectShapes* shapes) {
  FreeSamplingShape(&shapes->spike);
  FreeSamplingShape(&shapes->flare);
}

namespace {

struct GenerationJob {
  SamplingShape* shape;
  std::vector<int32_t> indices;
};

void GenerateSubShape(void* context, int32_t item, int32_t /*worker*/) {
  auto* job = static_cast<GenerationJob*>(context);
  const int32_t index = job->indices[static_cast<size_t>(item)];
  ReadySubShape(job->shape, index / 4, index % 4);
}

}  // namespace

void GenerateNeededSubShapes(EffectShapes* shapes, const LightSourceList& table, int threadCount) {
  const StarEffectSettings& s = shapes->settings;
  if (!DrawsSpikes(s) || s.length < 1) return;
  const uint32_t threshold = QuantityThreshold(s.quantity);
  const LightSourceRecord* entries = ListRecords(&table);
  bool needed[SUB_SHAPE_COUNT] = {};
  for (uint32_t i = 0; entries != nullptr && i < table.count; ++i) {
    StarStamp stamp;
    const LightSourceRecord& e = entries[i];
    if (SelectLightSource(e, threshold, s, &stamp) && stamp.spikes && e.xQuarter >= 0 && e.xQuarter < 4 &&
        e.yQuarter >= 0 && e.yQuarter < 4)
      needed[SubShapeIndex(e.xQuarter, e.yQuarter)] = true;
  }
  GenerationJob job;
  job.shape = &shapes->spike;
  for (int32_t i = 0; i < SUB_SHAPE_COUNT; ++i)
    if (needed[i]) job.indices.push_back(i);
  const int32_t items = static_cast<int32_t>(job.indices.size());
  const int32_t workers = std::max(1, std::min<int32_t>(threadCount, items));
  if (workers < 2) {
    for (int32_t i = 0; i < items; ++i) GenerateSubShape(&job, i, 0);
    return;
  }
  RunInParallel(ParallelWork{GenerateSubShape, &job, items, workers, false, nullptr, nullptr});
}

bool RenderEffectsIntoBandLayer(BandLayer* layer, EffectShapes* shapes, const LightSourceList& table,
                                BlendPrecision precision, LightSourceDone done, void* context) {
  const StarEffectSettings& s = shapes->settings;
  const uint32_t threshold = QuantityThreshold(s.quantity);
  const LightSourceRecord* entries = ListRecords(&table);
  const uint32_t count = entries != nullptr ? table.count : 0;
  const ImageRect band = layer->image.bufferRect;
  const bool passes[2] = {DrawsSpikes(s), DrawsFlare(s)};
  for (int pass = 0; pass < 2; ++pass) {
    if (!passes[pass]) continue;
    SamplingShape* shape = pass == 0 ? &shapes->spike : &shapes->flare;
    for (uint32_t i = 0; i < count; ++i) {
      const LightSourceRecord& entry = entries[i];
      StarStamp stamp;
      if (SelectLightSource(entry, threshold, s, &stamp) && (pass == 0 ? stamp.spikes : stamp.flare)) {
        const StampColour colour{stamp.red, stamp.green, stamp.blue, pass == 0 ? stamp.spikeAlpha : stamp.flareAlpha};
        const QuarterPoint position{entry.x, entry.xQuarter, entry.y, entry.yQuarter};
        if (!DrawInto(shape, &layer->image, layer, band, colour, position, BLEND_SCREEN, precision)) return false;
      }
      if (done != nullptr && !done(context)) return false;
    }
  }
  return true;
}
