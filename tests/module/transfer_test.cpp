// The host image round trip through whole filter runs of the built module.
// The runs ask for no effect, so every run must hand back every pixel as it was:
// in every mode and depth, at awkward sizes and tilings, through either
// coordinate record, with transparency, a selection or a quirky host engine.
// When the host refuses a transfer or the user cancels, the run must fail
// with the right status and message and leave the document as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "hostkit/host.h"
#include "module_support.h"
#include "user_messages.h"

namespace {

using hostkit::AdvanceStateCall;
using hostkit::Host;
using hostkit::HostImage;
using hostkit::HostOptions;
using hostkit::HostStats;
using hostkit::kHost16Max;

const char* const kReadFailure = "Could not read input image.";
const char* const kWriteFailure = "Could not write results back to editor.";
const char* const kExitCaption = "Error - Exiting Plug-in";
// The tiles the module works in: the host's read tile size (1024 when the
// host suggests none) and fixed write-back tiles.
constexpr int32_t kDefaultReadTile = 1024;
constexpr int32_t kWriteTile = 2048;

struct Mode {
  const char* name;
  int32_t colourPlanes;
  int32_t bytes;
};

const Mode kModes[] = {{"Gray8", 1, 1},  {"Rgb8", 3, 1},      {"Gray16", 1, 2},
                       {"Rgb16", 3, 2},  {"GrayFloat", 1, 4}, {"RgbFloat", 3, 4}};

// ---- documents -----------------------------------------------------------

// Non-negative floats (negative ones are read as black by design): mostly
// ordinary light, a quarter from any bit pattern with the sign cleared, so
// that denormals, huge values and infinity occur too. Never NaN.
float RandomLight(std::mt19937& rng) {
  if (rng() % 4 != 0) return std::uniform_real_distribution<float>(0.0f, 1.5f)(rng);
  uint32_t bits = rng() & 0x7FFFFFFFu;
  if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x007FFFFFu) != 0) bits = 0x7F800000u;
  float value;
  std::memcpy(&value, &bits, 4);
  return value;
}

HostImage RandomImage(const Mode& mode, int32_t width, int32_t height, bool transparency, uint32_t seed) {
  HostImage image;
  EXPECT_TRUE(image.Allocate(width, height, mode.colourPlanes + (transparency ? 1 : 0), mode.bytes));
  std::mt19937 rng(seed);
  const size_t samples = image.pixels.size() / static_cast<size_t>(mode.bytes);
  for (size_t i = 0; i < samples; ++i) {
    uint8_t* at = image.pixels.data() + i * static_cast<size_t>(mode.bytes);
    if (mode.bytes == 1) {
      *at = static_cast<uint8_t>(rng());
    } else if (mode.bytes == 2) {
      const uint16_t value = static_cast<uint16_t>(rng() % (kHost16Max + 1u));
      std::memcpy(at, &value, 2);
    } else {
      const float value = RandomLight(rng);
      std::memcpy(at, &value, 4);
    }
  }
  return image;
}

std::vector<uint8_t> RandomMask(const HostImage& image, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> mask(static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
  for (uint8_t& m : mask) m = static_cast<uint8_t>(rng());
  return mask;
}

std::string SampleText(const HostImage& image, const uint8_t* sample) {
  std::ostringstream text;
  if (image.bytesPerSample == 1) {
    text << int(*sample);
  } else if (image.bytesPerSample == 2) {
    uint16_t v;
    std::memcpy(&v, sample, 2);
    text << v;
  } else {
    float v;
    uint32_t bits;
    std::memcpy(&v, sample, 4);
    std::memcpy(&bits, sample, 4);
    text << v << " (0x" << std::hex << bits << ")";
  }
  return text.str();
}

// Sample by sample, naming the first difference instead of printing
// megabytes of vector.
::testing::AssertionResult SamePixels(const HostImage& expected, const HostImage& actual) {
  if (expected.width != actual.width || expected.height != actual.height || expected.planes != actual.planes ||
      expected.bytesPerSample != actual.bytesPerSample || expected.pixels.size() != actual.pixels.size())
    return ::testing::AssertionFailure() << "the document changed its size or layout";
  const size_t sample = static_cast<size_t>(expected.bytesPerSample);
  const size_t count = expected.pixels.size() / sample;
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < count; ++i) {
    if (std::memcmp(expected.pixels.data() + i * sample, actual.pixels.data() + i * sample, sample) != 0) {
      if (differing++ == 0) first = i;
    }
  }
  if (differing == 0) return ::testing::AssertionSuccess();
  const size_t planes = static_cast<size_t>(expected.planes);
  const size_t pixel = first / planes;
  return ::testing::AssertionFailure()
         << differing << " of " << count << " samples differ; the first at (" << pixel % size_t(expected.width)
         << ", " << pixel / size_t(expected.width) << ") plane " << first % planes << ": expected "
         << SampleText(expected, expected.pixels.data() + first * sample) << ", got "
         << SampleText(actual, actual.pixels.data() + first * sample);
}

