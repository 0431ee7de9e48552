#pragma once
// The Light Source Table: the one ranked list of highlights of the current
// image. The analysis merges its per-thread lists into it, then normalises
// and ranks it once; afterwards only the entries' states and the change
// counter change (preview tools), until the filter run frees it.
//
// Threads: merging and ranking run on the analysis thread before its
// completion event is set; readers start after that event. State edits
// come from the dialog's thread; the change counter is atomic so that the
// preview thread can compare it without locking.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "analysis/light_source.h"

// The one table of a filter run: the merged, ranked highlights, the change
// counter that hide and show edits raise (renderers compare it without
// locking), and where the text listing has got to. Zero-initialise it; the
// run that owns it releases it.
struct MasterLightSourceTable {
  const AnalysisStopFlags* stopFlags = nullptr;  // the run's; merging and ranking stop when set
  // The list's own changeCounter field stays 0: C++17 has no atomic view of
  // a plain int32, and the preview thread compares the counter while the
  // dialog's thread edits states. This atomic is the one counter.
  LightSourceList list{};
  std::atomic<int32_t> changeCounter{0};
  uint32_t nextLine = 0;  // next entry of the text listing (dialog thread only)
};

// Operations on states.
enum LightSourceOperation : int32_t {
  LIGHT_SOURCE_HIDE = 0,
  LIGHT_SOURCE_UNHIDE = 1,
  LIGHT_SOURCE_FORCE = 2,
  LIGHT_SOURCE_UNFORCE = 3,
};

// Left and top inclusive, right and bottom exclusive; host pixels.
struct LightSourceRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

// The master table. Its change counter is read with GetLightSourceChangeCounter.
const LightSourceList& GetMasterLightSourceTable(const MasterLightSourceTable* table);

// Grows the master buffer to `count` records. 0 or the allocator's status;
// the caller reports the failure.
int16_t PreallocateMasterLightSourceTable(MasterLightSourceTable* table, uint32_t count);

// Merges one per-thread list (sorted by y ascending) whose section starts at
// row `sectionTop` (host coordinates); highlights seen by both neighbouring
// sections become one entry.
void AddLightSourceTableToTable(MasterLightSourceTable* table, int32_t sectionTop, const LightSourceList& list);

// After the last merge: colours normalised to the brightest shown channel,
// brightness computed, entries sorted by brightness, brightest first.
void NormalizeAndRankLightSources(MasterLightSourceTable* table);

// Frees the master table and empties it (end of a filter run).
void ReleaseMasterLightSourceTable(MasterLightSourceTable* table);

// State edits; each that touches an entry increments the change counter.
bool SetLightSourceStateInRect(MasterLightSourceTable* table, const LightSourceRect& rect,
                               LightSourceOperation operation);
// Nearest entry to (px, py) within the pick distance for the preview's zoom
// (percent); always counts as a change.
bool SetStateOfNearestLightSource(MasterLightSourceTable* table, int32_t px, int32_t py, LightSourceOperation operation,
                                  double zoomPercent);
int32_t GetLightSourceChangeCounter(const MasterLightSourceTable* table);

// The table as text: the header line when `restart` is true, then one line
// per entry on each later call; false when no line is left. Lines are at
// most 256 bytes including the terminator.
bool GetLightSourceTableLine(MasterLightSourceTable* table, bool restart, char* text, size_t size);

// Tests: empties the table without freeing, or replaces its contents.
void SetMasterLightSourceTableEntries(MasterLightSourceTable* table, const LightSourceRecord* records, uint32_t count);
