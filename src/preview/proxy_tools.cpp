#include "preview/proxy_tools.h"

#include "preview/proxy_view.h"
#include "ui/ui_settings.h"

ProxyMouseState MouseStateForPress(int32_t tool, const ProxyKeys& keys) {
  if (keys.space) tool = TOOL_HAND;
  switch (tool) {
    case 0:
      return MOUSE_NO_ACTION;
    case TOOL_HAND:
      if (keys.alt) return MOUSE_ZOOM_OUT;
      return keys.ctrl ? MOUSE_ZOOM_IN : MOUSE_PANNING;
    case TOOL_ZOOM:
      return keys.alt ? MOUSE_ZOOM_OUT : MOUSE_ZOOM_IN;
    case TOOL_HIDE_EFFECTS:
      return keys.alt ? MOUSE_UNHIDE : MOUSE_HIDE;
    case TOOL_SHOW_EFFECTS:
      return keys.alt ? MOUSE_UNFORCE : MOUSE_FORCE;
    default:
      return MOUSE_INVALID;
  }
}

bool LightSourceOperationOf(ProxyMouseState state, LightSourceOperation* operation) {
  switch (state) {
    case MOUSE_HIDE: *operation = LIGHT_SOURCE_HIDE; return true;
    case MOUSE_UNHIDE: *operation = LIGHT_SOURCE_UNHIDE; return true;
    case MOUSE_FORCE: *operation = LIGHT_SOURCE_FORCE; return true;
    case MOUSE_UNFORCE: *operation = LIGHT_SOURCE_UNFORCE; return true;
    default: return false;
  }
}

int32_t MouseStateTimer(ProxyMouseState state) {
  if (state == MOUSE_PANNING) return 15;
  return state >= MOUSE_ZOOM_IN && state <= MOUSE_UNFORCE ? 100 : 0;
}

ProxyCursor CursorForTool(int32_t tool, const ProxyKeys& keys, bool pressed, double zoom) {
  if (keys.space) tool = TOOL_HAND;
  if (tool == TOOL_HAND && !keys.alt && !keys.ctrl) return pressed ? CURSOR_HAND_DRAGGING : CURSOR_HAND;
  if (tool == TOOL_HAND || tool == TOOL_ZOOM) {
    if (keys.alt) return zoom <= PROXY_MIN_ZOOM ? CURSOR_ZOOM_LIMIT : CURSOR_ZOOM_OUT;
    return zoom >= PROXY_MAX_ZOOM ? CURSOR_ZOOM_LIMIT : CURSOR_ZOOM_IN;
  }
  if (tool == TOOL_HIDE_EFFECTS) return keys.alt ? CURSOR_SHOW : CURSOR_HIDE;
  if (tool == TOOL_SHOW_EFFECTS) return keys.alt ? CURSOR_HIDE : CURSOR_SHOW;
  return CURSOR_ARROW;
}
