#include "ui/dialog_layout_rules.h"

#include <algorithm>
#include <cstdlib>

LayoutRule MainDialogLayoutRule(int32_t controlId) {
  switch (controlId) {
    case 1043: case 1044: case 1123: case 1169: case 1170: case 1171: case 1184: case 1185:
      return {LAYOUT_NONE, LAYOUT_NONE};  // tool buttons and their labels
    case 1040: case 1049:
      return {LAYOUT_NONE, LAYOUT_BOTH};  // the proxy and its frame
    case 1028:
      return {LAYOUT_HORIZONTAL, LAYOUT_BOTH};  // vertical scroll bar
    case 1030:
      return {LAYOUT_VERTICAL, LAYOUT_BOTH};  // horizontal scroll bar
    case 1031: case 1042: case 1045: case 1082: case 1085: case 1087:
      return {LAYOUT_VERTICAL, LAYOUT_VERTICAL};  // progress bar, zoom controls, maker logo
    case 1002: case 1083: case 1191:
      return {LAYOUT_BOTH, LAYOUT_BOTH};  // Preview, size grip, Configure
    default:
      return {LAYOUT_HORIZONTAL, LAYOUT_HORIZONTAL};  // the settings panel
  }
}

ImageRect RepositionRect(const ImageRect& initial, const LayoutRule& rule, int32_t dx, int32_t dy) {
  if (rule.move < 0 || rule.move > 3 || rule.follow < 0 || rule.follow > 3) return initial;
  ImageRect r = initial;
  if ((rule.follow & LAYOUT_HORIZONTAL) != 0) {
    if ((rule.move & LAYOUT_HORIZONTAL) != 0) r.left += dx;
    r.right += dx;
  }
  if ((rule.follow & LAYOUT_VERTICAL) != 0) {
    if ((rule.move & LAYOUT_VERTICAL) != 0) r.top += dy;
    r.bottom += dy;
  }
  if (r.right < r.left) r.left = r.right;
  if (r.bottom < r.top) r.top = r.bottom;
  return r;
}

ImageRect PlaceDialogRect(const ImageRect& saved, const ImageRect& virtualScreen, const ImageRect& monitor,
                          int32_t initialWidth, int32_t initialHeight) {
  const int32_t width = std::abs(saved.right - saved.left), height = std::abs(saved.bottom - saved.top);
  if (saved.left >= virtualScreen.left && saved.top >= virtualScreen.top && saved.left + width <= virtualScreen.right &&
      saved.top + height <= virtualScreen.bottom)
    return ImageRect{saved.left, saved.top, saved.left + width, saved.top + height};
  const int32_t monitorWidth = monitor.right - monitor.left, monitorHeight = monitor.bottom - monitor.top;
  int32_t w = width, h = height;
  if (monitorWidth < w) w = std::max(monitorWidth - 1, initialWidth);
  if (monitorHeight < h) h = std::max(monitorHeight - 1, initialHeight);
  const int32_t left = monitor.left + std::max(0, (monitorWidth - w) / 2);
  const int32_t top = monitor.top + std::max(0, (monitorHeight - h) / 2);
  return ImageRect{left, top, left + w, top + h};
}
