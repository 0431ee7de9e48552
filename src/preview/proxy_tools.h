#pragma once
// The preview's four tools as rules: which mouse state a left press starts
// with the keys held, which light source operation a Hide or Show state
// applies, and which cursor the window shows. The window code runs the
// states; these only decide.
#include <cstdint>

#include "analysis/light_source_table.h"

enum ProxyMouseState : int32_t {
  MOUSE_IDLE = 0,
  MOUSE_NO_ACTION = 1,
  MOUSE_ZOOM_OUT = 2,
  MOUSE_ZOOM_IN_AT_RELEASE = 3,
  MOUSE_PANNING = 4,          // 15 ms timer
  MOUSE_ZOOM_IN = 5,          // by click or rectangle; 100 ms timer
  MOUSE_HIDE = 6,             // the light source operations, 100 ms timer
  MOUSE_UNHIDE = 7,
  MOUSE_FORCE = 8,
  MOUSE_UNFORCE = 9,
  MOUSE_INVALID = -1,         // a tool no dialog has: reported, stays idle
};

// The keys held at the press; Space held means the Hand tool.
struct ProxyKeys {
  bool alt;
  bool ctrl;
  bool space;
};

ProxyMouseState MouseStateForPress(int32_t tool, const ProxyKeys& keys);

// The table operation of states 6 to 9; false for the others.
bool LightSourceOperationOf(ProxyMouseState state, LightSourceOperation* operation);

// The timer a state runs (milliseconds; 0: none).
int32_t MouseStateTimer(ProxyMouseState state);

enum ProxyCursor : int32_t {
  CURSOR_ARROW = 0,
  CURSOR_HAND = 140,
  CURSOR_HAND_DRAGGING = 180,
  CURSOR_ZOOM_IN = 141,
  CURSOR_ZOOM_OUT = 142,
  CURSOR_ZOOM_LIMIT = 181,
  CURSOR_HIDE = 204,
  CURSOR_SHOW = 203,
};

// The cursor of a tool with the keys held, pressed or not, at a zoom.
ProxyCursor CursorForTool(int32_t tool, const ProxyKeys& keys, bool pressed, double zoom);
