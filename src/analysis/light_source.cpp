#include "analysis/light_source.h"

namespace {
AnalysisStopFlags g_stopFlags;
}  // namespace


AnalysisStopFlags& GetAnalysisStopFlags() { return g_stopFlags; }
