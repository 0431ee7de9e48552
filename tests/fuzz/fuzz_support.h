#pragma once
// What the fuzz targets share: the once-per-process set-up of the module's
// side (a private home, its data folders, a log that drops its entries and
// shows no user message), a checked abort for properties that fail, and the
// drawing of a Parameter Set the way the final rendering draws one.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "analysis/light_source.h"
#include "effects/effect_drawing.h"
#include "effects/effect_tables.h"
#include "image/pixel_access.h"
#include "params/parameter_set.h"
#include "params/rendering_parameters.h"
#include "runtime/debug_log.h"
#include "runtime/report.h"
#include "runtime/user_folders.h"

// A property the input broke: abort, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

namespace fuzz {

// The private home folder, removed when the process exits (kept in a plain
// array: the exit handler runs after static strings are gone).
inline const char* Home() {
  static char home[256];
  if (home[0] == '\0') {
    const char* base = std::getenv("TMPDIR");
    std::snprintf(home, sizeof home, "%s/glimmark-fuzz-XXXXXX", base != nullptr && base[0] == '/' ? base : "/tmp");
    if (mkdtemp(home) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(home, ignored);
    });
  }
  return home;
}

// Every target calls this from LLVMFuzzerInitialize: nothing it does may
// reach the real user's folders, and reports cost only their formatting.
inline void SetUpModule() {
  const std::string home = Home();
  setenv("HOME", home.c_str(), 1);
  setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  setenv("XDG_DATA_DIRS", (home + "/common").c_str(), 1);
  if (!InitializeUserDataFolders()) std::abort();
  OpenDebugLoggingQueue(nullptr, "Glimmark 2 (fuzzing)");
  OpenDebugLog(LOGMODE_DISCARD);
  ResetReportingTargets(nullptr, 0);  // no thread is the UI thread: no message box on standard error
  BuildPixelValueTables();
  BuildEffectTables();
}

inline void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
}

// Draws the stars of `set` for one light source into a small band layer of
// one of the six document modes (`variant` picks it; a small diagonal keeps
// the shapes small: their sizes are relative to it), as the final rendering
// draws with a restored or scripted set: whatever a stored field holds, the
// renderer must pin it to something drawable.
inline void DrawWith(const ParameterSet& set, unsigned variant) {
  static const uint32_t kModes[] = {1, 3, 10, 11, 16, 17};
  const uint32_t mode = kModes[variant % 6];
  RenderingParameters parameters;
  InitializeFinalRenderingParameters(&parameters, &set);
  StarEffectSettings settings;
  PrepareStarEffectSettings(parameters, 16, BytesPerChannel(mode), mode == 1 || mode == 10 || mode == 17, &settings);
  EffectShapes shapes;
  SetUpEffectShapes(&shapes, settings);

  LightSourceRecord light{};
  light.x = 8;
  light.xQuarter = static_cast<int32_t>(variant / 6 % 4);
  light.y = 5;
  light.yQuarter = 2;
  light.radius = 3;
  light.squaredRadius = 9;
  light.red = light.brightness = 0xFFFFFFFE;
  light.green = 0xC0000000;
  light.blue = 0x40000000;
  light.effectWeight = 0xFFFFFFFE;
  light.state = LIGHT_SOURCE_SHOWN;
  LightSourceList table{};
  FUZZ_CHECK(ReallocateBuffer(sizeof light, &table.records) == 0);
  std::memcpy(table.records.buffer, &light, sizeof light);
  table.count = 1;

  BandLayer layer{};
  int16_t status = 0;
  const ImageRect band{0, 0, 14, 10};
  FUZZ_CHECK(CreateBandLayer(band, mode, nullptr, 2.2, variant % 2 == 0, &layer, &status));
  FUZZ_CHECK(RenderEffectsIntoBandLayer(&layer, &shapes, table, BLEND_PRECISE, nullptr, nullptr));
  ReleaseBandLayer(&layer);
  ReleaseEffectShapes(&shapes);
  DeallocateBuffer(&table.records);
}

}  // namespace fuzz
