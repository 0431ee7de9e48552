#pragma once
// Everything one filter run owns, from the start of the Start selector to its
// clean-up. Start creates the record on its own stack and hands it, or the
// parts a routine needs, down: nothing below reaches for a run's state
// through a global, so a preview renderer can run beside the analysis and a
// final rendering without sharing anything but what it is handed.
#include <atomic>
#include <cstdint>

#include "analysis/light_source_analysis.h"
#include "analysis/light_source_table.h"
#include "color/blend.h"
#include "color/color_management.h"
#include "effects/effect_drawing.h"
#include "host/host_image.h"
#include "host/phase_timings.h"
#include "params/parameter_set.h"

struct FilterRun {
  // What the host handed over for this call: the locked Parameter Set and
  // the selector's status (the host's result slot).
  ParameterSet* parameters = nullptr;
  int16_t* status = nullptr;

  HostImageCopy copy{};    // the filter rectangle in memory
  HostProxyImage proxy{};  // the preview's scaled copies (built by the preview)

  // The light source analysis, running beside the selector from the moment
  // the image is read; its workers see the selector's status through this
  // copy, and a failure of theirs comes back at the end.
  MasterLightSourceTable table;  // what the analysis finds; the tools edit its states
  AnalysisStopFlags stopFlags;   // set when the run ends or is cancelled
  LightSourceAnalysis* analysis = nullptr;
  std::atomic<int16_t> analysisStatus{0};
  PhaseClock::time_point analysisStart{};

  PhaseTimings timings{};  // for people tuning the plug-in

  // The software effect shapes of the final rendering.
  EffectShapes shapes{};
  bool shapesSet = false;

  // The profile the effects are drawn in (colour management's working
  // profile, open for the whole run), and the arithmetic in force for this
  // run's final rendering.
  ColorProfileHandle workingProfile = nullptr;
  BlendPrecision blendPrecision = BLEND_PRECISE;
};
