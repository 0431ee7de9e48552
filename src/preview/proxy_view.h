#pragma once
// Where the preview looks: its zoom (0.3 to 6400 percent) and the view
// centre in pixels of the image scaled to that zoom, and every rule that
// changes them — zoom steps over a fixed list of levels, fit in view, zoom to
// a dragged rectangle, scrolling by bars, keys and wheel. Pure geometry: the
// window side applies the results and asks for a new frame.
//
// Threads: the UI thread owns the state.
#include <cstdint>
#include <string>

#include "image/image.h"

constexpr double PROXY_MIN_ZOOM = 0.3;
constexpr double PROXY_MAX_ZOOM = 6400.0;
constexpr int PROXY_ZOOM_LEVEL_COUNT = 21;
extern const double PROXY_ZOOM_LEVELS[PROXY_ZOOM_LEVEL_COUNT];

struct ProxyViewState {
  double zoom = 100.0;  // percent
  double centreX = 0;   // in pixels of the image scaled to the zoom
  double centreY = 0;
  ImageRect client{};       // the preview window's client rectangle
  ImageRect imageBounds{};  // the host image's bounds (the filter rectangle)
  // Derived by SetViewCentre: the client less its one-pixel frame placed in
  // scaled-image coordinates around the centre, and the part of it the image
  // covers, in client coordinates.
  ImageRect visible{};
  ImageRect imageOnScreen{};
  int32_t wheelRemainder = 0;  // wheel delta short of a whole notch
};

// The host image bounds scaled to the zoom.
ImageRect ScaledImageBounds(const ProxyViewState& view);

// Moves the centre to (x, y) — (-1, -1): the current centre, scaled when the
// zoom changes — at `zoom`, keeps a narrower image centred and a wider one
// filling the view, and derives the rectangles. No redraw.
void SetViewCentre(ProxyViewState* view, double x, double y, double zoom);

// The zoom `count` levels in or out from `zoom`, within the level list.
double ZoomInLevel(double zoom, int count);
double ZoomOutLevel(double zoom, int count);
double ClampZoom(double zoom);

// The zoom at which the whole image fits the view; the current zoom when
// the view or the image has no size.
double FitInViewZoom(const ProxyViewState& view);

// The zoom and centre that show the rectangle between two client points;
// false when the rectangle (clipped to the image) is empty.
bool ZoomToRectangle(const ProxyViewState& view, int32_t x1, int32_t y1, int32_t x2, int32_t y2, double* zoom,
                     double* centreX, double* centreY);

// A client point as a point of the scaled image (clamped to it), and as
// host image pixels.
void ClientToScaledPoint(const ProxyViewState& view, int32_t x, int32_t y, double* scaledX, double* scaledY);
void ClientToImagePixel(const ProxyViewState& view, int32_t x, int32_t y, double* imageX, double* imageY);

// A scroll bar's range, page and position; inactive when the image fits.
struct ProxyScrollBar {
  int32_t minimum;
  int32_t maximum;
  int32_t page;
  int32_t position;
  bool active;
};
void ComputeScrollBars(const ProxyViewState& view, ProxyScrollBar* horizontal, ProxyScrollBar* vertical);

enum ProxyScrollCode : int32_t {  // the scroll bar codes of the window system
  SCROLL_LINE_UP = 0,
  SCROLL_LINE_DOWN = 1,
  SCROLL_PAGE_UP = 2,
  SCROLL_PAGE_DOWN = 3,
  SCROLL_THUMB_POSITION = 4,
  SCROLL_THUMB_TRACK = 5,
  SCROLL_TOP = 6,
  SCROLL_BOTTOM = 7,
  SCROLL_END = 8,
};
// The new position for a scroll code (`track`: the 32-bit track position),
// clamped to minimum .. maximum - page + 1 (the maximum is the last pixel,
// which the last page must reach); the old one for codes that do not scroll
// or an inactive bar.
int32_t ScrollBarPosition(const ProxyScrollBar& bar, int32_t code, int32_t track);

// Scrolls by (dx, dy) scaled pixels within the bars; false when nothing
// moved.
bool ScrollViewBy(ProxyViewState* view, int32_t dx, int32_t dy);

// Whole wheel notches of a delta (120 per notch, negative away from the
// user), the rest kept in the state.
int32_t WheelNotches(ProxyViewState* view, int32_t delta);

// The zoom field's text, as " %-3.2f%%" writes it.
std::string ZoomFieldText(double zoom);

// What a key or the wheel asks of the view.
struct ProxyNavigation {
  enum Kind : int32_t { NONE, SCROLL, PAGE, HOME, END, ZOOM_TO, ZOOM_STEPS } kind = NONE;
  int32_t dx = 0, dy = 0;          // SCROLL: scaled pixels; PAGE: pages
  double zoom = 0;                 // ZOOM_TO
  int32_t steps = 0;               // ZOOM_STEPS: in when negative, out when positive
};

enum ProxyKey : int32_t { KEY_LEFT, KEY_RIGHT, KEY_UP, KEY_DOWN, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_HOME, KEY_END };
// A key pressed `repeat` times with Ctrl and Shift as held.
ProxyNavigation NavigationForKey(ProxyKey key, bool ctrl, bool shift, int32_t repeat);
// `notches` of the wheel (WheelNotches) with the keys held, at `zoom`.
ProxyNavigation NavigationForWheel(int32_t notches, bool alt, bool ctrl, bool shift, double zoom);
// Carries it out on the view; false when nothing changed.
bool ApplyNavigation(ProxyViewState* view, const ProxyNavigation& navigation);
