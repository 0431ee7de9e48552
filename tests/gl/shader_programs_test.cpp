// The proxy gamma program on a real context, through both shading-language
// paths Mesa offers: compiled, bound, its uniform set, and what it draws
// compared with the power law; a broken program leaves software gamma.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/shader_programs.h"
#include "test_gl_context.h"
#include "unit/gl/settings_store_support.h"
#include "unit/runtime/log_test_support.h"

namespace {

class ShaderProgramTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    logtest::DebugLogTest::SetUp();
    storetest::UsePrivateStore();
    OpenLog(LOGMODE_IMMEDIATE);
    ASSERT_TRUE(context_.Create()) << context_.Failure();
    GlobalOpenGLSettings() = OpenGLSettings{"", OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_QUALITY, true};
    int16_t resultCode = 0;
    ASSERT_TRUE(InitializeOpenGLDrawingSettings(true, &resultCode));
  }
  void TearDown() override {
    DestroyShaderPrograms();
    context_.Release();
    GlobalOpenGLSettings() = OpenGLSettings{};
    storetest::RemoveStore();
    logtest::DebugLogTest::TearDown();
  }

  // Draws a 1 x 1 texture of the given 8-bit colour over an 8 x 8 float
  // frame buffer with whatever program is bound, and reads the middle.
  static void DrawTexel(const uint8_t texel[4], float out[4]) {
    GLuint frameBuffer = 0, renderBuffer = 0, texture = 0;
    glGenFramebuffers(1, &frameBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, frameBuffer);
    glGenRenderbuffers(1, &renderBuffer);
    glBindRenderbuffer(GL_RENDERBUFFER, renderBuffer);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA32F, 8, 8);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderBuffer);
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
    SetGLSize(GLRect{0, 0, 8, 8});
    glEnable(GL_TEXTURE_2D);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glColor4f(1, 1, 1, 1);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(0, 0);
    glTexCoord2f(1, 0), glVertex2f(8, 0);
    glTexCoord2f(1, 1), glVertex2f(8, 8);
    glTexCoord2f(0, 1), glVertex2f(0, 8);
    glEnd();
    glReadPixels(4, 4, 1, 1, GL_RGBA, GL_FLOAT, out);
    glDisable(GL_TEXTURE_2D);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteTextures(1, &texture);
    glDeleteRenderbuffers(1, &renderBuffer);
    glDeleteFramebuffers(1, &frameBuffer);
  }

  // The gamma program through one path: each channel but alpha raised to
  // 1 / 2.2, alpha to 1.
  void CheckGammaThrough(const ShaderSupport& support, int expectedVersion) {
    OverrideShaderSupport(support);
    int count = 0;
    ShaderProgramVersion* gamma = ProxyGammaProgramVersions(&count);
    ASSERT_TRUE(AddShaderProgram(gamma, count));
    ASSERT_EQ(SelectedShaderVersion(PROXY_GAMMA_PROGRAM)->versionNumber, expectedVersion);
    ASSERT_TRUE(CreateShaderProgram());
    ASSERT_TRUE(MakeShaderProgramActive(PROXY_GAMMA_PROGRAM));
    ASSERT_TRUE(SetProxyShaderGamma(1.0f / 2.2f));
    const uint8_t texel[4] = {64, 128, 191, 77};
    float drawn[4] = {};
    DrawTexel(texel, drawn);
    for (int i = 0; i < 4; ++i) {
      const double exponent = i < 3 ? 1.0 / 2.2 : 1.0;
      EXPECT_NEAR(drawn[i], std::pow(texel[i] / 255.0, exponent), 2e-4) << "channel " << i;
    }
    ASSERT_TRUE(MakeShaderProgramActive(0));
    float plain[4] = {};
    DrawTexel(texel, plain);
    EXPECT_NEAR(plain[0], 64 / 255.0, 1e-6) << "no program once deactivated";
    DestroyShaderPrograms();
  }

  TestGLContext context_;
};

TEST_F(ShaderProgramTest, TheGammaProgramRaisesEachColourChannelThroughBothPaths) {
  ASSERT_TRUE(GetShaderSupport());
  EXPECT_EQ(CurrentShaderSupport().type, SHADER_TYPE_GLSL);
  EXPECT_EQ(CurrentShaderSupport().stageMask, 3u);
  EXPECT_GE(CurrentShaderSupport().version.major, 1);
  const GLSLVersion v = CurrentShaderSupport().version;
  CheckGammaThrough(ShaderSupport{SHADER_TYPE_GLSL, 3, v}, 1);
  CheckGammaThrough(ShaderSupport{SHADER_TYPE_ARB, 3, v}, 2);
}

TEST_F(ShaderProgramTest, ABrokenProgramLeavesSoftwareGammaAndDestroyingUnbinds) {
  ASSERT_TRUE(GetShaderSupport());
  ShaderSource broken = {GL_FRAGMENT_SHADER, "void main() { this is not GLSL; }", 1, 0};
  ShaderProgramVersion versions[1] = {{PROXY_GAMMA_PROGRAM, SHADER_TYPE_GLSL, {1, 10, 0}, {-1, -1, -1},
                                       {nullptr, nullptr}, {&broken, nullptr}, {0, 0}, 0, 0, false, 0}};
  ASSERT_TRUE(AddShaderProgram(versions, 1));
  EXPECT_FALSE(CreateShaderProgram());
  EXPECT_FALSE(versions[0].created);
  EXPECT_EQ(versions[0].program, 0u);
  EXPECT_EQ(broken.shader, 0u);
  EXPECT_FALSE(MakeShaderProgramActive(PROXY_GAMMA_PROGRAM));
  EXPECT_FALSE(SetProxyShaderGamma(0.45f));
  DestroyShaderPrograms();

  // A linked program that is current is unbound before it goes.
  int count = 0;
  ShaderProgramVersion* gamma = ProxyGammaProgramVersions(&count);
  ASSERT_TRUE(AddShaderProgram(gamma, count));
  ASSERT_TRUE(CreateShaderProgram());
  ASSERT_TRUE(MakeShaderProgramActive(PROXY_GAMMA_PROGRAM));
  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_NE(current, 0);
  DestroyShaderPrograms();
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(current, 0);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  const std::string log = CloseAndRead();
  EXPECT_NE(log.find("CreateShaderGLSL() - Fragment Shader failed to compile. Shader ID = "), std::string::npos) << log;
}

TEST_F(ShaderProgramTest, WeakModesUseNoShader) {
  GlobalOpenGLSettings().drawingMode = OPTIMIZE_FOR_COMPATIBILITY;
  EXPECT_FALSE(GetShaderSupport());
  EXPECT_EQ(CurrentShaderSupport().type, SHADER_TYPE_NONE);
  int count = 0;
  ShaderProgramVersion* gamma = ProxyGammaProgramVersions(&count);
  EXPECT_FALSE(AddShaderProgram(gamma, count));
  EXPECT_EQ(SelectedShaderVersion(PROXY_GAMMA_PROGRAM), nullptr);
  EXPECT_FALSE(CreateShaderProgram());
}

}  // namespace