// ---- what the module asked the host for -----------------------------------

bool IsEmpty(const VRect& r) { return r.right <= r.left || r.bottom <= r.top; }

std::string RectText(const VRect& r) {
  std::ostringstream text;
  text << "{top " << r.top << ", left " << r.left << ", bottom " << r.bottom << ", right " << r.right << "}";
  return text.str();
}

std::vector<const AdvanceStateCall*> Requests(const HostStats& stats, bool output) {
  std::vector<const AdvanceStateCall*> calls;
  for (const AdvanceStateCall& call : stats.advanceStates)
    if (!IsEmpty(output ? call.outRect : call.inRect)) calls.push_back(&call);
  return calls;
}

// The input (or output) requests of a run tile `area` exactly: each lies
// inside it, none is larger than a tile, every pixel is requested once, and
// each asks for planes 0 to hiPlane in one call.
::testing::AssertionResult TilesExactly(const HostStats& stats, bool output, const VRect& area, int32_t tileWidth,
                                        int32_t tileHeight, int32_t hiPlane) {
  const int64_t width = int64_t(area.right) - area.left, height = int64_t(area.bottom) - area.top;
  std::vector<uint8_t> seen(static_cast<size_t>(width * height), 0);
  const char* kind = output ? "output" : "input";
  for (const AdvanceStateCall* call : Requests(stats, output)) {
    const VRect& r = output ? call->outRect : call->inRect;
    const int16_t lo = output ? call->outLoPlane : call->inLoPlane, hi = output ? call->outHiPlane : call->inHiPlane;
    if (lo != 0 || hi != hiPlane)
      return ::testing::AssertionFailure() << kind << " request " << RectText(r) << " for planes " << lo << ".." << hi
                                           << ", expected 0.." << hiPlane;
    if (r.left < area.left || r.top < area.top || r.right > area.right || r.bottom > area.bottom)
      return ::testing::AssertionFailure() << kind << " request " << RectText(r) << " outside " << RectText(area);
    if (r.right - r.left > tileWidth || r.bottom - r.top > tileHeight)
      return ::testing::AssertionFailure() << kind << " request " << RectText(r) << " larger than a " << tileWidth
                                           << "x" << tileHeight << " tile";
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x)
        if (++seen[static_cast<size_t>((y - area.top) * width + (x - area.left))] > 1)
          return ::testing::AssertionFailure() << kind << " pixel (" << x << ", " << y << ") requested twice";
  }
  for (size_t i = 0; i < seen.size(); ++i)
    if (seen[i] == 0)
      return ::testing::AssertionFailure() << kind << " pixel (" << area.left + int64_t(i) % width << ", "
                                           << area.top + int64_t(i) / width << ") never requested";
  return ::testing::AssertionSuccess();
}

// The progress the write-back showed: (1, n), (2, n) ... (n, n) in order,
// whatever else the run showed around it.
bool ShowsWriteProgress(const HostStats& stats, int32_t tiles) {
  int32_t next = 1;
  for (const hostkit::ProgressCall& call : stats.progress)
    if (next <= tiles && call.done == next && call.total == tiles) ++next;
  return next == tiles + 1;
}

// ---- runs ---------------------------------------------------------------

struct FilterRun {
  std::unique_ptr<Host> host;
  int16_t status = 0;
  std::vector<std::string> messages;
};

