#pragma once
// Measuring one candidate highlight in the analysis image: the local-maximum
// and overlap tests, the centre, the edge distances in eight directions, the
// contrast of the edge against its surroundings, and the refinement of
// radius and centre with the task's disk and ring shapes. Large flat bright
// areas are taken out of the search as a side effect of measuring them.
//
// Positions are analysis-image pixels plus quarters. Directions always come
// in the order E, SE, S, SW, W, NW, N, NE with y growing downwards.
//
// Threads: every routine runs on the worker that searches `task` and uses
// that task's shapes, list and cleared map; the analysis image is only read.
#include <cstdint>

#include "analysis/analysis_task.h"

constexpr int32_t EDGE_MAXIMUM_STEPS = 201;
constexpr float NO_EDGE = -1.0f;

struct MeanAndDeviation {
  float mean;
  float deviation;
};

// Local maximum (ties allowed), outside every highlight of the task's list,
// then moved to the highlight's centre pixel (at most 12 steps). False
// rejects the candidate. (x, y) may have moved either way.
bool LocateLightSourceCentre(AnalyzeSectionTask* task, int32_t* x, int32_t* y);

// Edge distance of the highlight around (x, y) in each direction. A ray that
// leaves the image gives NO_EDGE for its direction only. A ray that runs its
// whole length without an edge and without a marked change of colour has
// found a large flat area: the area is cleared (ClearFlatRegion) and every
// direction is NO_EDGE.
EdgeDistances MeasureEdgeDistances(AnalyzeSectionTask* task, int32_t x, int32_t y);

// Mean and deviation of the known (>= 0) distances. With a limit > 0, known
// entries further than the limit from their mean are replaced by that mean,
// and the result describes the entries kept. (-1, -1) when none is known.
MeanAndDeviation RobustMeanAndDeviation(EdgeDistances* d, float limit);

// The centre implied by the distances measured at (x, y), in quarter pixels.
// False when the east or west side, or the north or south side, has no
// known distance.
bool CentreFromEdgeDistances(const EdgeDistances& d, int32_t x, int32_t y, QuarterPoint* centre);

// Whether the ring just inside radius R is bright enough against the rings
// outside it. False also when a ring cannot be measured or c lies outside.
bool EdgeContrastSufficient(AnalyzeSectionTask* task, float radius, const QuarterPoint& centre);

// Moves the centre to a whole pixel, then alternates AdjustRadius and
// AdjustCentre until neither changes anything. False when that takes too
// long for a radius above 8 pixels, and when the radius grew until its
// background ring no longer exists (a bright field, not a highlight).
bool RefineRadiusAndCentre(AnalyzeSectionTask* task, QuarterPoint* centre, float* radius);
// Grows or shrinks the radius in 1/8-pixel steps (at most 6) until the ring
// at the radius lies between 55 % and 73 % of the way from the background to
// the core. True when the radius changed.
bool AdjustRadius(AnalyzeSectionTask* task, const QuarterPoint& centre, float* radius);
// Moves the centre by whole pixels (at most 4) towards the best-scoring
// placement of the ring at the radius. True when it moved.
bool AdjustCentre(AnalyzeSectionTask* task, QuarterPoint* centre, float radius);

// After RefineRadiusAndCentre: moves the whole-pixel centre to the quarter
// pixel nearest the brightness centroid of the highlight (brightness above
// the level just outside it, within a few pixels beyond its radius), by at
// most half a pixel each way. False when nothing could be measured; c is then
// left as it was.
bool RefineCentreToQuarters(AnalyzeSectionTask* task, QuarterPoint* centre, float radius);

// Takes the 4-connected area of colours within 1/8 of p0's around (x, y),
// within the task's section and selection, out of the task's search (its
// cleared map; the image is not written). False when memory for the fill ran
// out: reported, the filter's result code set, the fill ends early.
bool ClearFlatRegion(AnalyzeSectionTask* task, const PixelValue& p0, int32_t x, int32_t y);
