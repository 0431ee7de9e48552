#pragma once
// The light source analysis of one filter run, as the Start selector drives
// it: started on its own thread once the host image copy is read, polled for
// progress while the dialog opens, stopped and released when the run ends.
//
//   LightSourceAnalysisSetup setup{};
//   setup.hostImage = &GetHostImageCopy().image;
//   setup.convertToLinearWorking = <the colour management's conversion>;
//   setup.resultCode = <the selector's status>;
//   setup.table = MasterLightSourceTableRoutines(&run.table);
//   LightSourceAnalysis* analysis = nullptr;
//   if (!StartLightSourceAnalysis(setup, &analysis)) ...  // reported, status -1715
//   ... GetLightSourceAnalysisProgress(analysis), WaitForLightSourceAnalysis(analysis, ms) ...
//   ReleaseLightSourceAnalysis(&analysis);                  // stops, waits, frees the table
//
// The analysis builds a linear image of at most 1800 rows from the host
// image copy, finds its brightest value, searches it for highlights on
// worker threads, hands their lists to the light source table, which merges,
// normalises and ranks them, and then sets its completion event, whatever
// happened before. Failures are reported where they happen and end up in the
// filter's result code (the first nonzero code wins; a stop is no failure).
//
// Results do not depend on the number of worker threads: the image is cut
// into the same sections whatever their number, and each section's search
// depends only on the image and on that section.
//
// Threads: Start, Release and Wait belong to the run's owner (the UI
// thread); progress and completion may be read from any thread. The host
// image copy must stay unchanged, and the table unread, until completion.
#include <atomic>
#include <cstdint>

#include "analysis/analysis_image.h"
#include "analysis/light_source_table.h"

// Where the analysis hands its per-section lists. The plug-in passes the
// master table's routines; tests may pass their own.
struct LightSourceTableRoutines {
  void* table;  // handed to every routine
  int16_t (*preallocate)(void* table, uint32_t count);
  void (*addList)(void* table, int32_t sectionTop, const LightSourceList& list);
  void (*normalizeAndRank)(void* table);
  void (*release)(void* table);  // empties the table: at the start and at the release of a run
};

// The routines that fill `table`, the filter run's master table.
inline LightSourceTableRoutines MasterLightSourceTableRoutines(MasterLightSourceTable* table) {
  return LightSourceTableRoutines{
      table,
      [](void* t, uint32_t count) {
        return PreallocateMasterLightSourceTable(static_cast<MasterLightSourceTable*>(t), count);
      },
      [](void* t, int32_t sectionTop, const LightSourceList& list) {
        AddLightSourceTableToTable(static_cast<MasterLightSourceTable*>(t), sectionTop, list);
      },
      [](void* t) { NormalizeAndRankLightSources(static_cast<MasterLightSourceTable*>(t)); },
      [](void* t) { ReleaseMasterLightSourceTable(static_cast<MasterLightSourceTable*>(t)); }};
}

struct LightSourceAnalysisSetup {
  const Image* hostImage;                         // the host image copy
  ConvertToLinearWorking convertToLinearWorking;  // to the linear working profile (gamma 1.0)
  std::atomic<int16_t>* resultCode;               // the filter's result code; null: the run's own
  LightSourceTableRoutines table;
  AnalysisStopFlags* stopFlags;  // the run owner's (the table polls them too); null: the analysis' own
  int32_t workerCount;  // 0: GetWorkerThreadCount()
};

struct LightSourceAnalysis;  // one run; opaque

// Empties the table, clears both stop flags and starts the analysis thread.
// False after reporting ("Could not create the data initialization complete
// event." or "Could not initiate light source table initialization") with
// the result code set to -1715; *analysis is then null.
bool StartLightSourceAnalysis(const LightSourceAnalysisSetup& setup, LightSourceAnalysis** analysis);

// Sets both stop flags of the run (its owner's, see the setup): every loop
// ends at its next poll and nothing is merged that was not merged yet.
void RequestLightSourceAnalysisStop(LightSourceAnalysis* analysis);

// Waits for the completion event: at most `milliseconds`, or without limit
// when it is negative. True once complete. A null analysis counts as
// complete.
bool WaitForLightSourceAnalysis(LightSourceAnalysis* analysis, int32_t milliseconds);

struct LightSourceAnalysisProgress {
  int32_t done;   // analysis rows searched (all of them once complete)
  int32_t total;  // analysis rows, at least 1
};
LightSourceAnalysisProgress GetLightSourceAnalysisProgress(const LightSourceAnalysis* analysis);

// Where the time went, in seconds, for diagnostics and benchmarks.
struct LightSourceAnalysisTimings {
  double reduction;   // creating and filling the analysis image
  double conversion;  // to linear light
  double pass1;       // the brightest value
  double pass2;       // the search
  double merge;       // handing the lists to the table, normalising, ranking
};
LightSourceAnalysisTimings GetLightSourceAnalysisTimings(const LightSourceAnalysis* analysis);

// Stops the analysis, waits for it without limit, empties the table, frees
// the run and clears the stop flags again; *analysis becomes null. Safe on
// null.
void ReleaseLightSourceAnalysis(LightSourceAnalysis** analysis);
