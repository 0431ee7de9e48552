#pragma once
// How the main dialog's controls follow its size: the proxy and its frame
// stretch, the settings panel keeps its size and moves with the right edge,
// the zoom controls move with the bottom. Every new geometry is computed
// from the initial rectangles and the total growth, so that repeated
// resizes never accumulate rounding. And where a dialog opens: at its saved
// rectangle when that lies on the screens, else centred on the nearest
// monitor. Pure geometry: the window code applies it.
#include <cstdint>

#include "image/image.h"

enum LayoutAxes : int32_t {
  LAYOUT_NONE = 0,
  LAYOUT_HORIZONTAL = 1,  // moves with (or stretches to) the right edge
  LAYOUT_VERTICAL = 2,    // the bottom edge
  LAYOUT_BOTH = 3,
};

struct LayoutRule {
  int32_t move;    // axes along which the control moves whole
  int32_t follow;  // axes along which it follows the growth at all
};

// The rule of a control of the main dialog, by id.
LayoutRule MainDialogLayoutRule(int32_t controlId);

// A control's rectangle after the dialog grew by (dx, dy) from its initial
// size: along each followed axis moved whole when the rule moves it there,
// else stretched at its far edge; a rectangle turned inside out collapses to
// nothing at its far edge. Rules beyond 3 leave it where it was.
ImageRect RepositionRect(const ImageRect& initial, const LayoutRule& rule, int32_t dx, int32_t dy);

// Where a dialog with a saved rectangle opens: the rectangle itself when it
// lies wholly in the virtual screen; else on `monitor` (the one nearest the
// rectangle), no larger than the monitor less one pixel but not smaller
// than the dialog's initial size, centred, never left of or above it.
ImageRect PlaceDialogRect(const ImageRect& saved, const ImageRect& virtualScreen, const ImageRect& monitor,
                          int32_t initialWidth, int32_t initialHeight);
