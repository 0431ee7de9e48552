// Which shading-language path and which program version a context gets:
// version strings as drivers write them, the bound rules, the selection.
#include <gtest/gtest.h>

#include "gl/drawing_settings.h"
#include "gl/shader_programs.h"

namespace {

TEST(ShaderDecisions, VersionStringsAsDriversWriteThem) {
  struct Case {
    const char* text;
    bool ok;
    GLSLVersion version;
  };
  const Case cases[] = {
      {"1.20 NVIDIA via Cg compiler", true, {1, 20, 0}},
      {"4.50", true, {4, 50, 0}},
      {"1.10.59", true, {1, 10, 59}},
      {"1.51 NVIDIA via Cg compiler", true, {1, 0, 0}},
      {"3", false, {-1, -1, -1}},
      {"OpenGL ES GLSL ES 3.20", false, {-1, -1, -1}},
      {"", false, {-1, -1, -1}},
      {nullptr, false, {-1, -1, -1}},
  };
  for (const Case& c : cases) {
    GLSLVersion v{7, 7, 7};
    EXPECT_EQ(ParseGLSLVersionText(c.text, &v), c.ok) << (c.text ? c.text : "(null)");
    EXPECT_EQ(v.major, c.version.major) << (c.text ? c.text : "(null)");
    EXPECT_EQ(v.minor, c.version.minor) << (c.text ? c.text : "(null)");
    EXPECT_EQ(v.patch, c.version.patch) << (c.text ? c.text : "(null)");
  }
}

TEST(ShaderDecisions, BoundsCompareMajorFirstAndStopAtAnOpenComponent) {
  const int32_t from110[3] = {1, 10, 0};
  const int32_t upTo120[3] = {1, 20, -1};
  const int32_t none[3] = {-1, -1, -1};
  struct Case {
    GLSLVersion v;
    const int32_t* min;
    const int32_t* max;
    bool fits;
  };
  const Case cases[] = {
      {{1, 20, 0}, from110, none, true},   {{1, 10, 0}, from110, none, true},  {{1, 0, 0}, from110, none, false},
      {{4, 50, 0}, from110, none, true},   {{0, 99, 9}, from110, none, false}, {{1, 20, 5}, from110, upTo120, true},
      {{1, 30, 0}, from110, upTo120, false}, {{-1, -1, -1}, none, none, false}, {{2, 0, 0}, none, none, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(GLSLVersionFits(c.v, c.min, c.max), c.fits) << c.v.major << "." << c.v.minor << "." << c.v.patch;
}

TEST(ShaderDecisions, TheGammaProgramsVersionForEachPath) {
  int count = 0;
  ShaderProgramVersion* gamma = ProxyGammaProgramVersions(&count);
  ASSERT_EQ(count, 2);
  struct Case {
    ShaderSupport support;
    int index;
  };
  const Case cases[] = {
      {{SHADER_TYPE_GLSL, 3, {1, 20, 0}}, 0},
      {{SHADER_TYPE_ARB, 3, {1, 10, 0}}, 1},
      // The ARB family without a version string counts as GLSL 1.0: too old.
      {{SHADER_TYPE_ARB, 3, {1, 0, 0}}, -1},
      {{SHADER_TYPE_NONE, 3, {4, 50, 0}}, -1},
      {{SHADER_TYPE_GLSL, 0, {4, 50, 0}}, -1},
      // A fragment program needs the fragment stage.
      {{SHADER_TYPE_GLSL, SHADER_STAGE_VERTEX, {4, 50, 0}}, -1},
  };
  for (const Case& c : cases) EXPECT_EQ(SelectShaderVersion(gamma, count, c.support), c.index) << c.support.type;

  OpenGLCapabilities caps{};
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_QUALITY, true, caps), SHADER_TYPE_NONE);
  caps.version1_4 = caps.version1_5 = true;
  caps.arbShadingLanguage100 = caps.arbShaderObjects = caps.arbVertexShader = caps.arbFragmentShader = true;
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_QUALITY, true, caps), SHADER_TYPE_ARB);
  caps.arbVertexShader = false;
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_SPEED, true, caps), SHADER_TYPE_NONE);
  caps.version2_0 = true;
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_SPEED, true, caps), SHADER_TYPE_GLSL);
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_COMPATIBILITY, true, caps), SHADER_TYPE_NONE);
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_NONE, true, caps), SHADER_TYPE_NONE);
  EXPECT_EQ(ShaderTypeFor(OPTIMIZE_FOR_QUALITY, false, caps), SHADER_TYPE_NONE);
}

}  // namespace

#include "gl/texture_sets.h"

namespace {

TEST(TextureSizes, PowersOfTwoAroundATileSize) {
  const int32_t rows[][3] = {{1, 2, 0},     {2, 2, 2},     {3, 4, 2},         {300, 512, 256},
                             {512, 512, 512}, {16385, 32768, 16384}, {(1 << 24) + 1, (1 << 24) + 1, 1 << 24}};
  for (const auto& r : rows) {
    EXPECT_EQ(PowerOfTwoAtLeast(r[0]), r[1]) << r[0];
    EXPECT_EQ(PowerOfTwoAtMost(r[0]), r[2]) << r[0];
  }
}

}  // namespace
