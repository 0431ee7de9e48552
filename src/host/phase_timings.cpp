#include "host/phase_timings.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/platform.h"

namespace {

const char* const PHASE_NAMES[PHASE_COUNT] = {"read", "analysis", "rendering", "conversion and blend", "write-back"};

std::mutex g_lock;
double g_times[PHASE_COUNT];
bool g_measured[PHASE_COUNT];

}  // namespace

void ResetPhaseTimings() {
  std::lock_guard<std::mutex> guard(g_lock);
  for (int i = 0; i < PHASE_COUNT; ++i) {
    g_times[i] = 0.0;
    g_measured[i] = false;
  }
}

void RecordPhaseTime(RunPhase phase, double milliseconds) {
  if (phase < 0 || phase >= PHASE_COUNT) return;
  std::lock_guard<std::mutex> guard(g_lock);
  if (!g_measured[phase] || milliseconds > g_times[phase]) g_times[phase] = milliseconds;
  g_measured[phase] = true;
}

double MillisecondsSince(PhaseClock::time_point start) {
  return std::chrono::duration<double, std::milli>(PhaseClock::now() - start).count();
}

void WritePhaseTimings() {
  std::string path;
  if (!PlatformEnvironmentVariable("GLIMMARK_PHASE_TIMES", &path) || path.empty()) return;
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) return;
  std::lock_guard<std::mutex> guard(g_lock);
  for (int i = 0; i < PHASE_COUNT; ++i) {
    if (g_measured[i]) std::fprintf(file, "%s\t%.1f\n", PHASE_NAMES[i], g_times[i]);
  }
  std::fclose(file);
}
