#pragma once
// The times of a run's phases: those the module measures itself (a file of
// "name<TAB>milliseconds" lines named by GLIMMARK_PHASE_TIMES), and a split
// the host can make on its own from when it served image data.
#include <string>
#include <vector>

#include "hostkit/host.h"

namespace glimmark {

constexpr char kPhaseTimesVariable[] = "GLIMMARK_PHASE_TIMES";

struct PhaseTime {
  std::string name;
  double milliseconds;
};

// Well-formed lines only: a printable name of up to 64 characters, a tab, a
// finite non-negative number (a trailing CR is tolerated). Anything else is
// skipped; at most 64 phases.
std::vector<PhaseTime> ParsePhaseTimes(const std::string& text);
// The file's phases; empty when it is missing, empty or unreadable.
std::vector<PhaseTime> ReadPhaseTimes(const std::string& path);

// The host's view from advanceState: from the first input delivery to the
// end of the last one before any output was handed out; from then to the
// first output delivery; from there to the end of the last advanceState
// call. Empty when the module asked for no input or no output.
std::vector<PhaseTime> HostSideSplit(const std::vector<hostkit::AdvanceStateCall>& calls);

}  // namespace glimmark
