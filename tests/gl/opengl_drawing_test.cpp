// OpenGL drawing settings on a real context (Mesa's llvmpipe: EGL natively,
// WGL under Wine): the formats it grants really hold what they claim, the
// default mode is decided and stored once, and GLEW descriptors are kept
// per context, four at most, from several threads.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gl/buffer_objects.h"
#include "gl/gl_api.h"
#include "gl/glew_contexts.h"
#include "gl/opengl_drawing.h"
#include "gl/texture_formats.h"
#include "test_gl_context.h"
#include "unit/gl/settings_store_support.h"
#include "unit/runtime/log_test_support.h"

namespace {

class OpenGLDrawingTest : public logtest::DebugLogTest {
 protected:
  void SetUp() override {
    logtest::DebugLogTest::SetUp();
    storetest::UsePrivateStore();
    storetest::RemoveStore();
    OpenLog(LOGMODE_IMMEDIATE);
    ASSERT_TRUE(context_.Create()) << context_.Failure();
  }
  void TearDown() override {
    context_.Release();
    storetest::RemoveStore();
    logtest::DebugLogTest::TearDown();
  }
  TestGLContext context_;
};

// Draws into a render buffer of the format and reads the clear colour back
// as floats: a format holds what it claims only if the values survive to
// its precision.
double RoundTripError(const TextureFormat& format, const float colour[4]) {
  GLuint frameBuffer = 0, renderBuffer = 0;
  glbuffers::GenFrameBuffers(&frameBuffer, &renderBuffer);
  glbuffers::BindFrameBuffers(frameBuffer, renderBuffer);
  glbuffers::RenderBufferStorage(format.internalFormat, 4, 4);
  glbuffers::AttachRenderBuffer(renderBuffer);
  double error = 1.0;
  GLenum status = 0;
  if (glbuffers::FrameBufferComplete(&status)) {
    glViewport(0, 0, 4, 4);
    glDisable(GL_SCISSOR_TEST);
    if (glClampColor != nullptr) glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glClearColor(colour[0], colour[1], colour[2], colour[3]);
    glClear(GL_COLOR_BUFFER_BIT);
    float pixel[4] = {};
    glReadPixels(1, 1, 1, 1, GL_RGBA, GL_FLOAT, pixel);
    error = 0;
    for (int i = 0; i < 4; ++i) error = std::fmax(error, std::fabs(pixel[i] - colour[i]));
  }
  glbuffers::BindFrameBuffers(0, 0);
  glbuffers::DeleteFrameBuffers(&frameBuffer, &renderBuffer);
  return glGetError() == GL_NO_ERROR ? error : 1.0;
}

TEST_F(OpenGLDrawingTest, EachGrantedFormatHoldsTheDepthItClaims) {
  TextureFormat formats[3] = {};
  int16_t resultCode = 0;
  ASSERT_TRUE(CharacterizeBestFormats(true, VENDOR_OTHER, formats, &resultCode));
  EXPECT_EQ(resultCode, 0);
  EXPECT_EQ(formats[TEXTURE_FORMAT_8].pixelDepth, 4);
  EXPECT_EQ(formats[TEXTURE_FORMAT_8].dataType, static_cast<uint32_t>(GL_UNSIGNED_BYTE));
  EXPECT_EQ(formats[TEXTURE_FORMAT_16].pixelDepth, 8);
  EXPECT_EQ(formats[TEXTURE_FORMAT_32].pixelDepth, 16);
  EXPECT_EQ(formats[TEXTURE_FORMAT_32].dataType, static_cast<uint32_t>(GL_FLOAT));
  // A value between the steps of 8 bits (and of half floats).
  const float colour[4] = {0.123456789f, 0.5f, 0.987654321f, 0.333333333f};
  EXPECT_LT(RoundTripError(formats[TEXTURE_FORMAT_8], colour), 0.5 / 255 + 1e-6);
  EXPECT_GT(RoundTripError(formats[TEXTURE_FORMAT_8], colour), 1e-4) << "8-bit storage cannot be exact";
  EXPECT_LT(RoundTripError(formats[TEXTURE_FORMAT_16], colour), 1.0 / 2048);
  EXPECT_LT(RoundTripError(formats[TEXTURE_FORMAT_32], colour), 1e-7);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

  // The generic Windows renderer is given 8-bit RGBA without a probe.
  ASSERT_TRUE(CharacterizeBestFormats(true, VENDOR_MICROSOFT, formats, &resultCode));
  for (const TextureFormat& f : formats) {
    EXPECT_EQ(f.internalFormat, static_cast<uint32_t>(GL_RGBA8));
    EXPECT_EQ(f.pixelDepth, 4);
    EXPECT_EQ(f.dataType, static_cast<uint32_t>(GL_UNSIGNED_BYTE));
  }
}

TEST_F(OpenGLDrawingTest, TheFirstPreviewDecidesStoresAndLogsTheMode) {
  OpenGLSettings& settings = GlobalOpenGLSettings();
  ASSERT_TRUE(LoadOpenGLDrawingSettings());
  ASSERT_EQ(settings.drawingMode, OPTIMIZE_NOT_DETERMINED);
  int16_t resultCode = 0;
  ASSERT_TRUE(InitializeOpenGLDrawingSettings(context_.accelerated(), &resultCode));
  // Mesa reports OpenGL 4.5 here (or the version a test run asks for).
  const int32_t decided = settings.drawingMode;
  EXPECT_NE(decided, OPTIMIZE_NOT_DETERMINED);
  OpenGLSettings stored{};
  ASSERT_TRUE(ReadOpenGLRegistryData(&stored));
  EXPECT_EQ(stored.drawingMode, decided);
  EXPECT_EQ(DrawingState().vendor, OpenGLVendorOf(reinterpret_cast<const char*>(glGetString(GL_VENDOR))));
  EXPECT_FALSE(DrawingState().versionText.empty());
  EXPECT_EQ(DrawingState().versionText.find(' '), std::string::npos);

  const std::string log = CloseAndRead();
  EXPECT_NE(log.find(std::string("OpenGL Optimization Setting = ") + DrawingModeName(decided)), std::string::npos);
  EXPECT_NE(log.find("Selected Internal Texture Formats:"), std::string::npos);

  // With the mode decided, the per-call predicates answer for this context.
  const FeatureSwitches& s = DrawingState().switches;
  EXPECT_EQ(UseFrameBufferObjects(), s.useFrameBufferObjects);
  EXPECT_EQ(UseVertexBufferObjects(), s.useVertexBufferObjects);
  EXPECT_EQ(UsePixelBufferObjects(), s.usePixelBufferObjects);
  settings = OpenGLSettings{};
}

// The switches a run under MESA_GL_VERSION_OVERRIDE must log: CTest gives
// the expected row (worked out from the rules for "Mesa" at that version)
// as GLIMMARK_EXPECT_SWITCHES, six 0/1 digits in the log's order.
TEST_F(OpenGLDrawingTest, TheLogShowsTheSwitchesOfThisVersion) {
  const char* expected = std::getenv("GLIMMARK_EXPECT_SWITCHES");
  if (expected == nullptr) GTEST_SKIP() << "run by the version override tests only";
  const char* expectedMode = std::getenv("GLIMMARK_EXPECT_MODE");
  GlobalOpenGLSettings() = OpenGLSettings{};
  int16_t resultCode = 0;
  EXPECT_TRUE(InitializeOpenGLDrawingSettings(context_.accelerated(), &resultCode));
  const std::string log = CloseAndRead();
  const char* names[6] = {"UseOffscreenBitmap", "UseVertexBufferObjects", "UseFrameBufferObjects",
                          "UsePixelBufferObjects", "UseShaderProgram", "MustUsePowerOfTwoSizedTextures"};
  ASSERT_EQ(std::string(expected).size(), 6u);
  for (int i = 0; i < 6; ++i) {
    const std::string line = std::string("     ") + names[i] + " = " + (expected[i] == '1' ? "true" : "false");
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  if (expectedMode != nullptr) {
    EXPECT_NE(log.find(std::string("OpenGL Optimization Setting = ") + expectedMode), std::string::npos) << log;
  }
  const char* version = std::getenv("MESA_GL_VERSION_OVERRIDE");
  if (version != nullptr) {
    std::string number(version);
    number = number.substr(0, number.find_first_not_of("0123456789."));
    EXPECT_NE(log.find("OpenGL Version " + number + " "), std::string::npos) << log;
  }
  GlobalOpenGLSettings() = OpenGLSettings{};
}

TEST(GLEWDescriptors, FourContextsAtMostAndEachKeepsItsOwn) {
  std::vector<std::unique_ptr<TestGLContext>> contexts;
  for (int i = 0; i < GLEW_CONTEXT_SLOTS; ++i) {
    contexts.push_back(std::make_unique<TestGLContext>());
    ASSERT_TRUE(contexts.back()->Create()) << "context " << i + 1 << ": " << contexts.back()->Failure();
    ASSERT_NE(glewGetContext(), nullptr);
    EXPECT_TRUE(glewGetContext()->capabilities.version1_4);
  }
  EXPECT_EQ(LiveGLEWContextCount(), GLEW_CONTEXT_SLOTS);
  TestGLContext fifth;
  EXPECT_FALSE(fifth.Create());
  EXPECT_EQ(LiveGLEWContextCount(), GLEW_CONTEXT_SLOTS);
  // A slot comes free with its context.
  contexts.front()->Release();
  EXPECT_TRUE(fifth.Create()) << fifth.Failure();
  fifth.Release();
  contexts.clear();
  EXPECT_EQ(LiveGLEWContextCount(), 0);
}

TEST(GLEWDescriptors, TwoThreadsMakeTheirContextsAtOnce) {
  for (int round = 0; round < 5; ++round) {
    bool made[2] = {false, false};
    bool described[2] = {false, false};
    std::thread threads[2];
    for (int t = 0; t < 2; ++t) {
      threads[t] = std::thread([t, &made, &described] {
        TestGLContext context;
        made[t] = context.Create();
        const GLEWContext* glew = made[t] ? glewGetContext() : nullptr;
        described[t] = glew != nullptr && glew->capabilities.version1_4;
        if (made[t]) {
          // Each thread draws with the shared entry points on its own context.
          GLuint frameBuffer = 0;
          glGenFramebuffers(1, &frameBuffer);
          glDeleteFramebuffers(1, &frameBuffer);
          described[t] = described[t] && glGetError() == GL_NO_ERROR;
        }
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_TRUE(made[0] && made[1]) << "round " << round;
    EXPECT_TRUE(described[0] && described[1]) << "round " << round;
  }
  EXPECT_EQ(LiveGLEWContextCount(), 0);
}

}  // namespace