struct Document {
  HostImage image;
  HostOptions options;
  bool hasFilterRect = false;
  VRect filterRect{};
  std::vector<uint8_t> mask;
};

// A whole run as an editor makes it: Parameters, Prepare, Start, Continue
// while data is requested, Finish.
FilterRun RunFilter(const Document& document) {
  FilterRun run;
  run.host = std::make_unique<Host>(moduletest::ModuleEntry(), document.options);
  run.host->SetImage(document.image);
  if (document.hasFilterRect) run.host->SetFilterRect(document.filterRect);
  if (!document.mask.empty()) {
    EXPECT_TRUE(run.host->SetMask(document.mask));
  }
  // Random pixels are full of highlights; these runs are about the transfer.
  if (document.options.offerDescriptorParameters) moduletest::ReplayDrawNothing(run.host.get());
  moduletest::UserMessageCapture capture;
  run.status = run.host->RunFilter(true);
  run.messages = capture.Stop();
  return run;
}

VRect WholeImage(const HostImage& image) { return VRect{0, 0, image.height, image.width}; }

// A run of `document` succeeds silently, gives back every pixel, reads the
// filter rectangle in the host's tiles with all planes per call and writes
// back in the module's tiles with the colour planes only.
FilterRun ExpectIdentityRun(const Document& document) {
  FilterRun run = RunFilter(document);
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(run.messages.empty()) << run.messages.front();
  EXPECT_TRUE(SamePixels(document.image, run.host->image()));
  const HostStats& stats = run.host->stats();
  const VRect area = document.hasFilterRect ? document.filterRect : WholeImage(document.image);
  int32_t tileWidth = document.options.tileWidth, tileHeight = document.options.tileHeight;
  if (tileWidth <= 0 || tileHeight <= 0) tileWidth = tileHeight = kDefaultReadTile;
  EXPECT_TRUE(TilesExactly(stats, false, area, tileWidth, tileHeight, document.image.planes - 1));
  EXPECT_TRUE(TilesExactly(stats, true, area, kWriteTile, kWriteTile, document.image.colourPlanes() - 1));
  for (const AdvanceStateCall& call : stats.advanceStates) {
    EXPECT_FALSE(!IsEmpty(call.inRect) && !IsEmpty(call.outRect)) << "input and output in one call";
    if (!document.mask.empty() && !IsEmpty(call.inRect)) {
      EXPECT_TRUE(std::memcmp(&call.maskRect, &call.inRect, sizeof(VRect)) == 0)
          << "mask " << RectText(call.maskRect) << " for input " << RectText(call.inRect);
    }
  }
  EXPECT_EQ(stats.callsFromOtherThreads, 0);
  return run;
}

Document MakeDocument(const Mode& mode, int32_t width, int32_t height, uint32_t seed, int16_t tile = 512,
                      bool transparency = false) {
  Document document;
  document.image = RandomImage(mode, width, height, transparency, seed);
  document.options.tileWidth = document.options.tileHeight = tile;
  return document;
}

// ---- every mode ---------------------------------------------------------

void PrintTo(const Mode& mode, std::ostream* out) { *out << mode.name; }

class ModeRoundTrip : public ::testing::TestWithParam<Mode> {};

TEST_P(ModeRoundTrip, AwkwardSizesAndTilesComeBackBitIdentical) {
  struct Case {
    int32_t width, height;
    int16_t tile;
    int32_t extraRowBytes;
  };
  const Case cases[] = {
      {1, 1, 512, 0},  {2, 1, 512, 0},  {1, 3, 512, 0},
      {37, 23, 512, 0},                  // odd sizes inside one tile
      {65, 65, 64, 0},                   // one pixel wider and higher than a tile
      {64, 64, 64, 0},  {130, 1, 64, 0}, {1, 130, 64, 0},
      {17, 9, 1, 0},                     // a call per pixel
      {41, 29, 16, 5},                   // rows padded by the host by an odd byte count
  };
  uint32_t seed = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in tiles of " << c.tile << ", rows padded by "
                                    << c.extraRowBytes);
    Document document = MakeDocument(GetParam(), c.width, c.height, ++seed, c.tile);
    document.options.extraRowBytes = c.extraRowBytes;
    ExpectIdentityRun(document);
  }
}

