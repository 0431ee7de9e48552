#include "host/final_render.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "color/blend.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "effects/effect_drawing.h"
#include "effects/effect_tables.h"
#include "host/host_image.h"
#include "host/phase_timings.h"
#include "image/pixel_access.h"
#include "params/rendering_parameters.h"
#include "runtime/parallel.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/ui_call_queue.h"

namespace {

constexpr int MAX_BANDS = 24;
// Rows of a band: with bands this high the layers in flight at once stay
// small next to the image, whatever the number of threads.
constexpr int32_t BAND_ROWS = 256;

// What the band workers share with the UI thread while they run.
struct RenderRun {
  Image* copy;
  EffectShapes* shapes;
  const LightSourceList* table;
  BlendPrecision precision;
  bool screen;            // blendSelector 0: screen, else store
  bool sparse;            // layers start empty (screen, and black stays black)
  ColorProfileHandle workingProfile;
  double workingGamma;
  std::atomic<bool> abort{false};
  std::atomic<int16_t> failure{0};  // the first worker failure
};

struct BandRecord {
  RenderRun* run;
  ImageRect rect;
  double drawMilliseconds;
  double blendMilliseconds;
};

void StoreFailure(RenderRun* run, int16_t status) {
  int16_t none = 0;
  run->failure.compare_exchange_strong(none, status);
  run->abort.store(true);
}

bool LightSourceDone(void* context) {
  auto* run = static_cast<RenderRun*>(context);
  AdvanceImageEditorProgress(1);
  return !run->abort.load(std::memory_order_relaxed);
}

void BlendLayerIntoCopy(const BandLayer& layer, Image* copy, bool screen, BlendPrecision precision) {
  const Image& image = layer.image;
  for (int32_t row = 0; row < image.bufferHeight; ++row) {
    const int32_t y = image.bufferRect.top + row;
    const int32_t left = layer.spanLeft[static_cast<size_t>(row)];
    const int32_t right = layer.spanRight[static_cast<size_t>(row)];
    if (screen) {
      ScreenRowIntoImage(image, copy, y, left, right, precision);
      continue;
    }
    for (int32_t x = left; x < right; ++x) {
      PixelValue s;
      image.readPixel(&image, &s, x, y);
      StoreIntoImage(s, copy, x, y, precision);
    }
  }
}

void RenderBand(void* context, int32_t item, int32_t /*worker*/) {
  BandRecord* band = static_cast<BandRecord*>(context) + item;
  RenderRun* run = band->run;
  if (band->rect.bottom <= band->rect.top || run->abort.load()) return;
  const PhaseClock::time_point start = PhaseClock::now();
  BandLayer layer{};
  // Released however the band ends, a failure thrown at it included.
  struct LayerRelease {
    BandLayer* layer;
    ~LayerRelease() { ReleaseBandLayer(layer); }
  } release{&layer};
  int16_t status = 0;
  if (!CreateBandLayer(band->rect, run->copy->mode, run->workingProfile, run->workingGamma, run->sparse, &layer,
                       &status)) {
    // Out of memory stays out of memory: the host tells the user what it is.
    StoreFailure(run, status != 0 ? status : STATUS_BAND_RENDERING_FAILED);
    return;
  }
  if (!RenderEffectsIntoBandLayer(&layer, run->shapes, *run->table, run->precision, LightSourceDone, run)) {
    if (!run->abort.load()) StoreFailure(run, STATUS_BAND_RENDERING_FAILED);
    return;
  }
  band->drawMilliseconds = MillisecondsSince(start);
  const PhaseClock::time_point blendStart = PhaseClock::now();
  const bool converted =
      run->sparse ? ConvertColorOfSpans(&layer.image, run->copy->profile, layer.spanLeft.data(), layer.spanRight.data())
                  : ConvertColorOf(&layer.image, run->copy->profile, 1);
  if (!converted) {
    // Reported by the conversion; blending unconverted light would be wrong.
    // A layer left without gamma tables had no memory for the new gamma's.
    StoreFailure(run, layer.image.gammaTables == nullptr ? STATUS_OUT_OF_MEMORY : STATUS_BAND_RENDERING_FAILED);
  } else if (!run->abort.load()) {
    BlendLayerIntoCopy(layer, run->copy, run->screen, run->precision);
  }
  band->blendMilliseconds = MillisecondsSince(blendStart);
}

// Whether empty layer pixels may be left out of conversion and blending:
// only when screening (black adds nothing) and black converts to black.
bool BlackStaysBlack(const Image* copy, ColorProfileHandle working, double workingGamma) {
  Image probe{};
  const ImageRect one{0, 0, 1, 1};
  int16_t status = 0;
  bool keeps = false;
  if (CreateImage(one, true, &probe, one, copy->mode, working, workingGamma, false, &status))
    keeps = ConversionKeepsBlack(&probe, copy->profile);
  ReleaseImage(&probe);
  return keeps;
}

}  // namespace

