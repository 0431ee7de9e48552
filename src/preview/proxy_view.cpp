#include "preview/proxy_view.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

const double PROXY_ZOOM_LEVELS[PROXY_ZOOM_LEVEL_COUNT] = {0.3,   0.5,   1.0,   2.5,  6.25, 12.5, 25,
                                                          33.33, 50,    66.67, 100,  200,  300,  400,
                                                          600,   800,   1000,  1200, 1600, 3200, 6400};

namespace {

int32_t Width(const ImageRect& r) { return r.right - r.left; }
int32_t Height(const ImageRect& r) { return r.bottom - r.top; }

// The client less its one-pixel frame.
int32_t VisibleWidth(const ProxyViewState& view) { return std::max(0, Width(view.client) - 2); }
int32_t VisibleHeight(const ProxyViewState& view) { return std::max(0, Height(view.client) - 2); }

// One axis of the centre: a narrower image is centred, a wider one keeps
// the view inside it (the lower bound first).
double ClampCentre(double centre, int32_t imageLow, int32_t imageHigh, int32_t visible) {
  const int32_t extent = imageHigh - imageLow;
  const double margin = extent < visible ? (visible - extent) / 2.0 : 0.0;
  centre = std::max(centre, imageLow - margin + visible / 2.0);
  centre = std::min(centre, margin + imageHigh - visible / 2.0);
  return centre;
}

// The last position of a bar: its maximum is the last pixel (inclusive), so
// the page may start at maximum - page + 1 and still end on that pixel.
int64_t HighestPosition(const ProxyScrollBar& bar) {
  return std::max<int64_t>(bar.minimum, static_cast<int64_t>(bar.maximum) - bar.page + 1);
}

ImageRect Intersect(const ImageRect& a, const ImageRect& b) {
  ImageRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

}  // namespace

ImageRect ScaledImageBounds(const ProxyViewState& view) {
  const double scale = view.zoom / 100.0;
  const ImageRect& b = view.imageBounds;
  return ImageRect{static_cast<int32_t>(b.left * scale), static_cast<int32_t>(b.top * scale),
                   static_cast<int32_t>(b.right * scale), static_cast<int32_t>(b.bottom * scale)};
}

double ClampZoom(double zoom) {
  if (!(zoom > PROXY_MIN_ZOOM)) return PROXY_MIN_ZOOM;  // NaN too
  return std::min(zoom, PROXY_MAX_ZOOM);
}

void SetViewCentre(ProxyViewState* view, double x, double y, double zoom) {
  zoom = ClampZoom(zoom);
  double cx = x, cy = y;
  if (x == -1 && y == -1) {
    cx = view->centreX;
    cy = view->centreY;
  }
  if (zoom != view->zoom) {
    cx *= zoom / view->zoom;
    cy *= zoom / view->zoom;
  }
  view->zoom = zoom;
  const ImageRect image = ScaledImageBounds(*view);
  const int32_t w = VisibleWidth(*view), h = VisibleHeight(*view);
  view->centreX = ClampCentre(cx, image.left, image.right, w);
  view->centreY = ClampCentre(cy, image.top, image.bottom, h);
  const int32_t left = static_cast<int32_t>(std::floor(view->centreX)) - w / 2;
  const int32_t top = static_cast<int32_t>(std::floor(view->centreY)) - h / 2;
  view->visible = ImageRect{left, top, left + w, top + h};
  const ImageRect shown = Intersect(view->visible, image);
  // Client coordinates: the visible rectangle starts inside the frame.
  const int32_t dx = view->client.left + 1 - left, dy = view->client.top + 1 - top;
  view->imageOnScreen = ImageRect{shown.left + dx, shown.top + dy, shown.right + dx, shown.bottom + dy};
}

double ZoomInLevel(double zoom, int count) {
  int i = 0;
  while (i < PROXY_ZOOM_LEVEL_COUNT && !(PROXY_ZOOM_LEVELS[i] > zoom)) ++i;
  if (i == PROXY_ZOOM_LEVEL_COUNT) i = PROXY_ZOOM_LEVEL_COUNT - 1;
  i = std::min(PROXY_ZOOM_LEVEL_COUNT - 1, i + std::max(count, 1) - 1);
  return PROXY_ZOOM_LEVELS[i];
}

double ZoomOutLevel(double zoom, int count) {
  int i = 0;
  if (zoom > PROXY_ZOOM_LEVELS[1]) {
    i = PROXY_ZOOM_LEVEL_COUNT - 1;
    while (i > 0 && !(PROXY_ZOOM_LEVELS[i] < zoom)) --i;
  }
  i = std::max(0, i - (std::max(count, 1) - 1));
  return PROXY_ZOOM_LEVELS[i];
}

double FitInViewZoom(const ProxyViewState& view) {
  const int32_t w = VisibleWidth(view), h = VisibleHeight(view);
  const int32_t iw = Width(view.imageBounds), ih = Height(view.imageBounds);
  // A view or an image without size keeps the zoom it has.
  if (w <= 0 || h <= 0 || iw <= 0 || ih <= 0) return view.zoom;
  return ClampZoom(100.0 * std::min(static_cast<double>(w) / iw, static_cast<double>(h) / ih));
}

void ClientToScaledPoint(const ProxyViewState& view, int32_t x, int32_t y, double* scaledX, double* scaledY) {
  const ImageRect image = ScaledImageBounds(view);
  const double sx = view.visible.left + (x - view.client.left - 1);
  const double sy = view.visible.top + (y - view.client.top - 1);
  *scaledX = std::clamp(sx, static_cast<double>(image.left), static_cast<double>(image.right));
  *scaledY = std::clamp(sy, static_cast<double>(image.top), static_cast<double>(image.bottom));
}

void ClientToImagePixel(const ProxyViewState& view, int32_t x, int32_t y, double* imageX, double* imageY) {
  ClientToScaledPoint(view, x, y, imageX, imageY);
  *imageX /= view.zoom / 100.0;
  *imageY /= view.zoom / 100.0;
}

bool ZoomToRectangle(const ProxyViewState& view, int32_t x1, int32_t y1, int32_t x2, int32_t y2, double* zoom,
                     double* centreX, double* centreY) {
  ImageRect r{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
  const bool fills = Width(view.imageOnScreen) == Width(view.visible) && Height(view.imageOnScreen) == Height(view.visible);
  if (!fills) r = Intersect(r, view.imageOnScreen);
  double left, top, right, bottom;
  ClientToScaledPoint(view, r.left, r.top, &left, &top);
  ClientToScaledPoint(view, r.right, r.bottom, &right, &bottom);
  const double rw = right - left, rh = bottom - top;
  if (!(rw > 0) || !(rh > 0)) return false;
  const double w = VisibleWidth(view), h = VisibleHeight(view);
  *zoom = ClampZoom(std::min(w / (rw / view.zoom), h / (rh / view.zoom)));
  *centreX = (left + right) / 2;
  *centreY = (top + bottom) / 2;
  return true;
}

void ComputeScrollBars(const ProxyViewState& view, ProxyScrollBar* horizontal, ProxyScrollBar* vertical) {
  const ImageRect image = ScaledImageBounds(view);
  const int32_t w = Width(view.visible), h = Height(view.visible);
  *horizontal = w < Width(image) ? ProxyScrollBar{image.left, image.right - 1, w, view.visible.left, true}
                                 : ProxyScrollBar{0, 0, 0, 0, false};
  *vertical = h < Height(image) ? ProxyScrollBar{image.top, image.bottom - 1, h, view.visible.top, true}
                                : ProxyScrollBar{0, 0, 0, 0, false};
}

int32_t ScrollBarPosition(const ProxyScrollBar& bar, int32_t code, int32_t track) {
  if (!bar.active || bar.minimum >= bar.maximum) return bar.position;
  int64_t p = bar.position;
  switch (code) {
    case SCROLL_LINE_UP: p -= 1; break;
    case SCROLL_LINE_DOWN: p += 1; break;
    case SCROLL_PAGE_UP: p -= bar.page; break;
    case SCROLL_PAGE_DOWN: p += bar.page; break;
    case SCROLL_THUMB_POSITION:
    case SCROLL_THUMB_TRACK: p = track; break;
    case SCROLL_TOP: p = bar.minimum; break;
    case SCROLL_BOTTOM: p = bar.maximum; break;
    default: return bar.position;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(p, bar.minimum, HighestPosition(bar)));
}

bool ScrollViewBy(ProxyViewState* view, int32_t dx, int32_t dy) {
  ProxyScrollBar h, v;
  ComputeScrollBars(*view, &h, &v);
  const int64_t highX = HighestPosition(h);
  const int64_t highY = HighestPosition(v);
  const int32_t x = h.active ? static_cast<int32_t>(std::clamp<int64_t>(int64_t{h.position} + dx, h.minimum, highX))
                             : h.position;
  const int32_t y = v.active ? static_cast<int32_t>(std::clamp<int64_t>(int64_t{v.position} + dy, v.minimum, highY))
                             : v.position;
  if (x == h.position && y == v.position) return false;
  const double cx = h.active ? x + Width(view->visible) / 2 : view->centreX;
  const double cy = v.active ? y + Height(view->visible) / 2 : view->centreY;
  SetViewCentre(view, cx, cy, view->zoom);
  return true;
}

int32_t WheelNotches(ProxyViewState* view, int32_t delta) {
  const int64_t total = static_cast<int64_t>(view->wheelRemainder) - delta;
  const int64_t notches = total / 120;
  view->wheelRemainder = static_cast<int32_t>(total - notches * 120);
  return static_cast<int32_t>(notches);
}

std::string ZoomFieldText(double zoom) {
  char text[32];
  std::snprintf(text, sizeof text, " %-3.2f%%", zoom);
  return text;
}

ProxyNavigation NavigationForKey(ProxyKey key, bool ctrl, bool shift, int32_t repeat) {
  const int32_t r = repeat < 1 ? 1 : repeat;
  const int32_t step = ctrl ? 10 * r : r;
  ProxyNavigation n;
  switch (key) {
    case KEY_LEFT: n.kind = ProxyNavigation::SCROLL; n.dx = -step; break;
    case KEY_RIGHT: n.kind = ProxyNavigation::SCROLL; n.dx = step; break;
    case KEY_UP: n.kind = ProxyNavigation::SCROLL; n.dy = -step; break;
    case KEY_DOWN: n.kind = ProxyNavigation::SCROLL; n.dy = step; break;
    case KEY_PAGE_UP:
    case KEY_PAGE_DOWN: {
      const int32_t sign = key == KEY_PAGE_UP ? -1 : 1;
      if (shift) {
        n.kind = ProxyNavigation::SCROLL;
        (ctrl ? n.dx : n.dy) = sign * 10 * r;
      } else {
        n.kind = ProxyNavigation::PAGE;
        (ctrl ? n.dx : n.dy) = sign * r;
      }
      break;
    }
    case KEY_HOME: n.kind = ProxyNavigation::HOME; break;
    case KEY_END: n.kind = ProxyNavigation::END; break;
  }
  return n;
}

ProxyNavigation NavigationForWheel(int32_t notches, bool alt, bool ctrl, bool shift, double zoom) {
  ProxyNavigation n;
  if (notches == 0) return n;
  if (alt) {
    if (shift) {
      n.kind = ProxyNavigation::ZOOM_STEPS;
      n.steps = notches;
    } else {
      n.kind = ProxyNavigation::ZOOM_TO;
      n.zoom = ClampZoom(zoom * std::pow(1.1, -notches));
    }
    return n;
  }
  if (shift) {
    n.kind = ProxyNavigation::PAGE;
    (ctrl ? n.dx : n.dy) = notches < 0 ? -1 : 1;
  } else {
    n.kind = ProxyNavigation::SCROLL;
    (ctrl ? n.dx : n.dy) = 10 * notches;
  }
  return n;
}

bool ApplyNavigation(ProxyViewState* view, const ProxyNavigation& n) {
  constexpr int32_t FAR = 1 << 30;  // beyond any scaled image
  switch (n.kind) {
    case ProxyNavigation::SCROLL:
      return ScrollViewBy(view, n.dx, n.dy);
    case ProxyNavigation::PAGE: {
      ProxyScrollBar h, v;
      ComputeScrollBars(*view, &h, &v);
      return ScrollViewBy(view, n.dx * h.page, n.dy * v.page);
    }
    case ProxyNavigation::HOME:
      return ScrollViewBy(view, -FAR, -FAR);
    case ProxyNavigation::END:
      return ScrollViewBy(view, FAR, FAR);
    case ProxyNavigation::ZOOM_TO:
    case ProxyNavigation::ZOOM_STEPS: {
      const double before = view->zoom;
      const double zoom = n.kind == ProxyNavigation::ZOOM_TO
                              ? n.zoom
                              : (n.steps < 0 ? ZoomInLevel(view->zoom, -n.steps) : ZoomOutLevel(view->zoom, n.steps));
      SetViewCentre(view, -1, -1, zoom);
      return view->zoom != before;
    }
    default:
      return false;
  }
}
