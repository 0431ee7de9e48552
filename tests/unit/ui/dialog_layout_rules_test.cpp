// The main dialog's layout rules and where it opens, worked out by hand.
#include "ui/dialog_layout_rules.h"

#include <gtest/gtest.h>

namespace {

bool Same(const ImageRect& a, const ImageRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(DialogLayout, GrowingBy100x50MovesAndStretchesAsTheTableSays) {
  const ImageRect r{10, 20, 110, 70};
  const struct {
    int32_t id;
    ImageRect expected;
    const char* what;
  } rows[] = {
      {1, {110, 20, 210, 70}, "OK moves right"},
      {1013, {110, 20, 210, 70}, "a slider moves right"},
      {1040, {10, 20, 210, 120}, "the proxy stretches both ways"},
      {1028, {110, 20, 210, 120}, "the vertical bar moves right and stretches down"},
      {1030, {10, 70, 210, 120}, "the horizontal bar moves down and stretches right"},
      {1031, {10, 70, 110, 120}, "the progress bar moves down"},
      {1045, {10, 70, 110, 120}, "Zoom In moves down"},
      {1002, {110, 70, 210, 120}, "Preview moves right and down"},
      {1191, {110, 70, 210, 120}, "Configure moves right and down"},
      {1043, {10, 20, 110, 70}, "a tool button stays"},
  };
  for (const auto& row : rows)
    EXPECT_TRUE(Same(RepositionRect(r, MainDialogLayoutRule(row.id), 100, 50), row.expected)) << row.what;
  // Always from the initial rectangle: two resizes land where one would.
  const LayoutRule proxy = MainDialogLayoutRule(1040);
  EXPECT_TRUE(Same(RepositionRect(r, proxy, 37, 11), ImageRect{10, 20, 147, 81}));
  // Shrunk past its size a stretched control collapses at its far edge.
  EXPECT_TRUE(Same(RepositionRect(r, proxy, -150, -80), ImageRect{-40, -10, -40, -10}));
  EXPECT_TRUE(Same(RepositionRect(r, LayoutRule{4, 3}, 100, 50), r)) << "an unknown rule stays";
}

TEST(DialogLayout, ADialogOpensOnTheScreensAndNeverLargerThanItsMonitor) {
  const ImageRect screens{0, 0, 3840, 1080}, right{1920, 0, 3840, 1040};
  // Inside the screens: where it was saved, sizes from either corner order.
  EXPECT_TRUE(Same(PlaceDialogRect({100, 50, 900, 650}, screens, right, 700, 500), ImageRect{100, 50, 900, 650}));
  EXPECT_TRUE(Same(PlaceDialogRect({900, 650, 100, 50}, screens, right, 700, 500), ImageRect{2480, 220, 3280, 820}))
      << "800 x 600 from (900, 650) passes the bottom: centred on the nearest monitor";
  // Partly off: centred on the nearest monitor.
  EXPECT_TRUE(Same(PlaceDialogRect({3500, 100, 4300, 700}, screens, right, 700, 500),
                   ImageRect{2480, 220, 3280, 820}));
  // Taller than a small monitor: its height less one, not below the initial.
  const ImageRect small{0, 0, 640, 480};
  EXPECT_TRUE(Same(PlaceDialogRect({-10, 0, 790, 600}, small, small, 700, 400), ImageRect{0, 0, 700, 479}));
}

}  // namespace
