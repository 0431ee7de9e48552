#pragma once
// Highlight detection in one section of the analysis image: the two worker
// passes (the brightest value, then the search for highlights), the
// examination of one candidate pixel, and the task's list of highlights.
//
// A task's list holds analysis-image coordinates while the search runs, so
// that the overlap test and the matching of new highlights compare like with
// like; ConvertListToHostCoordinates turns it into host coordinates once the
// search is over, before the list is merged into the table.
#include <cstdint>

#include "analysis/analysis_task.h"

// Pass 1 (thread routine, argument: the task): the largest brightness of the
// section's pixels with alpha != 0 into task->sectionMaximum; 0 when the run
// was stopped or failed meanwhile.
uint32_t MeasureSectionMaximum(void* task);

// Pass 2 (thread routine, argument: the task): examines every selected,
// opaque pixel of the section that is within 70 % of the maximum brightness
// or has a channel at the maximum, counting rows done as it goes, then sorts
// the task's list by row.
uint32_t AnalyzeSection(void* task);

// Examines the candidate at (x, y); true when it added a highlight to the
// task's list or enlarged one already there.
bool ExtractLightSource(AnalyzeSectionTask* task, int32_t x, int32_t y);

// Adds a highlight to the task's list unless it falls inside one already
// shown there; a larger one replaces the position, size and colour of the
// one it matches. A list that cannot grow is reported once per run and
// takes no further highlights. True when the list changed.
bool AddLightSource(AnalyzeSectionTask* task, float radius, float squaredRadius, uint32_t red, uint32_t green,
                    uint32_t blue, const QuarterPoint& position);

// After the search, before the lists go to the table: every highlight moves
// to the list of the section whose rows hold its centre, joining a highlight
// there that it matches. The centring may lead a candidate far from its own
// section, and the table looks for highlights seen twice only near the rows
// where two sections meet. Sorted by row afterwards.
void GatherHighlightsBySection(AnalyzeSectionTask* tasks, int32_t count);

// How analysis pixels lie on the host image: the reduction averages, for
// analysis pixel i, the block of ceil(host / analysis) host pixels that
// starts at i x host / analysis (integer arithmetic, per axis).
struct AnalysisToHost {
  ImageRect host;      // the host image's pixels
  ImageRect analysis;  // the analysis image's pixels
  double scale;        // for sizes: analysis pixel to host pixel
};

// Maps one coordinate (pixel and quarters; `vertical` picks the axis) to the
// host pixel and quarter at the centre of what it stands for.
void AnalysisToHostCoordinate(const AnalysisToHost& mapping, bool vertical, int32_t pixel, int32_t quarter,
                              int32_t* hostPixel, int32_t* hostQuarter);

// Maps positions, radii and squared radii of the list from analysis pixels
// to host pixels and sorts it by row again.
void ConvertListToHostCoordinates(LightSourceList* list, const AnalysisToHost& mapping);
