#pragma once
// Images, converters and runs shared by the analysis tests.
//
// Synthetic images are drawn in linear light (16-bit RGB, gamma 1.0) so that
// their truth is known exactly: a disc's centre, radius and colour are what
// was drawn. Discs are anti-aliased by their exact area coverage estimated
// on a fine grid, the way a camera integrates light over a pixel.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "analysis/analysis_task.h"
#include "analysis/light_source_analysis.h"
#include "image/image.h"

namespace analysistest {

struct Rgb {
  double red;  // linear, 0..1
  double green;
  double blue;
};

// An Image that frees itself.
struct OwnedImage {
  Image image{};
  OwnedImage() = default;
  OwnedImage(const OwnedImage&) = delete;
  OwnedImage& operator=(const OwnedImage&) = delete;
  ~OwnedImage() { ReleaseImage(&image); }
};

// A linear 16-bit RGB image (gamma 1.0) of the given rectangle, opaque, with
// or without a mask (fully selected), filled with `background`.
void MakeLinearImage(OwnedImage* out, int32_t width, int32_t height, const Rgb& background, bool withMask = false,
                     int32_t left = 0, int32_t top = 0);

// Adds a disc of linear colour `colour` centred at (cx, cy) (pixel centres at
// integer coordinates) with the given radius, blending by coverage.
void DrawDisc(Image* image, double cx, double cy, double radius, const Rgb& colour);

// Adds a round highlight whose level (0..1) at a pixel is `level(distance)`
// of the pixel's centre from (cx, cy), blending towards `colour` by it.
void DrawRadialProfile(Image* image, double cx, double cy, double reach, double (*level)(double), const Rgb& colour);

// Paints every pixel inside `rect` with a linear colour.
void FillRect(Image* image, const ImageRect& rect, const Rgb& colour);

// Sets every pixel's mask (0..255) inside `rect`.
void SetMask(Image* image, const ImageRect& rect, uint8_t value);
// Sets every pixel's alpha (16-bit images) inside `rect`.
void SetAlpha16(Image* image, const ImageRect& rect, uint16_t value);

// Converters for the analysis: images already linear (gamma 1.0), and images
// coded with gamma 2.2.
bool AlreadyLinear(Image* image);
bool DecodeGamma22(Image* image);

// A run context over a copy of `image` taken as the analysis image itself
// (no reduction), with N measured as pass 1 would, and one task covering all
// rows: what the measurement routines need.
struct MeasurementFixture {
  AnalysisContext context;
  AnalyzeSectionTask task{};
  std::atomic<int16_t> resultCode{0};
  AnalysisStopFlags stopFlags;
  explicit MeasurementFixture(const Image& source);
  ~MeasurementFixture();
  MeasurementFixture(const MeasurementFixture&) = delete;
  MeasurementFixture& operator=(const MeasurementFixture&) = delete;
};

// A whole analysis through the stand-in table, waited for; the ranked table.
struct RunResult {
  bool started = false;
  int16_t resultCode = 0;
  std::vector<LightSourceRecord> table;
  std::vector<int32_t> sectionTops;
  LightSourceAnalysisTimings timings{};
};
RunResult RunAnalysis(const Image& host, int32_t workers, ConvertToLinearWorking convert = AlreadyLinear);

// A run of the analysis over `host` into the stand-in table (tests replace
// the table routines for the master table), reporting into *resultCode.
LightSourceAnalysisSetup StandInSetup(const Image& host, std::atomic<int16_t>* resultCode,
                                      ConvertToLinearWorking convert = AlreadyLinear, int32_t workers = 0);

// The dark background most synthetic scenes start from.
const Rgb kDark{0.01, 0.01, 0.01};

// A position in pixels from its whole pixel and quarters.
inline double Position(int32_t pixel, int32_t quarter) { return pixel + quarter / 4.0; }

// The entry nearest a point, or null beyond `within` pixels.
const LightSourceRecord* Nearest(const std::vector<LightSourceRecord>& table, double x, double y, double within);

// The folder of the shared test photographs (GLIMMARK_TESTDATA), or empty.
std::string TestDataFolder();
// Reads an 8- or 16-bit RGB PNG into an image of mode 3 or 11 coded with
// gamma 2.2. False (with a reason) when the file or a reader is missing.
bool LoadPhoto(const std::string& path, OwnedImage* out, std::string* reason);

}  // namespace analysistest