TEST_P(ModeRoundTrip, HostWithoutTileSizeIsReadInTheDefaultTiles) {
  // Either size missing counts as none.
  for (int16_t height : {int16_t(0), int16_t(7)}) {
    Document document = MakeDocument(GetParam(), kDefaultReadTile + 76, 150, 7 + height, 0);
    document.options.tileHeight = height;
    const FilterRun run = ExpectIdentityRun(document);
    EXPECT_EQ(run.host->stats().inputDeliveries, 2);
  }
}

TEST_P(ModeRoundTrip, WriteBackCrossesItsTileEdgesWithProgressPerTile) {
  for (bool wide : {true, false}) {
    SCOPED_TRACE(wide ? "one column past a write tile" : "one row past a write tile");
    Document document =
        MakeDocument(GetParam(), wide ? kWriteTile + 1 : 40, wide ? 40 : kWriteTile + 1, wide ? 11 : 12, 1024);
    const FilterRun run = ExpectIdentityRun(document);
    EXPECT_EQ(run.host->stats().outputDeliveries, 2);
    EXPECT_TRUE(ShowsWriteProgress(run.host->stats(), 2));
  }
}

TEST_P(ModeRoundTrip, FilterRectangleAwayFromTheOriginThroughEitherCoordinateRecord) {
  enum Record { kBoth, kOnly32, kOnly16 };
  for (Record record : {kBoth, kOnly32, kOnly16}) {
    SCOPED_TRACE(record == kBoth ? "both records" : record == kOnly32 ? "32-bit fields only" : "16-bit fields only");
    Document document = MakeDocument(GetParam(), 90, 70, 20 + record, 16);
    document.hasFilterRect = true;
    document.filterRect = VRect{13, 29, 61, 83};
    document.options.offerBigDocument = record != kOnly16;
    document.options.blankRect16 = record == kOnly32;
    // Pixels outside the filter rectangle are never even requested (checked
    // with the tiling), so the host cannot hand back anything there.
    ExpectIdentityRun(document);
  }
}

TEST_P(ModeRoundTrip, TransparencyIsReadButNeverWrittenBack) {
  Document document = MakeDocument(GetParam(), 70, 45, 30, 32, true);
  const FilterRun run = ExpectIdentityRun(document);  // the transparency plane included
  const HostStats& stats = run.host->stats();
  for (const AdvanceStateCall* call : Requests(stats, true))
    EXPECT_LT(call->outHiPlane, document.image.colourPlanes()) << "the transparency plane requested for output";
  EXPECT_EQ(Requests(stats, false).front()->inHiPlane, document.image.colourPlanes());
}

TEST_P(ModeRoundTrip, SelectionMaskLeavesTheRoundTripIntact) {
  for (bool transparency : {false, true}) {
    Document document = MakeDocument(GetParam(), 53, 31, 40 + transparency, 16, transparency);
    document.mask = RandomMask(document.image, 41);
    const FilterRun run = ExpectIdentityRun(document);
    EXPECT_EQ(run.host->stats().maskDeliveries, run.host->stats().inputDeliveries);
    // The module applies the selection itself; a host told otherwise (it
    // starts with autoMask set, as hosts do) would apply a soft one twice.
    EXPECT_EQ(run.host->record().autoMask, 0);
  }
}

TEST_P(ModeRoundTrip, EngineServingPlaneZeroForALonePlaneStillRoundTrips) {
  for (bool transparency : {false, true}) {
    Document document = MakeDocument(GetParam(), 45, 38, 50 + transparency, 16, transparency);
    document.options.planeZeroQuirk = true;
    ExpectIdentityRun(document);
  }
}

INSTANTIATE_TEST_SUITE_P(AllModes, ModeRoundTrip, ::testing::ValuesIn(kModes),
                         [](const ::testing::TestParamInfo<Mode>& info) { return std::string(info.param.name); });

// ---- sample values --------------------------------------------------------

const Mode& ModeNamed(const char* name) {
  for (const Mode& mode : kModes)
    if (std::strcmp(mode.name, name) == 0) return mode;
  return kModes[0];
}

