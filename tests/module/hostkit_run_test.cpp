// Checks of hostkit's run bookkeeping with small in-test modules: a failed
// run leaves the document as it was, every advanceState call is recorded as
// the module made it, aborts can be aimed at the write-back, and the record
// can present other image modes and 32-bit coordinates alone.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hostkit/host.h"

namespace {

using hostkit::AdvanceStateCall;
using hostkit::Host;
using hostkit::HostImage;
using hostkit::HostOptions;

constexpr uint8_t kScribble = 0x5A;

HostImage Numbered(int32_t width, int32_t height) {
  HostImage image;
  EXPECT_TRUE(image.Allocate(width, height, 3));
  for (size_t i = 0; i < image.pixels.size(); ++i) image.pixels[i] = static_cast<uint8_t>(i * 3 + 1);
  return image;
}

// A module that overwrites the filter rectangle with kScribble and fails in
// the selector named by g_failIn (0 = never). To fail in Continue it keeps
// its output request open after Start, so that the host calls Continue.
int16_t g_failIn = 0;

void Scribble(FilterRecord* r) {
  const int width = r->filterRect.right - r->filterRect.left, height = r->filterRect.bottom - r->filterRect.top;
  for (int y = 0; y < height; ++y)
    std::memset(static_cast<uint8_t*>(r->outData) + y * r->outRowBytes, kScribble, size_t(width) * 3);
}

void ScribbleAndFail(int16_t selector, void* record, intptr_t*, int16_t* result) {
  *result = noErr;
  FilterRecord* r = static_cast<FilterRecord*>(record);
  if (selector == filterSelectorStart) {
    r->outRect = r->filterRect;
    r->outLoPlane = 0;
    r->outHiPlane = 2;
    if ((*result = r->advanceState()) != noErr) return;
    Scribble(r);
    if (g_failIn == filterSelectorContinue) return;  // more data wanted
    r->outRect = Rect{0, 0, 0, 0};
    if ((*result = r->advanceState()) != noErr) return;
  } else if (selector == filterSelectorContinue) {
    Scribble(r);
    r->outRect = Rect{0, 0, 0, 0};
  }
  if (selector == g_failIn) *result = memFullErr;
}

TEST(HostkitRuns, FailedRunIsRevertedUnlessTheHostIsToldNotTo) {
  const HostImage image = Numbered(6, 4);
  const VRect filter{1, 2, 3, 5};
  for (int16_t failIn : {filterSelectorStart, filterSelectorContinue, filterSelectorFinish, int16_t(0)}) {
    for (bool revert : {true, false}) {
      SCOPED_TRACE(testing::Message() << "failing in selector " << failIn << (revert ? ", reverting" : ""));
      HostOptions options;
      options.revertFailedStart = revert;
      Host host(&ScribbleAndFail, options);
      host.SetImage(image);
      host.SetFilterRect(filter);
      g_failIn = failIn;
      EXPECT_EQ(host.RunFilter(false), failIn != 0 ? memFullErr : noErr);
      const bool kept = failIn == 0 || !revert;
      for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
          const bool inside = y >= filter.top && y < filter.bottom && x >= filter.left && x < filter.right;
          for (int p = 0; p < 3; ++p)
            ASSERT_EQ(host.image().Pixel(x, y)[p], kept && inside ? kScribble : image.Pixel(x, y)[p])
                << x << "," << y << " plane " << p;
        }
    }
  }
  g_failIn = 0;
}

// A module that makes a fixed series of requests during Start and polls
// abortProc around its output; g_aborts collects the answers.
std::vector<bool> g_aborts;

void RequestSeries(int16_t selector, void* record, intptr_t*, int16_t* result) {
  *result = noErr;
  if (selector != filterSelectorStart) return;
  FilterRecord* r = static_cast<FilterRecord*>(record);
  for (int i = 0; i < 2; ++i) g_aborts.push_back(r->abortProc() != 0);
  r->inRect = r->maskRect = Rect{0, 0, 2, 3};
  r->inLoPlane = 0;
  r->inHiPlane = 2;
  r->advanceState();
  r->inRect = r->maskRect = Rect{0, 0, 0, 0};
  r->outRect = Rect{1, 1, 2, 2};
  r->outLoPlane = r->outHiPlane = 1;
  r->advanceState();
  for (int i = 0; i < 3; ++i) g_aborts.push_back(r->abortProc() != 0);
  r->outRect = Rect{0, 0, 0, 0};
  r->advanceState();
}

