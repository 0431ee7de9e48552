// `glimmark analyze`: the highlight analysis of a photo on its own, printing
// the ranked light source table the filter would draw on. It runs the
// plug-in's own analysis code in this process (the module keeps its table to
// itself), on the document exactly as the host would deliver it.
#include "analyze.h"

#include <cstdio>
#include <cstring>

#include "analysis/light_source_analysis.h"
#include "analysis/light_source_table.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "image/image.h"
#include "image/pixel_access.h"
#include "messages.h"
#include "runtime/buffers.h"
#include "runtime/report.h"
#include "runtime/threads.h"

namespace {

bool ConvertToLinear(Image* image) {
  return ConvertColorOf(image, GetLinearWorkingProfile(), GetWorkerThreadCount());
}

// The host document as the filter's copy of it: colour planes into the
// Image's order (blue first for 8 bits), 16-bit host samples widened as the
// transfer does, transparency into alpha.
void FillFromDocument(const hostkit::HostImage& document, Image* image) {
  const int32_t colour = document.colourPlanes();
  const int32_t bytes = document.bytesPerSample;
  for (int32_t y = 0; y < document.height; ++y) {
    for (int32_t x = 0; x < document.width; ++x) {
      const uint8_t* in = document.Pixel(x, y);
      const size_t index = (static_cast<size_t>(y) * static_cast<size_t>(image->bufferWidth) + static_cast<size_t>(x)) * 4;
      for (int32_t c = 0; c < 4; ++c) {
        const int32_t plane = c == 3 ? (document.hasTransparency() ? colour : -1) : (colour == 1 ? 0 : c);
        const int32_t component = (bytes == 1 && c < 3) ? 2 - c : c;
        if (bytes == 1) {
          static_cast<uint8_t*>(image->pixels.buffer)[index + component] = plane < 0 ? 255 : in[plane];
        } else if (bytes == 2) {
          uint16_t v = 32768;
          if (plane >= 0) std::memcpy(&v, in + plane * 2, 2);
          v = v >= 32768 ? 65535 : static_cast<uint16_t>((static_cast<uint32_t>(v) * 65535u) >> 15);
          static_cast<uint16_t*>(image->pixels.buffer)[index + component] = v;
        } else {
          float v = 1.0f;
          if (plane >= 0) std::memcpy(&v, in + plane * 4, 4);
          if (!(v >= 0.0f)) v = 0.0f;
          static_cast<float*>(image->pixels.buffer)[index + component] = v;
        }
      }
    }
  }
}

}  // namespace

int AnalyzeDocument(const hostkit::HostImage& document, std::FILE* out, std::string* error) {
  OpenDebugLoggingQueue(nullptr, "Glimmark 2");
  OpenDebugLog(LOGMODE_DISCARD);
  InitializeBufferUsageTracking();
  BuildPixelValueTables();

  int16_t status = 0;
  const void* icc = document.iccProfile.empty() ? nullptr : document.iccProfile.data();
  if (!InitializeColorManagement(icc, document.iccProfile.size(), document.mode(), &status)) {
    *error = "colour management could not start: " + glimmark::StatusWords(status);
    return 1;
  }
  Image image{};
  const ImageRect rect{0, 0, document.width, document.height};
  ColorProfileHandle profile = GetImageProfile();
  int result = 0;
  if (!CreateImage(rect, false, &image, rect, static_cast<uint32_t>(document.mode()), profile,
                   GetProfileGamma(profile), false, &status)) {
    *error = "the document could not be prepared: " + glimmark::StatusWords(status);
    result = 1;
  } else {
    FillFromDocument(document, &image);
    std::atomic<int16_t> analysisStatus{0};
    LightSourceAnalysisSetup setup{};
    setup.hostImage = &image;
    setup.convertToLinearWorking = ConvertToLinear;
    setup.resultCode = &analysisStatus;
    MasterLightSourceTable table;
    setup.table = MasterLightSourceTableRoutines(&table);
    LightSourceAnalysis* analysis = nullptr;
    if (!StartLightSourceAnalysis(setup, &analysis)) {
      *error = "the analysis could not start";
      result = 1;
    } else {
      WaitForLightSourceAnalysis(analysis, -1);
      if (analysisStatus.load() != 0) {
        *error = "the analysis failed: " + glimmark::StatusWords(analysisStatus.load());
        result = 1;
      } else {
        char line[256];
        for (bool restart = true; GetLightSourceTableLine(&table, restart, line, sizeof line); restart = false) {
          std::fputs(line, out);
          if (!restart) std::fputc('\n', out);
        }
        const LightSourceAnalysisTimings t = GetLightSourceAnalysisTimings(analysis);
        std::fprintf(stderr, "analysis: reduction %.3f s, conversion %.3f s, pass 1 %.3f s, pass 2 %.3f s, merge %.3f s\n",
                     t.reduction, t.conversion, t.pass1, t.pass2, t.merge);
      }
      ReleaseLightSourceAnalysis(&analysis);
    }
  }
  ReleaseImage(&image);
  ReleaseColorManagement();
  DeleteBufferUsageTracking();
  CloseDebugLog();
  return result;
}
