#pragma once
// The final render of a photo as the tests of the preview compare with it.
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/light_source.h"
#include "image/image.h"
#include "params/rendering_parameters.h"
#include "unit/analysis/analysis_test_support.h"

namespace finaltest {

// The effects layer in the working profile, converted to the image's,
// screened into a copy of the photo and shown in the display's codes (sRGB):
// blue, green, red, alpha per pixel, rows top-down.
std::vector<uint8_t> FinalRender(const Image& photo, const LightSourceList& table, const RenderingParameters& p,
                                 int32_t diagonal);

// stars_over_mountains.png from the test photographs' folder, in the image
// profile of colour management (initialised by the caller), and the light
// sources its analysis ranks. False with a reason.
bool LoadAnalysedPhoto(const std::string& folder, analysistest::OwnedImage* photo,
                       std::vector<LightSourceRecord>* lights, std::string* reason);

// Fills a light source table with `lights` (room for one at least).
bool FillTable(LightSourceList* table, const std::vector<LightSourceRecord>& lights);

// Writes 32-bit blue-green-red-alpha rows as a PNG (for people to look at).
bool WritePng(const char* path, const uint8_t* pixels, int32_t width, int32_t height, bool bottomUp);

}  // namespace finaltest
