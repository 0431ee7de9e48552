#include "analysis/light_source.h"

namespace {
std::atomic<bool> g_fractionExact{true};
AnalysisStopFlags g_stopFlags;
}  // namespace

void SetFractionPrecisionExact(bool exact) { g_fractionExact.store(exact, std::memory_order_relaxed); }
bool IsFractionPrecisionExact() { return g_fractionExact.load(std::memory_order_relaxed); }

AnalysisStopFlags& GetAnalysisStopFlags() { return g_stopFlags; }
