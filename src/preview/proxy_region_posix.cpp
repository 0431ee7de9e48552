#include "preview/proxy_region.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

struct RectList {
  std::vector<ImageRect> rects;  // non-empty rectangles, possibly overlapping
};

bool Empty(const ImageRect& r) { return r.right <= r.left || r.bottom <= r.top; }

}  // namespace

RegionHandle CreateRectRegion(const ImageRect& rect) {
  auto* region = new (std::nothrow) RectList;
  if (region == nullptr) return nullptr;
  if (!Empty(rect)) region->rects.push_back(rect);
  return region;
}

RegionHandle CreateEmptyRegion() { return new (std::nothrow) RectList; }

bool UnionRegion(RegionHandle target, RegionHandle other) {
  if (target == nullptr) return false;
  if (other == nullptr) return true;
  auto* to = static_cast<RectList*>(target);
  const auto* from = static_cast<const RectList*>(other);
  try {
    to->rects.insert(to->rects.end(), from->rects.begin(), from->rects.end());
  } catch (...) {
    return false;
  }
  return true;
}

void DeleteRegion(RegionHandle region) { delete static_cast<RectList*>(region); }

ImageRect RegionBounds(RegionHandle region) {
  const auto* list = static_cast<const RectList*>(region);
  if (list == nullptr || list->rects.empty()) return ImageRect{0, 0, 0, 0};
  ImageRect bounds = list->rects.front();
  for (const ImageRect& r : list->rects) {
    bounds.left = std::min(bounds.left, r.left);
    bounds.top = std::min(bounds.top, r.top);
    bounds.right = std::max(bounds.right, r.right);
    bounds.bottom = std::max(bounds.bottom, r.bottom);
  }
  return bounds;
}

bool RegionContains(RegionHandle region, int32_t x, int32_t y) {
  const auto* list = static_cast<const RectList*>(region);
  if (list == nullptr) return false;
  return std::any_of(list->rects.begin(), list->rects.end(), [x, y](const ImageRect& r) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
  });
}