void SetSample16(HostImage& image, size_t index, uint16_t value) {
  std::memcpy(image.pixels.data() + 2 * index, &value, 2);
}

TEST(SampleValues, EverySixteenBitHostValueSurvives) {
  // 0..32768 all present, including 0, 1, 16384, 32767 and full scale 32768.
  Document gray = MakeDocument(ModeNamed("Gray16"), 257, 128, 1, 64);
  for (size_t i = 0; i < gray.image.pixels.size() / 2; ++i)
    SetSample16(gray.image, i, static_cast<uint16_t>(i % (kHost16Max + 1u)));
  ExpectIdentityRun(gray);

  // The edge values in every plane of a colour document with transparency.
  const uint16_t edges[] = {0, 1, 16384, 32767, 32768};
  Document rgb = MakeDocument(ModeNamed("Rgb16"), 5, 5, 2, 512, true);
  for (size_t i = 0; i < rgb.image.pixels.size() / 2; ++i) SetSample16(rgb.image, i, edges[(i + i / 20) % 5]);
  ExpectIdentityRun(rgb);
}

TEST(SampleValues, SixteenBitSamplesAboveFullScaleComeBackAtFullScale) {
  // A host range holds no more than 32768; larger values are damaged input
  // and must neither wrap around nor crash.
  Document document = MakeDocument(ModeNamed("Rgb16"), 4, 1, 3);
  const uint16_t values[12] = {32769, 40000, 65535, 0, 32768, 12345, 65534, 1, 2, 3, 50000, 7};
  for (size_t i = 0; i < 12; ++i) SetSample16(document.image, i, values[i]);
  const FilterRun run = RunFilter(document);
  ASSERT_EQ(run.status, 0);
  for (size_t i = 0; i < 12; ++i) {
    uint16_t back;
    std::memcpy(&back, run.host->image().pixels.data() + 2 * i, 2);
    EXPECT_EQ(back, values[i] > kHost16Max ? kHost16Max : values[i]) << "sample " << i << " was " << values[i];
  }
}

TEST(SampleValues, NegativeAndNaNFloatsAreReadAsBlackOtherLightUnchanged) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  const float denormal = std::numeric_limits<float>::denorm_min();
  const float colours[] = {-1.0f, -0.25f, -inf, nan, -denormal, -1e30f, 0.0f, 0.5f, 1.0f, 7.5f, inf, denormal};
  for (const char* name : {"RgbFloat", "GrayFloat"}) {
    SCOPED_TRACE(name);
    const Mode& mode = ModeNamed(name);
    // Each pixel: the colour values in turn, and a negative transparency
    // that must come back untouched since transparency is never written.
    Document document = MakeDocument(mode, 12, 2, 4, 512, true);
    HostImage& image = document.image;
    for (int32_t y = 0; y < image.height; ++y)
      for (int32_t x = 0; x < image.width; ++x) {
        for (int32_t p = 0; p < mode.colourPlanes; ++p) image.Set(x, y, p, colours[(x + p + y * 5) % 12]);
        image.Set(x, y, mode.colourPlanes, -0.5);
      }
    const FilterRun run = RunFilter(document);
    ASSERT_EQ(run.status, 0);
    HostImage expected = image;
    for (int32_t y = 0; y < image.height; ++y)
      for (int32_t x = 0; x < image.width; ++x)
        for (int32_t p = 0; p < mode.colourPlanes; ++p) {
          const double v = image.Get(x, y, p);
          if (!(v >= 0)) expected.Set(x, y, p, 0.0);
        }
    EXPECT_TRUE(SamePixels(expected, run.host->image()));
  }
}

TEST(LargeDocument, SeveralReadAndWriteTilesInBothDirections) {
  // The one big case: 3 x 3 default read tiles and 2 x 2 write tiles.
  Document document = MakeDocument(ModeNamed("Rgb16"), kWriteTile + 52, kWriteTile + 52, 5, 0);
  const FilterRun run = ExpectIdentityRun(document);
  EXPECT_EQ(run.host->stats().inputDeliveries, 9);
  EXPECT_EQ(run.host->stats().outputDeliveries, 4);
  EXPECT_TRUE(ShowsWriteProgress(run.host->stats(), 4));
}

