#pragma once
// The full-size rendering of a filter run: every light source's star drawn
// in software, band by band on worker threads, and merged into the host
// image copy. The caller writes the copy back to the host afterwards.
//
// UI thread only (workers are started and waited for here). Failures are
// reported and stored as the selector's status; a cancel through the host's
// progress becomes -128 and leaves the copy to be discarded.

#include "analysis/light_source.h"
#include "host/filter_run.h"
#include "params/rendering_parameters.h"

// Draws the effects of `parameters` for the lights of `table` into the run's
// host image copy with `threadCount` bands (1 to 24), using the run's shapes
// and precision. The UI thread's wait serves the bands' host progress; a
// cancel seen there stops them. False with the status stored in *run.status.
bool RenderEffectsIntoImage(FilterRun* run, const RenderingParameters& parameters, const LightSourceList& table,
                            int threadCount);

// Builds the tables the software shapes use (a run without a preview).
void InitializeEffectTablesWithoutPreview();
// Frees the run's software shapes; safe when there are none.
void ReleaseEffectShapeCaches(FilterRun* run);
