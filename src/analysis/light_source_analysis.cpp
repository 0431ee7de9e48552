#include "analysis/light_source_analysis.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "analysis/analysis_task.h"
#include "analysis/light_source_detection.h"
#include "runtime/event.h"
#include "runtime/parallel.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/test_hooks.h"
#include "runtime/threads.h"

struct LightSourceAnalysis {
  LightSourceAnalysisSetup setup{};
  AnalysisContext context;
  std::atomic<int16_t> ownResultCode{0};
  AnalysisStopFlags ownStopFlags;
  Event complete{true, false};
  std::thread thread;
  int32_t workerCount = 1;
  LightSourceAnalysisTimings timings{};
};

namespace {

using WorkerRoutine = uint32_t (*)(void* task);
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Stores a failure unless one is pending: the first failure of a run is the
// one the user hears about.
void StoreResultCode(AnalysisContext& context, int16_t status) {
  int16_t expected = 0;
  if (status != 0 && context.resultCode != nullptr) context.resultCode->compare_exchange_strong(expected, status);
}

// What the analysis workers share: each section is searched with the
// shapes of the worker that takes it, and every worker's shapes are built
// the same way, so a section's result does not depend on who searched it.
struct SectionWork {
  AnalyzeSectionTask* tasks;
  WorkerRoutine routine;
};

void SearchSection(void* context, int32_t section, int32_t worker) {
  const auto* work = static_cast<const SectionWork*>(context);
  AnalyzeSectionTask* owner = &work->tasks[worker];
  AnalyzeSectionTask* task = &work->tasks[section];
  task->diskShapes = static_cast<SamplingShape*>(owner->diskShapeBuff.buffer);
  task->diskCount = ANALYSIS_SHAPE_COUNT;
  task->ringShapes = static_cast<SamplingShape*>(owner->ringShapeBuff.buffer);
  task->ringCount = ANALYSIS_SHAPE_COUNT;
  task->shapeOwner = owner;
  work->routine(task);
}

// Runs `routine` over all sections on `workers` threads and waits for them.
// A worker that cannot start is reported and its share is taken by the
// others or by this thread, so that no section goes unsearched.
int16_t SpawnAnalysisThreadsAndWait(WorkerRoutine routine, AnalyzeSectionTask* tasks, int32_t sectionCount,
                                    int32_t workers) {
  SectionWork sections{tasks, routine};
  if (TestHooks* hooks = ActiveTestHooks()) {
    const int failIndex = hooks->failAnalysisWorkerStart.exchange(-1);
    if (failIndex >= 0) hooks->failThreadStart = failIndex;
  }
  const ParallelOutcome outcome =
      RunInParallel(ParallelWork{SearchSection, &sections, sectionCount, workers, false, nullptr, nullptr});
  if (outcome.startFailed)
    REPORT_DEBUG("Could not initiate AnalyzeSection() task : %s", "a worker thread could not be started");
  if (!outcome.workerFailed) return 0;
  return outcome.outOfMemory ? STATUS_OUT_OF_MEMORY : STATUS_FAILURE_REPORTED;
}

// The first host row a section of analysis rows stands for.
int32_t HostRow(const AnalysisToHost& mapping, int32_t analysisRow) {
  const int64_t hostSize = int64_t{mapping.host.bottom} - mapping.host.top;
  const int64_t size = int64_t{mapping.analysis.bottom} - mapping.analysis.top;
  if (size <= 0 || hostSize == size) return analysisRow - mapping.analysis.top + mapping.host.top;
  return static_cast<int32_t>(mapping.host.top + (int64_t{analysisRow} - mapping.analysis.top) * hostSize / size);
}

// The stages of the analysis on the task records in `tasks` (null when they
// could not be had: status is then not 0). Returns the status.
int16_t AnalyzeIntoTable(LightSourceAnalysis* run, AnalyzeSectionTask* tasks, int16_t status) {
  AnalysisContext& context = run->context;
  const LightSourceAnalysisSetup& setup = run->setup;
  auto stopped = [&] { return AnalysisStopRequested(context); };
  const int32_t workers = run->workerCount;
  // The sections are the same whatever the number of workers, and each
  // section's search depends only on the image and on that section: so the
  // table does not depend on the number of workers either.
  const int32_t sections = ANALYSIS_TASK_COUNT;

  if (status == 0) {
    AnalysisImageTimings imageTimings{};
    int16_t imageStatus = 0;
    const bool built = BuildAnalysisImage(setup.hostImage, &context.image, &context.scale, setup.convertToLinearWorking,
                                          &context.stopFlags->stop, workers, &imageTimings, &imageStatus);
    run->timings.reduction = imageTimings.reduction;
    run->timings.conversion = imageTimings.conversion;
    // A stop is no failure: the run is ending and has its own status.
    if (!built && !stopped()) status = imageStatus != 0 ? imageStatus : STATUS_PARAMETER_ERROR;
  }

  if (status == 0 && !stopped()) {
    const ImageRect& r = context.image.bufferRect;
    const int32_t total = r.bottom - r.top;
    context.totalRows = total;
    context.rowsDone = 0;
    const int32_t height = total / sections;
    for (int32_t k = 0; k < sections; ++k) {
      AnalyzeSectionTask* task = &tasks[k];
      task->context = &context;
      task->threadIndex = k;
      task->section =
          ImageRect{r.left, r.top + k * height, r.right, k == sections - 1 ? r.bottom : r.top + (k + 1) * height};
    }
    for (int32_t k = 0; k < workers && status == 0; ++k) {
      status = InitializeAnalysisTask(&tasks[k], k, &context);
    }
  }

  if (status == 0 && !stopped()) status = PrepareBrightnessMap(&context);

  if (status == 0 && !stopped()) {
    const Clock::time_point start = Clock::now();
    status = SpawnAnalysisThreadsAndWait(MeasureSectionMaximum, tasks, sections, workers);
    if (status == 0) status = AnalysisResultCode(context);
    if (status == 0) {
      uint32_t maximum = 0;
      for (int32_t k = 0; k < sections; ++k) maximum = std::max(maximum, tasks[k].sectionMaximum);
      context.maximumBrightness = maximum;
    }
    run->timings.pass1 = SecondsSince(start);
  }

  if (status == 0 && !stopped()) {
    const Clock::time_point start = Clock::now();
    status = SpawnAnalysisThreadsAndWait(AnalyzeSection, tasks, sections, workers);
    if (status == 0) status = AnalysisResultCode(context);
    run->timings.pass2 = SecondsSince(start);
  }

  if (status == 0 && !stopped()) {
    const Clock::time_point start = Clock::now();
    GatherHighlightsBySection(tasks, sections);
    uint64_t count = 0;
    for (int32_t k = 0; k < sections; ++k) count += tasks[k].list.count;
    const uint32_t requested = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX / sizeof(LightSourceRecord)));
    const int16_t allocation = setup.table.preallocate(setup.table.table, requested);
    if (allocation != 0) {
      REPORT_DEBUG("PreallocateMasterLightSourceTable() - Allocation Failed:  Requested = %u light sources (%u bytes).",
                   requested, static_cast<uint32_t>(requested * sizeof(LightSourceRecord)));
      status = allocation;
    } else {
      const AnalysisToHost mapping{setup.hostImage->bufferRect, context.image.bufferRect, context.scale};
      for (int32_t k = 0; k < sections && !stopped(); ++k) {
        ConvertListToHostCoordinates(&tasks[k].list, mapping);
        setup.table.addList(setup.table.table, HostRow(mapping, tasks[k].section.top), tasks[k].list);
      }
      if (!stopped()) setup.table.normalizeAndRank(setup.table.table);
    }
    run->timings.merge = SecondsSince(start);
  }
  return status;
}

