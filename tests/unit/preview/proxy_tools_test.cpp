// The tools' rules: the mouse state of a press with each tool and key, the
// light source operation it applies, its timer, and the cursor shown.
#include "preview/proxy_tools.h"

#include <gtest/gtest.h>

#include "ui/ui_settings.h"

namespace {

TEST(ProxyTools, APressStartsTheStateOfItsToolAndKeys) {
  const ProxyKeys none{false, false, false}, alt{true, false, false}, ctrl{false, true, false},
      space{false, false, true};
  const struct {
    int32_t tool;
    ProxyKeys keys;
    ProxyMouseState state;
  } rows[] = {
      {TOOL_HAND, none, MOUSE_PANNING},       {TOOL_HAND, alt, MOUSE_ZOOM_OUT},
      {TOOL_HAND, ctrl, MOUSE_ZOOM_IN},       {TOOL_ZOOM, none, MOUSE_ZOOM_IN},
      {TOOL_ZOOM, alt, MOUSE_ZOOM_OUT},       {TOOL_ZOOM, space, MOUSE_PANNING},
      {TOOL_HIDE_EFFECTS, none, MOUSE_HIDE},  {TOOL_HIDE_EFFECTS, alt, MOUSE_UNHIDE},
      {TOOL_SHOW_EFFECTS, none, MOUSE_FORCE}, {TOOL_SHOW_EFFECTS, alt, MOUSE_UNFORCE},
      {0, none, MOUSE_NO_ACTION},             {7, none, MOUSE_INVALID},
  };
  for (const auto& r : rows) EXPECT_EQ(MouseStateForPress(r.tool, r.keys), r.state) << r.tool;
  LightSourceOperation op;
  ASSERT_TRUE(LightSourceOperationOf(MOUSE_HIDE, &op));
  EXPECT_EQ(op, LIGHT_SOURCE_HIDE);
  ASSERT_TRUE(LightSourceOperationOf(MOUSE_UNFORCE, &op));
  EXPECT_EQ(op, LIGHT_SOURCE_UNFORCE);
  EXPECT_FALSE(LightSourceOperationOf(MOUSE_ZOOM_IN, &op));
  EXPECT_EQ(MouseStateTimer(MOUSE_PANNING), 15);
  EXPECT_EQ(MouseStateTimer(MOUSE_FORCE), 100);
  EXPECT_EQ(MouseStateTimer(MOUSE_ZOOM_OUT), 0);
}

TEST(ProxyTools, CursorsFollowTheToolKeysAndZoomLimits) {
  const ProxyKeys none{false, false, false}, alt{true, false, false}, space{false, false, true};
  EXPECT_EQ(CursorForTool(TOOL_HAND, none, false, 100), CURSOR_HAND);
  EXPECT_EQ(CursorForTool(TOOL_HAND, none, true, 100), CURSOR_HAND_DRAGGING);
  EXPECT_EQ(CursorForTool(TOOL_ZOOM, space, false, 100), CURSOR_HAND) << "Space gives the hand";
  EXPECT_EQ(CursorForTool(TOOL_ZOOM, none, false, 100), CURSOR_ZOOM_IN);
  EXPECT_EQ(CursorForTool(TOOL_ZOOM, none, false, 6400), CURSOR_ZOOM_LIMIT);
  EXPECT_EQ(CursorForTool(TOOL_ZOOM, alt, false, 100), CURSOR_ZOOM_OUT);
  EXPECT_EQ(CursorForTool(TOOL_HAND, alt, false, 0.3), CURSOR_ZOOM_LIMIT);
  EXPECT_EQ(CursorForTool(TOOL_HIDE_EFFECTS, none, false, 100), CURSOR_HIDE);
  EXPECT_EQ(CursorForTool(TOOL_HIDE_EFFECTS, alt, false, 100), CURSOR_SHOW);
  EXPECT_EQ(CursorForTool(TOOL_SHOW_EFFECTS, none, false, 100), CURSOR_SHOW);
  EXPECT_EQ(CursorForTool(9, none, false, 100), CURSOR_ARROW);
}

}  // namespace
