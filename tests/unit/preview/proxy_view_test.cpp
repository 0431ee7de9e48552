// The preview's view rules: zoom steps, centring, fitting, zooming to a
// rectangle, scroll bars and the wheel, with the numbers worked out by hand.
#include "preview/proxy_view.h"

#include <gtest/gtest.h>

namespace {

// A 1000 x 600 image in a preview whose client is 402 x 302 (400 x 300
// inside the frame).
ProxyViewState View(int32_t imageWidth = 1000, int32_t imageHeight = 600) {
  ProxyViewState view;
  view.client = ImageRect{0, 0, 402, 302};
  view.imageBounds = ImageRect{0, 0, imageWidth, imageHeight};
  SetViewCentre(&view, -1, -1, 100.0);
  return view;
}

TEST(ProxyView, ZoomStepsFollowTheLevelList) {
  const struct {
    double zoom;
    int count;
    double in, out;
  } rows[] = {{100, 1, 200, 66.67}, {70, 1, 100, 66.67},  {6400, 1, 6400, 3200}, {0.3, 1, 0.5, 0.3},
              {0.5, 1, 1.0, 0.3},   {100, 3, 400, 33.33}, {1, 5, 33.33, 0.3},    {5000, 4, 6400, 1000}};
  for (const auto& r : rows) {
    EXPECT_EQ(ZoomInLevel(r.zoom, r.count), r.in) << r.zoom << " in " << r.count;
    EXPECT_EQ(ZoomOutLevel(r.zoom, r.count), r.out) << r.zoom << " out " << r.count;
  }
  EXPECT_EQ(ClampZoom(10000), PROXY_MAX_ZOOM);
  EXPECT_EQ(ClampZoom(0.01), PROXY_MIN_ZOOM);
  EXPECT_EQ(ZoomFieldText(100), " 100.00%");
  EXPECT_EQ(ZoomFieldText(0.3), " 0.30%");
}

TEST(ProxyView, ANarrowImageIsCentredAndAWideOneFillsTheView) {
  ProxyViewState wide = View();
  EXPECT_EQ(wide.visible.left, 0) << "the centre cannot leave the image: (200, 150)";
  EXPECT_EQ(wide.visible.top, 0);
  EXPECT_EQ(wide.imageOnScreen.left, 1);
  EXPECT_EQ(wide.imageOnScreen.right, 401);
  SetViewCentre(&wide, 5000, 5000, 100.0);
  EXPECT_EQ(wide.visible.right, 1000);
  EXPECT_EQ(wide.visible.bottom, 600);
  // Zooming scales the centre: (500, 300) at 100 % is (1000, 600) at 200 %.
  SetViewCentre(&wide, 500, 300, 100.0);
  SetViewCentre(&wide, -1, -1, 200.0);
  EXPECT_EQ(wide.centreX, 1000);
  EXPECT_EQ(wide.centreY, 600);

  ProxyViewState narrow = View(200, 100);
  EXPECT_EQ(narrow.imageOnScreen.left, 101) << "(400 - 200) / 2 on each side";
  EXPECT_EQ(narrow.imageOnScreen.right, 301);
  EXPECT_EQ(narrow.imageOnScreen.top, 101);
  EXPECT_FALSE(ScrollViewBy(&narrow, 50, 50)) << "nothing to scroll";
  ProxyScrollBar h, v;
  ComputeScrollBars(narrow, &h, &v);
  EXPECT_FALSE(h.active);
  EXPECT_FALSE(v.active);
}

TEST(ProxyView, FittingAndZoomingToARectangle) {
  ProxyViewState view = View();
  EXPECT_DOUBLE_EQ(FitInViewZoom(view), 40.0) << "min(400 / 1000, 300 / 600)";
  ProxyViewState empty = view;
  empty.client = ImageRect{0, 0, 0, 0};
  empty.zoom = 250;
  EXPECT_EQ(FitInViewZoom(empty), 250) << "no view: the zoom stays";
  // A 100 x 100 drag from client (101, 51): scaled (100..200, 50..150).
  double zoom = 0, cx = 0, cy = 0;
  ASSERT_TRUE(ZoomToRectangle(view, 101, 51, 201, 151, &zoom, &cx, &cy));
  EXPECT_DOUBLE_EQ(zoom, 300.0) << "min(400 / 100, 300 / 100) at 100 %";
  EXPECT_DOUBLE_EQ(cx, 150);
  EXPECT_DOUBLE_EQ(cy, 100);
  EXPECT_FALSE(ZoomToRectangle(view, 50, 50, 50, 80, &zoom, &cx, &cy)) << "no width";
  // Outside the image of a narrow view the drag is cut to the image first.
  ProxyViewState narrow = View(200, 100);
  ASSERT_TRUE(ZoomToRectangle(narrow, 0, 0, 151, 151, &zoom, &cx, &cy));
  EXPECT_DOUBLE_EQ(cx, 25);
  EXPECT_DOUBLE_EQ(cy, 25);
  double x = 0, y = 0;
  SetViewCentre(&view, -1, -1, 200.0);
  ClientToImagePixel(view, 1, 1, &x, &y);
  EXPECT_DOUBLE_EQ(x, view.visible.left / 2.0);
}

TEST(ProxyView, ScrollBarsKeysAndWheel) {
  ProxyViewState view = View();
  ProxyScrollBar h, v;
  ComputeScrollBars(view, &h, &v);
  ASSERT_TRUE(h.active);
  EXPECT_EQ(h.maximum, 999);
  EXPECT_EQ(h.page, 400);
  EXPECT_EQ(ScrollBarPosition(h, SCROLL_PAGE_DOWN, 0), 400);
  EXPECT_EQ(ScrollBarPosition(h, SCROLL_BOTTOM, 0), 600) << "the last page ends on the last pixel, 999";
  EXPECT_EQ(ScrollBarPosition(h, SCROLL_THUMB_TRACK, 70000), 600) << "a 32-bit track position";
  EXPECT_EQ(ScrollBarPosition(h, SCROLL_LINE_UP, 0), 0);
  EXPECT_EQ(ScrollBarPosition(h, SCROLL_END, 0), 0);
  EXPECT_TRUE(ScrollViewBy(&view, 10, 20));
  EXPECT_EQ(view.visible.left, 10);
  EXPECT_EQ(view.visible.top, 20);
  EXPECT_TRUE(ScrollViewBy(&view, -100, 0));
  EXPECT_EQ(view.visible.left, 0);
  EXPECT_TRUE(ScrollViewBy(&view, -1, -30));
  EXPECT_EQ(view.visible.top, 0);
  EXPECT_FALSE(ScrollViewBy(&view, -1, -1)) << "already at the top-left";
  // Wheel deltas: a notch away from the user is -1; halves add up.
  EXPECT_EQ(WheelNotches(&view, 120), -1);
  EXPECT_EQ(WheelNotches(&view, 60), 0);
  EXPECT_EQ(WheelNotches(&view, 60), -1);
  EXPECT_EQ(WheelNotches(&view, -360), 3);
  EXPECT_EQ(view.wheelRemainder, 0);
}

TEST(ProxyView, KeysAndTheWheelNavigate) {
  const struct {
    ProxyKey key;
    bool ctrl, shift;
    int32_t repeat;
    ProxyNavigation::Kind kind;
    int32_t dx, dy;
  } keys[] = {
      {KEY_LEFT, false, false, 3, ProxyNavigation::SCROLL, -3, 0},
      {KEY_DOWN, true, false, 2, ProxyNavigation::SCROLL, 0, 20},
      {KEY_PAGE_DOWN, false, false, 2, ProxyNavigation::PAGE, 0, 2},
      {KEY_PAGE_UP, true, false, 1, ProxyNavigation::PAGE, -1, 0},
      {KEY_PAGE_DOWN, true, true, 3, ProxyNavigation::SCROLL, 30, 0},
      {KEY_PAGE_UP, false, true, 1, ProxyNavigation::SCROLL, 0, -10},
      {KEY_HOME, false, false, 1, ProxyNavigation::HOME, 0, 0},
  };
  for (const auto& k : keys) {
    const ProxyNavigation n = NavigationForKey(k.key, k.ctrl, k.shift, k.repeat);
    EXPECT_EQ(n.kind, k.kind) << k.key;
    EXPECT_EQ(n.dx, k.dx) << k.key;
    EXPECT_EQ(n.dy, k.dy) << k.key;
  }
  // One notch towards the user with Alt zooms out by 1.1; with Shift too, a
  // level; without Alt the wheel scrolls 10 pixels a notch.
  EXPECT_DOUBLE_EQ(NavigationForWheel(1, true, false, false, 110).zoom, 100);
  EXPECT_EQ(NavigationForWheel(-2, true, false, true, 100).steps, -2);
  EXPECT_EQ(NavigationForWheel(-1, false, true, false, 100).dx, -10);
  EXPECT_EQ(NavigationForWheel(2, false, false, true, 100).dy, 1) << "Shift: a page";

  ProxyViewState view = View();
  EXPECT_TRUE(ApplyNavigation(&view, NavigationForKey(KEY_END, false, false, 1)));
  EXPECT_EQ(view.visible.right, 1000) << "the bottom-right corner, last pixels included";
  EXPECT_EQ(view.visible.bottom, 600);
  EXPECT_TRUE(ApplyNavigation(&view, NavigationForKey(KEY_HOME, false, false, 1)));
  EXPECT_EQ(view.visible.left, 0);
  EXPECT_TRUE(ApplyNavigation(&view, NavigationForKey(KEY_PAGE_DOWN, false, false, 1)));
  EXPECT_EQ(view.visible.top, 300) << "one page, held to the bar's range";
  EXPECT_TRUE(ApplyNavigation(&view, NavigationForWheel(-1, true, false, true, view.zoom)));
  EXPECT_EQ(view.zoom, 200);
  EXPECT_FALSE(ApplyNavigation(&view, ProxyNavigation{}));
}

}  // namespace
