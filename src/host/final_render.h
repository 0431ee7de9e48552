#pragma once
// The full-size rendering of a filter run: every light source's star drawn
// in software, band by band on worker threads, and merged into the host
// image copy. The caller writes the copy back to the host afterwards.
//
// UI thread only (workers are started and waited for here). Failures are
// reported and stored as the selector's status; a cancel through the host's
// progress becomes -128 and leaves the copy to be discarded.

// Draws the current Parameter Set's effects into the host image copy with
// `threadCount` bands (1 to 24). False with the status stored.
bool RenderEffectsIntoImage(int threadCount);

// Builds the tables the software shapes use (a run without a preview).
void InitializeEffectTablesWithoutPreview();
// Frees the software shapes of the last rendering; safe when there are none.
void ReleaseEffectShapeCaches();
