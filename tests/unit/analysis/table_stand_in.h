#pragma once
// A private light source table for the analysis tests: merges, normalises
// and ranks the per-section lists the way the master table is meant to, so
// that whole analysis runs can be checked independently of the master table
// (and of its process-wide state), and the lists it is handed can be seen.
// Written from the table's description, not from its code.
#include <vector>

#include "analysis/light_source.h"
#include "analysis/light_source_analysis.h"

namespace standin {

LightSourceTableRoutines TableRoutines();

// The stop flags the stand-in polls, as a run's owner would hand them over.
AnalysisStopFlags& StopFlags();

// The table after the last run, in its ranked order.
std::vector<LightSourceRecord> Entries();

// How many lists the last run handed over, and their section tops.
std::vector<int32_t> SectionTops();

}  // namespace standin
