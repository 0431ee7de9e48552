#include "host/phase_timings.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

const char* const PHASE_NAMES[PHASE_COUNT] = {"read", "analysis", "rendering", "conversion and blend", "write-back"};

}  // namespace

void RecordPhaseTime(PhaseTimings* timings, RunPhase phase, double milliseconds) {
  if (timings == nullptr || phase < 0 || phase >= PHASE_COUNT) return;
  if (!timings->measured[phase] || milliseconds > timings->milliseconds[phase])
    timings->milliseconds[phase] = milliseconds;
  timings->measured[phase] = true;
}

double MillisecondsSince(PhaseClock::time_point start) {
  return std::chrono::duration<double, std::milli>(PhaseClock::now() - start).count();
}

void WritePhaseTimings(const PhaseTimings& timings) {
  std::string path;
  // Part of every run's clean-up: a diagnostic that cannot be had (no memory
  // for the path) is left out rather than thrown at the clean-up.
  try {
    if (!PlatformEnvironmentVariable("GLIMMARK_PHASE_TIMES", &path) || path.empty()) return;
  } catch (...) {
    return;
  }
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return;
  for (int i = 0; i < PHASE_COUNT; ++i) {
    if (timings.measured[i]) std::fprintf(file, "%s\t%.1f\n", PHASE_NAMES[i], timings.milliseconds[i]);
  }
  std::fclose(file);
}
