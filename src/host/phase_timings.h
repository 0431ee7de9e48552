#pragma once
// Wall-clock times of the phases of one filter run, for people tuning the
// plug-in: when the environment variable GLIMMARK_PHASE_TIMES names a file,
// Start writes one line per measured phase into it ("name<TAB>ms").
#include <chrono>

enum RunPhase : int {
  PHASE_READ = 0,
  PHASE_ANALYSIS,
  PHASE_RENDERING,
  PHASE_CONVERSION_AND_BLEND,
  PHASE_WRITE_BACK,
  PHASE_COUNT
};

using PhaseClock = std::chrono::steady_clock;

// The phases measured so far in one run; zero-initialised means none. Only
// the UI thread records (workers report their times through their records).
struct PhaseTimings {
  double milliseconds[PHASE_COUNT];
  bool measured[PHASE_COUNT];
};

// Sets a phase's time (the longest wins when it is recorded more than once).
void RecordPhaseTime(PhaseTimings* timings, RunPhase phase, double milliseconds);
double MillisecondsSince(PhaseClock::time_point start);
// Writes the measured phases when asked to by the environment; silent otherwise.
void WritePhaseTimings(const PhaseTimings& timings);