void InitializeLightSourceTable(LightSourceAnalysis* run) {
  AnalysisContext& context = run->context;
  BufferDescriptor taskBuffer{};
  const size_t taskBytes = sizeof(AnalyzeSectionTask) * ANALYSIS_TASK_COUNT;
  int16_t status = ReallocateBuffer(taskBytes, &taskBuffer);
  AnalyzeSectionTask* tasks = nullptr;
  if (status == 0) {
    tasks = static_cast<AnalyzeSectionTask*>(taskBuffer.buffer);
    std::memset(static_cast<void*>(tasks), 0, taskBytes);
  } else {
    REPORT_DEBUG("Could not allocate the analysis task records.");
  }
  const int32_t sections = ANALYSIS_TASK_COUNT;
  // A failure thrown by a stage ends the stages, never the clean-up.
  try {
    status = AnalyzeIntoTable(run, tasks, status);
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("The light source analysis ran out of memory.");
    status = STATUS_OUT_OF_MEMORY;
  } catch (...) {
    REPORT_DEBUG("The light source table initialization ended by an internal failure.");
    status = STATUS_FAILURE_REPORTED;
  }

  // Clean-up, always.
  ReleaseAnalysisImage(&context);
  if (tasks != nullptr) {
    for (int32_t k = 0; k < sections; ++k) FreeAnalysisTask(&tasks[k]);
  }
  DeallocateBuffer(&taskBuffer);
  StoreResultCode(context, status);
  context.rowsDone = std::max(context.totalRows.load(), 1);
  if (context.totalRows.load() < 1) context.totalRows = 1;
  run->complete.Set();
}