TEST(HostkitRuns, EveryAdvanceStateIsRecordedAsRequested) {
  Host host(&RequestSeries);
  host.SetImage(Numbered(4, 3));
  ASSERT_TRUE(host.SetMask(std::vector<uint8_t>(12, 200)));
  g_aborts.clear();
  ASSERT_EQ(host.RunFilter(false), noErr);
  const hostkit::HostStats& stats = host.stats();
  ASSERT_EQ(stats.advanceStates.size(), 3u);
  const AdvanceStateCall& read = stats.advanceStates[0];
  const AdvanceStateCall& write = stats.advanceStates[1];
  const AdvanceStateCall& close = stats.advanceStates[2];
  EXPECT_EQ(read.inRect.right, 3);
  EXPECT_EQ(read.inRect.bottom, 2);
  EXPECT_EQ(read.inHiPlane, 2);
  EXPECT_TRUE(read.deliveredInput && read.deliveredMask && !read.deliveredOutput);
  EXPECT_EQ(write.outRect.left, 1);
  EXPECT_EQ(write.outLoPlane, 1);
  EXPECT_EQ(write.outHiPlane, 1);
  EXPECT_TRUE(write.deliveredOutput && !write.deliveredInput && !write.deliveredMask);
  EXPECT_FALSE(close.deliveredInput || close.deliveredOutput || close.deliveredMask);
  EXPECT_EQ(stats.inputDeliveries, 1);
  EXPECT_EQ(stats.outputDeliveries, 1);
  EXPECT_EQ(stats.maskDeliveries, 1);
  double total = 0;
  for (const AdvanceStateCall& call : stats.advanceStates) {
    EXPECT_EQ(call.result, noErr);
    EXPECT_GE(call.seconds, 0.0);
    total += call.seconds;
  }
  EXPECT_DOUBLE_EQ(stats.advanceStateSeconds, total);
  EXPECT_LE(read.start, write.start);
  EXPECT_LE(write.start, close.start);

  // A refused call is recorded with its code and delivers nothing.
  HostOptions failing;
  failing.failAdvanceStateAtCall = 2;
  Host refused(&RequestSeries, failing);
  refused.SetImage(Numbered(4, 3));
  ASSERT_EQ(refused.RunFilter(false), noErr);  // this module ignores the refusal
  ASSERT_EQ(refused.stats().advanceStates.size(), 3u);
  EXPECT_EQ(refused.stats().advanceStates[1].result, memFullErr);
  EXPECT_FALSE(refused.stats().advanceStates[1].deliveredOutput);
  EXPECT_EQ(refused.stats().outputDeliveries, 0);
}

TEST(HostkitRuns, AbortCanBeAimedPastTheFirstOutput) {
  for (bool fromOutput : {false, true}) {
    HostOptions options;
    options.abortAtCall = 2;
    options.abortCountsFromFirstOutput = fromOutput;
    Host host(&RequestSeries, options);
    host.SetImage(Numbered(4, 3));
    g_aborts.clear();
    ASSERT_EQ(host.RunFilter(false), noErr);
    // Two polls before the output, three after it.
    const std::vector<bool> expected = fromOutput ? std::vector<bool>{false, false, false, true, true}
                                                  : std::vector<bool>{false, true, true, true, true};
    EXPECT_EQ(g_aborts, expected);
    EXPECT_EQ(host.stats().abortCalls, 5);
    EXPECT_EQ(host.stats().abortCallsAfterFirstOutput, 3);
  }
}

void Quiet(int16_t, void*, intptr_t*, int16_t* result) { *result = noErr; }

TEST(HostkitRuns, RecordCanPresentOtherModesAndOnlyThe32BitRectangles) {
  HostOptions options;
  options.imageModeOverride = plugInModeCMYKColor;
  options.blankRect16 = true;
  Host host(&Quiet, options);
  host.SetImage(Numbered(40, 30));
  host.SetFilterRect(VRect{5, 6, 25, 36});
  ASSERT_EQ(host.CallPrepare(), noErr);
  // Copies: the record's members are packed.
  const FilterRecord r = host.record();
  EXPECT_EQ(r.imageMode, plugInModeCMYKColor);
  EXPECT_EQ(r.filterRect.right, 0);
  EXPECT_EQ(r.filterRect.bottom, 0);
  EXPECT_EQ(r.imageSize.h, 0);
  ASSERT_TRUE(r.bigDocumentData != nullptr);
  const BigDocumentStruct big = *r.bigDocumentData;
  EXPECT_EQ(big.filterRect32.left, 6);
  EXPECT_EQ(big.filterRect32.bottom, 25);
  EXPECT_EQ(big.imageSize32.h, 40);

  // Without the big-document record the 16-bit fields stay: they are all
  // the module has.
  host.options().offerBigDocument = false;
  host.options().imageModeOverride = -1;
  ASSERT_EQ(host.CallPrepare(), noErr);
  EXPECT_EQ(host.record().imageMode, plugInModeRGBColor);
  EXPECT_EQ(host.record().filterRect.right, 36);
}

}  // namespace