// ---- failures -------------------------------------------------------------

// The advanceState calls of a clean run of `document`, numbered from 1 as
// hostkit counts them: where the reads, the write-backs and the closing call
// fall.
struct CallPlan {
  std::vector<int32_t> reads;
  std::vector<int32_t> writes;
  int32_t total = 0;
};

CallPlan PlanOf(const Document& document) {
  const FilterRun run = RunFilter(document);
  EXPECT_EQ(run.status, 0);
  CallPlan plan;
  const HostStats& stats = run.host->stats();
  for (size_t i = 0; i < stats.advanceStates.size(); ++i) {
    const int32_t number = static_cast<int32_t>(i + 1);
    if (stats.advanceStates[i].deliveredInput) plan.reads.push_back(number);
    if (stats.advanceStates[i].deliveredOutput) plan.writes.push_back(number);
  }
  plan.total = stats.advanceStateCalls;
  return plan;
}

// 3 read tiles, 2 write tiles.
Document FailureDocument() { return MakeDocument(ModeNamed("Rgb16"), kWriteTile + 1, 40, 60, 1024); }

TEST(TransferFailures, CleanRunCallsReadWriteAndCloseInOrder) {
  const CallPlan plan = PlanOf(FailureDocument());
  EXPECT_EQ(plan.reads, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(plan.writes, (std::vector<int32_t>{4, 5}));
  EXPECT_EQ(plan.total, 6);  // and one closing call with nothing requested
}

TEST(TransferFailures, HostRefusalWhileReadingFailsStartWithParamErrAndOneMessage) {
  const CallPlan plan = PlanOf(FailureDocument());
  ASSERT_EQ(plan.reads.size(), 3u);
  // The first tile with a host that reverts failed runs, the last with one
  // that shows what the module left behind. (Each message box costs about
  // two seconds under Wine; the cases are few for that reason.)
  for (const bool revert : {true, false}) {
    const int32_t failing = revert ? plan.reads.front() : plan.reads.back();
    SCOPED_TRACE(testing::Message() << "refused read call " << failing << (revert ? ", reverting host" : ""));
    Document document = FailureDocument();
    document.options.failAdvanceStateAtCall = failing;
    document.options.advanceStateFailure = memFullErr;
    document.options.revertFailedStart = revert;
    const FilterRun run = RunFilter(document);
    // The host's code is replaced by the module's "bad parameters" as Start
    // gives up on an image it could not read.
    EXPECT_EQ(run.status, paramErr);
    EXPECT_EQ(moduletest::CountMessages(run.messages, kReadFailure), 1);
    EXPECT_EQ(moduletest::CountMessages(run.messages, kExitCaption), 1);
    EXPECT_EQ(run.messages.size(), 1u);
    const HostStats& stats = run.host->stats();
    EXPECT_EQ(stats.advanceStateCalls, failing) << "calls after the refusal";
    EXPECT_EQ(stats.outputDeliveries, 0);
    EXPECT_TRUE(SamePixels(document.image, run.host->image()));
    EXPECT_EQ(stats.selectors.back().selector, filterSelectorStart);
  }
}

TEST(TransferFailures, HostRefusalWhileWritingKeepsTheHostsCode) {
  const CallPlan plan = PlanOf(FailureDocument());
  ASSERT_EQ(plan.writes.size(), 2u);
  struct Case {
    int32_t call;
    OSErr failure;
    int messages;  // a cancel from the host is no failure to report
  };
  const Case cases[] = {{plan.writes[1], memFullErr, 1}, {plan.writes[0], userCanceledErr, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "call " << c.call << " answers " << c.failure);
    Document document = FailureDocument();
    document.options.failAdvanceStateAtCall = c.call;
    document.options.advanceStateFailure = c.failure;
    const FilterRun run = RunFilter(document);
    EXPECT_EQ(run.status, c.failure);
    EXPECT_EQ(moduletest::CountMessages(run.messages, kWriteFailure), c.messages);
    EXPECT_EQ(run.messages.size(), size_t(c.messages));
    EXPECT_EQ(run.host->stats().advanceStateCalls, c.call) << "no tile and no closing call after the refusal";
    EXPECT_TRUE(SamePixels(document.image, run.host->image()));
  }
}

TEST(TransferFailures, RefusedClosingCallFailsTheRun) {
  const CallPlan plan = PlanOf(FailureDocument());
  Document document = FailureDocument();
  document.options.failAdvanceStateAtCall = plan.total;
  document.options.advanceStateFailure = memFullErr;
  const FilterRun run = RunFilter(document);
  EXPECT_EQ(run.status, memFullErr);
  EXPECT_TRUE(SamePixels(document.image, run.host->image()));
}

// Once the host holds part of the result, a cancel would leave the document
// half filtered with a host that keeps what it was given: the write-back
// completes and the run succeeds. (A cancel before it is tested with the
// star effects: nothing is delivered then.)
TEST(TransferFailures, AnAbortDuringTheWriteBackLetsItComplete) {
  const CallPlan plan = PlanOf(FailureDocument());
  for (int32_t abortAt : {1, 2}) {
    SCOPED_TRACE(testing::Message() << "abort at write-back poll " << abortAt);
    Document document = FailureDocument();
    document.options.revertFailedStart = false;
    document.options.abortCountsFromFirstOutput = true;
    document.options.abortAtCall = abortAt;
    const FilterRun run = RunFilter(document);
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.messages.empty()) << run.messages.front();
    EXPECT_EQ(run.host->stats().outputDeliveries, static_cast<int32_t>(plan.writes.size()));
    EXPECT_TRUE(SamePixels(document.image, run.host->image()));
  }
}