void RunAnalysisThread(LightSourceAnalysis* run) noexcept {
  try {
    InitializeLightSourceTable(run);
  } catch (...) {
    // Nothing thrown may leave the thread, and the completion event must be
    // set whatever happens, or the dialog would wait forever.
    REPORT_DEBUG("The light source table initialization ended by an internal failure.");
    StoreResultCode(run->context, STATUS_FAILURE_REPORTED);
    run->complete.Set();
  }
}

}  // namespace

bool StartLightSourceAnalysis(const LightSourceAnalysisSetup& setup, LightSourceAnalysis** analysis) {
  if (analysis != nullptr) *analysis = nullptr;
  if (analysis == nullptr || setup.hostImage == nullptr || setup.convertToLinearWorking == nullptr ||
      setup.table.preallocate == nullptr || setup.table.addList == nullptr || setup.table.normalizeAndRank == nullptr) {
    REPORT_DEBUG("Could not initiate light source table initialization");
    if (setup.resultCode != nullptr) setup.resultCode->store(STATUS_FAILURE_REPORTED);
    return false;
  }
  // Everything that may fail on first use comes before the run exists.
  const int32_t workers = std::clamp(setup.workerCount > 0 ? setup.workerCount : GetWorkerThreadCount(), 1,
                                     static_cast<int>(ANALYSIS_TASK_COUNT));
  LightSourceAnalysis* run = new (std::nothrow) LightSourceAnalysis;
  if (run == nullptr) {
    REPORT_SYSTEM_ERROR(0, "Could not create the data initialization complete event.");
    if (setup.resultCode != nullptr) setup.resultCode->store(STATUS_OUT_OF_MEMORY);
    return false;
  }
  run->setup = setup;
  run->context.resultCode = setup.resultCode != nullptr ? setup.resultCode : &run->ownResultCode;
  run->context.stopFlags = setup.stopFlags != nullptr ? setup.stopFlags : &run->ownStopFlags;
  run->context.scale = 1.0;
  run->workerCount = workers;
  if (setup.table.release != nullptr) setup.table.release(setup.table.table);
  run->context.stopFlags->stop = false;
  run->context.stopFlags->stopAll = false;
  try {
    run->thread = std::thread(RunAnalysisThread, run);
  } catch (const std::system_error& e) {
    REPORT_SYSTEM_ERROR(static_cast<uint32_t>(e.code().value()),
                        "Could not initiate light source table initialization");
    run->context.resultCode->store(STATUS_FAILURE_REPORTED);
    delete run;
    return false;
  } catch (const std::bad_alloc&) {
    REPORT_DEBUG("Could not initiate light source table initialization: out of memory.");
    run->context.resultCode->store(STATUS_OUT_OF_MEMORY);
    delete run;
    return false;
  }
  *analysis = run;
  return true;
}

void RequestLightSourceAnalysisStop(LightSourceAnalysis* analysis) {
  if (analysis == nullptr) return;
  analysis->context.stopFlags->stop = true;
  analysis->context.stopFlags->stopAll = true;
}

bool WaitForLightSourceAnalysis(LightSourceAnalysis* analysis, int32_t milliseconds) {
  if (analysis == nullptr) return true;
  if (milliseconds < 0) {
    analysis->complete.Wait();
    return true;
  }
  return analysis->complete.WaitFor(std::chrono::milliseconds(milliseconds));
}

LightSourceAnalysisProgress GetLightSourceAnalysisProgress(const LightSourceAnalysis* analysis) {
  if (analysis == nullptr) return LightSourceAnalysisProgress{1, 1};
  const int32_t total = std::max(analysis->context.totalRows.load(), 1);
  const int32_t done = std::clamp(analysis->context.rowsDone.load(), 0, total);
  return LightSourceAnalysisProgress{done, total};
}

LightSourceAnalysisTimings GetLightSourceAnalysisTimings(const LightSourceAnalysis* analysis) {
  return analysis != nullptr ? analysis->timings : LightSourceAnalysisTimings{};
}

void ReleaseLightSourceAnalysis(LightSourceAnalysis** analysis) {
  if (analysis == nullptr || *analysis == nullptr) return;
  LightSourceAnalysis* run = *analysis;
  RequestLightSourceAnalysisStop(run);
  run->complete.Wait();
  if (run->thread.joinable()) run->thread.join();
  if (run->setup.table.release != nullptr) run->setup.table.release(run->setup.table.table);
  // With the run gone nothing is left to stop, and the table's own routines
  // must not find the owner's flags set.
  run->context.stopFlags->stop = false;
  run->context.stopFlags->stopAll = false;
  delete run;
  *analysis = nullptr;
}
