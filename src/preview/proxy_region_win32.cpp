#include <windows.h>

#include "preview/proxy_region.h"

RegionHandle CreateRectRegion(const ImageRect& rect) {
  return CreateRectRgn(rect.left, rect.top, rect.right, rect.bottom);
}

RegionHandle CreateEmptyRegion() { return CreateRectRgn(0, 0, 0, 0); }

bool UnionRegion(RegionHandle target, RegionHandle other) {
  if (target == nullptr) return false;
  if (other == nullptr) return true;
  return CombineRgn(static_cast<HRGN>(target), static_cast<HRGN>(target), static_cast<HRGN>(other), RGN_OR) != ERROR;
}

void DeleteRegion(RegionHandle region) {
  if (region != nullptr) DeleteObject(static_cast<HRGN>(region));
}

ImageRect RegionBounds(RegionHandle region) {
  RECT box{};
  if (region == nullptr || GetRgnBox(static_cast<HRGN>(region), &box) <= NULLREGION) return ImageRect{0, 0, 0, 0};
  return ImageRect{box.left, box.top, box.right, box.bottom};
}

bool RegionContains(RegionHandle region, int32_t x, int32_t y) {
  return region != nullptr && PtInRegion(static_cast<HRGN>(region), x, y) != FALSE;
}