TEST(TransferFailures, DegenerateFilterRectanglesTransferNothing) {
  // Editors never filter an empty selection; a host that asks anyway gets
  // no pixels moved and no crash.
  for (const VRect& rect : {VRect{10, 10, 10, 10}, VRect{10, 20, 5, 3}, VRect{0, 0, 5, 0}}) {
    SCOPED_TRACE(RectText(rect));
    Document document = MakeDocument(ModeNamed("Rgb8"), 30, 20, 80);
    document.hasFilterRect = true;
    document.filterRect = rect;
    document.options.revertFailedStart = false;
    const FilterRun run = RunFilter(document);
    EXPECT_EQ(run.host->stats().inputDeliveries, 0);
    EXPECT_EQ(run.host->stats().outputDeliveries, 0);
    EXPECT_TRUE(SamePixels(document.image, run.host->image()));
  }
}

TEST(TransferFailures, UnsupportedModesEndStartWithParamErrBeforeAnyTransfer) {
  struct Case {
    int16_t mode;
    int32_t planes, bytes;
  };
  const Case cases[] = {
      {plugInModeBitmap, 1, 1},       {plugInModeIndexedColor, 1, 1}, {plugInModeCMYKColor, 4, 1},
      {plugInModeHSLColor, 3, 1},     {plugInModeHSBColor, 3, 1},     {plugInModeMultichannel, 2, 1},
      {plugInModeDuotone, 1, 1},      {plugInModeLabColor, 3, 1},     {plugInModeLab48, 3, 2},
      {plugInModeCMYK64, 4, 2},       {plugInModeDeepMultichannel, 3, 2}, {plugInModeDuotone16, 1, 2},
      {64, 4, 4},  // the module's internal mode is never a host's
      {18, 3, 4},  {32767, 3, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode);
    Document document;
    const Mode layout{"", c.planes >= 3 ? 3 : 1, c.bytes};
    document.image = RandomImage(layout, 19, 11, c.planes == 2 || c.planes == 4, 70);
    document.options.imageModeOverride = c.mode;
    document.options.revertFailedStart = false;  // see what the module itself did
    const FilterRun run = RunFilter(document);
    EXPECT_EQ(run.status, paramErr);
    EXPECT_EQ(run.host->stats().selectors.back().selector, filterSelectorStart);
    EXPECT_EQ(run.host->stats().advanceStateCalls, 0);
    EXPECT_TRUE(SamePixels(document.image, run.host->image()));
  }
}

}  // namespace