void InitializeEffectTablesWithoutPreview() { BuildEffectTables(); }

void ReleaseEffectShapeCaches(FilterRun* run) {
  if (!run->shapesSet) return;
  ReleaseEffectShapes(&run->shapes);
  run->shapesSet = false;
}

bool RenderEffectsIntoImage(FilterRun* filterRun, const RenderingParameters& parameters, const LightSourceList& table,
                            int threadCount) {
  int16_t* status = filterRun->status;
  auto failWith = [status](int16_t value) {
    if (*status == 0) *status = value;
  };
  Image* copy = &filterRun->copy.image;
  if (copy->pixels.buffer == nullptr) {
    REPORT_DEBUG("RenderFinalImage() - There is no image or no parameter set to render.");
    failWith(STATUS_BAND_RENDERING_FAILED);
    return false;
  }
  StarEffectSettings settings;
  PrepareStarEffectSettings(parameters, filterRun->copy.diagonal, copy->bytesPerChannel, IsGrayscaleMode(copy->mode),
                            &settings);
  ReleaseEffectShapeCaches(filterRun);
  SetUpEffectShapes(&filterRun->shapes, settings);
  filterRun->shapesSet = true;

  RenderRun run;
  run.copy = copy;
  run.shapes = &filterRun->shapes;
  run.table = &table;
  run.precision = filterRun->blendPrecision;
  run.screen = parameters.blendSelector == 0;
  run.workingProfile = filterRun->workingProfile;
  run.workingGamma = GetProfileGamma(run.workingProfile);
  run.sparse = run.screen && BlackStaysBlack(copy, run.workingProfile, run.workingGamma);

  const int32_t height = copy->bufferRect.bottom - copy->bufferRect.top;
  const int workers = std::clamp(threadCount, 1, MAX_BANDS);
  const int bands = std::clamp<int>(std::max<int32_t>(workers, (height + BAND_ROWS - 1) / BAND_ROWS), 1, MAX_BANDS);
  const PhaseClock::time_point generationStart = PhaseClock::now();
  GenerateNeededSubShapes(&filterRun->shapes, table, workers);
  const double generationMilliseconds = MillisecondsSince(generationStart);
  const int64_t passes = (DrawsSpikes(settings) ? 1 : 0) + (DrawsFlare(settings) ? 1 : 0);
  const int64_t total = passes * table.count * bands;
  StartImageEditorProgress(static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX)));

  BandRecord work[MAX_BANDS] = {};
  const ImageRect& area = copy->bufferRect;
  for (int i = 0; i < bands; ++i) {
    const BandRange rows = BandOfRows(area.bottom - area.top, bands, i);
    work[i] = BandRecord{&run, ImageRect{area.left, area.top + rows.begin, area.right, area.top + rows.end}, 0.0, 0.0};
  }
  // The UI thread serves the bands' progress while it waits; a cancel seen
  // there stops the bands.
  const PhaseClock::time_point bandsStart = PhaseClock::now();
  const ParallelOutcome outcome =
      RunInParallel(ParallelWork{RenderBand, work, bands, workers, true, status, &run.abort});
  const double bandsMilliseconds = MillisecondsSince(bandsStart);
  // A band's own failure says most; a worker that ran out of memory says
  // more than one that ended otherwise.
  if (run.failure.load() != 0) failWith(run.failure.load());
  if (outcome.workerFailed && outcome.outOfMemory) failWith(STATUS_OUT_OF_MEMORY);
  if (outcome.stopped || outcome.workerFailed) failWith(STATUS_FAILURE_REPORTED);
  // Progress the last bands queued just before they ended is shown now, so
  // that a cancel pressed at the very end still stops the write-back.
  RunQueuedUICalls();

  // The bands' wall time, split between drawing and blending as the bands
  // spent their own time.
  double draw = 0.0, blend = 0.0;
  for (int i = 0; i < bands; ++i) {
    draw += work[i].drawMilliseconds;
    blend += work[i].blendMilliseconds;
  }
  const double drawShare = draw + blend > 0.0 ? draw / (draw + blend) : 1.0;
  RecordPhaseTime(&filterRun->timings, PHASE_RENDERING, generationMilliseconds + bandsMilliseconds * drawShare);
  RecordPhaseTime(&filterRun->timings, PHASE_CONVERSION_AND_BLEND, bandsMilliseconds * (1.0 - drawShare));
  return *status == 0;
}
