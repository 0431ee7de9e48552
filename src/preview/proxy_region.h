#pragma once
// Invalidation regions of the preview window: what a render request must
// redraw. On Windows a region is a GDI region (HRGN) that travels through
// window messages as it is; natively a list of rectangles. Whoever holds a
// region last deletes it; every routine accepts a null region.
#include <cstdint>

#include "image/image.h"

using RegionHandle = void*;

// Null when the region cannot be made (reported by the caller).
RegionHandle CreateRectRegion(const ImageRect& rect);
RegionHandle CreateEmptyRegion();
// *target becomes the union of itself and `other` (other stays as it is).
// False when the union cannot be formed; *target is then unchanged.
bool UnionRegion(RegionHandle target, RegionHandle other);
void DeleteRegion(RegionHandle region);
// The smallest rectangle holding the region (all zero when it is empty).
ImageRect RegionBounds(RegionHandle region);
// Whether pixel (x, y) lies in the region.
bool RegionContains(RegionHandle region, int32_t x, int32_t y);
