// The preview window under Wine: a photo shown with its stars by the
// background task in each drawing mode (set through the machine store), the
// frame as the window paints it compared with the final render, saved for
// people to look at; and closing at any moment.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "color/color_management.h"
#include "final_render_support.h"
#include "gl/drawing_settings.h"
#include "gl/opengl_drawing.h"
#include "image/pixel_access.h"
#include "module/user_messages.h"
#include "preview/background_task.h"
#include "preview/host_proxy_levels.h"
#include "preview/proxy_window.h"
#include "runtime/buffers.h"
#include "unit/analysis/analysis_test_support.h"
#include "unit/gl/settings_store_support.h"

namespace {

using Clock = std::chrono::steady_clock;

// Serves the window's messages until `done` or the time is up.
template <typename Done>
bool PumpUntil(Done done, int seconds) {
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (Clock::now() > end) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
  return true;
}

class ProxyWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    storetest::UsePrivateStore();
    int16_t status = 0;
    ASSERT_TRUE(InitializeColorManagement(nullptr, 0, IMAGE_MODE_RGB8, &status));
  }
  void TearDown() override {
    if (frame_ != nullptr) DestroyWindow(frame_);
    SetPreviewSession(nullptr);
    ReleaseHostProxyImage(&proxy_);
    DeallocateBuffer(&table_.records);
    ReleaseColorManagement();
    GlobalOpenGLSettings() = OpenGLSettings{};
  }

  // The session a preview of `photo` reads, at factory settings and 100 %.
  void Show(const Image& photo) {
    session_ = PreviewSession{};
    session_.parameters = FACTORY_PARAMETER_SET;
    session_.view.zoomPercent = 100.0;
    session_.view.effectsVisible = true;
    session_.proxy = &proxy_;
    session_.hostImage = &photo;
    session_.table = &table_;
    session_.analysisComplete = &analysed_;
    LayOutHostProxyLevels(&proxy_, photo);
    SetPreviewSession(&session_);
  }

  // A top-level window standing in for the dialog, with the preview inside.
  void Open(int32_t mode, const Image& photo, int32_t width, int32_t height) {
    OpenGLSettings stored{"", mode, mode, false};
    ASSERT_TRUE(WriteOpenGLRegistryData(&stored));
    ASSERT_TRUE(LoadOpenGLDrawingSettings());
    ASSERT_EQ(GlobalOpenGLSettings().drawingMode, mode);
    Show(photo);
    frame_ = CreateWindowExA(0, "STATIC", "Glimmark preview", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, width + 40,
                             height + 60, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(frame_, nullptr);
    proxy_window_ = CreateProxyWindow(frame_, ImageRect{0, 0, width, height}, &session_, &resultCode_);
    ASSERT_NE(proxy_window_, nullptr);
    ReleaseMainDialogInitialization();
    SignalRenderingStarted();
  }

  // Closing as the dialog does: the stop first, then the windows. The task
  // must end at once whatever it was doing; Wine itself takes a moment to
  // take down a window that had an OpenGL context, which is not ours to time.
  std::chrono::milliseconds Close() {
    const auto start = Clock::now();
    AbortBackgroundRendering();
    while (!BackgroundTaskFinished() && Clock::now() - start < std::chrono::seconds(10)) Sleep(1);
    const auto ended = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    DestroyWindow(frame_);
    frame_ = nullptr;
    return ended;
  }

  PreviewSession session_{};
  HostProxyImage proxy_{};
  LightSourceList table_{};
  std::atomic<bool> analysed_{true};
  std::atomic<int16_t> resultCode_{0};
  HWND frame_ = nullptr;
  void* proxy_window_ = nullptr;
};

TEST_F(ProxyWindowTest, ThePhotoWithItsStarsMatchesTheFinalRenderInEveryMode) {
  const std::string folder = analysistest::TestDataFolder();
  if (folder.empty()) GTEST_SKIP() << "no test photographs here";
  analysistest::OwnedImage photo;
  std::vector<LightSourceRecord> lights;
  std::string reason;
  const auto analysisStart = Clock::now();
  ASSERT_TRUE(finaltest::LoadAnalysedPhoto(folder, &photo, &lights, &reason)) << reason;
  const auto analysisTime = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - analysisStart);
  ASSERT_TRUE(finaltest::FillTable(&table_, lights));
  const int32_t w = photo.image.width, h = photo.image.height;
  ParameterSet set = FACTORY_PARAMETER_SET;
  RenderingParameters p;
  InitializeFinalRenderingParameters(&p, &set);
  const std::vector<uint8_t> final =
      finaltest::FinalRender(photo.image, table_, p, ImageDiagonal(w, h));
  const char* artifacts = std::getenv("GLIMMARK_ARTIFACTS");
  for (int32_t mode : {OPTIMIZE_FOR_QUALITY, OPTIMIZE_FOR_COMPATIBILITY, OPTIMIZE_NONE}) {
    const auto openStart = Clock::now();
    Open(mode, photo.image, w + 2, h + 2);
    ASSERT_TRUE(PumpUntil([] { return ProxyFramesShown() > 0; }, 120)) << "no frame in mode " << mode;
    // For people tuning the preview: opening to the first frame with stars.
    std::printf("window, mode %d: photo read and analysed in %lld ms, the first frame %lld ms after opening\n", mode,
                static_cast<long long>(analysisTime.count()),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - openStart).count()));
    EXPECT_EQ(resultCode_.load(), 0);
    std::vector<uint8_t> shown;
    int32_t fw = 0, fh = 0;
    ASSERT_TRUE(CopyShownProxyFrame(&shown, &fw, &fh));
    ASSERT_EQ(fw, w + 2);
    ASSERT_EQ(fh, h + 2);
    if (artifacts != nullptr)
      finaltest::WritePng((std::string(artifacts) + "/preview_mode" + std::to_string(mode) + "_win64.png").c_str(),
                          shown.data(), fw, fh, true);
    std::vector<int> differences;
    double total = 0;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          // Bottom-up rows inside the one-pixel border.
          const int d = std::abs(shown[(static_cast<size_t>(fh - 2 - y) * fw + x + 1) * 4 + c] -
                                 final[(static_cast<size_t>(y) * w + x) * 4 + c]);
          differences.push_back(d);
          total += d;
        }
    std::sort(differences.begin(), differences.end());
    const double mean = total / static_cast<double>(differences.size());
    const int p99 = differences[differences.size() * 99 / 100];
    std::printf("window, mode %d: mean %.3f, p99 %d of 255 over the photo\n", mode, mean, p99);
    // The drawing state is the preview context's, known after its first frame.
    const bool sixteen =
        CompositeTextureFormat().internalFormat != DrawingState().formats[TEXTURE_FORMAT_8].internalFormat;
    EXPECT_LE(mean, sixteen ? 2.0 : 3.0) << "mode " << mode;
    EXPECT_LE(p99, sixteen ? 8 : 16) << "mode " << mode;
    EXPECT_LT(Close().count(), 1000) << "closing waits for nothing";
  }
}

TEST_F(ProxyWindowTest, ClosingBeforeTheAnalysisEndsNeverHangs) {
  Image tiny{};
  const ImageRect rect{0, 0, 32767, 2};
  ASSERT_TRUE(CreateImage(rect, true, &tiny, rect, IMAGE_MODE_RGB8, GetImageProfile(), 2.2, false, nullptr));
  analysed_ = false;  // an analysis that never finishes
  Open(OPTIMIZE_FOR_QUALITY, tiny, 500, 300);
  PumpUntil([] { return false; }, 1);
  EXPECT_EQ(ProxyFramesShown(), 0u) << "no frame of the photo before the analysis is done";
  // Meanwhile the splash: its star bright in the middle of the window.
  std::vector<uint8_t> splash;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(CopyShownProxyFrame(&splash, &w, &h));
  EXPECT_GT(splash[(static_cast<size_t>(h / 2) * w + w / 2) * 4], 200);
  EXPECT_EQ(splash[(static_cast<size_t>(2) * w + 2) * 4], 127) << "the background";
  EXPECT_LT(Close().count(), 1000);
  EXPECT_FALSE(BackgroundTaskRunning());
  ReleaseImage(&tiny);
}

TEST_F(ProxyWindowTest, EmptyAndHugeWindowsAreServedAlike) {
  Image photo{};
  const ImageRect rect{0, 0, 300, 200};
  ASSERT_TRUE(CreateImage(rect, true, &photo, rect, IMAGE_MODE_RGB8, GetImageProfile(), 2.2, false, nullptr));
  const PixelValue grey{4000000, 4000000, 4000000, 0xFFFFFFFE, 0xFFFFFFFE};
  FillImageRect(rect, grey, &photo);
  // No room at all: nothing to draw, and no failure either.
  Open(OPTIMIZE_FOR_QUALITY, photo, 0, 0);
  PumpUntil([] { return false; }, 1);
  EXPECT_EQ(resultCode_.load(), 0);
  EXPECT_LT(Close().count(), 1000);
  // Far larger than the screen: the frame has the window's size, the image
  // in its middle.
  Open(OPTIMIZE_FOR_QUALITY, photo, 4000, 3000);
  ASSERT_TRUE(PumpUntil([] { return ProxyFramesShown() > 0; }, 120));
  std::vector<uint8_t> shown;
  int32_t w = 0, h = 0;
  ASSERT_TRUE(CopyShownProxyFrame(&shown, &w, &h));
  EXPECT_EQ(w, 4000);
  EXPECT_EQ(h, 3000);
  const auto at = [&](int32_t x, int32_t y) { return shown[(static_cast<size_t>(h - 1 - y) * w + x) * 4]; };
  EXPECT_EQ(at(20, 20), 127) << "the background";
  EXPECT_NE(at(2000, 1500), 127) << "the image";
  EXPECT_EQ(resultCode_.load(), 0);
  EXPECT_LT(Close().count(), 1000);
  ReleaseImage(&photo);
}

TEST_F(ProxyWindowTest, WithoutOpenGLThePreviewFailsCleanly) {
  if (GetEnvironmentVariableA("GLIMMARK_EXPECT_NO_OPENGL", nullptr, 0) == 0) GTEST_SKIP() << "needs a display without GLX";
  Image photo{};
  const ImageRect rect{0, 0, 64, 64};
  ASSERT_TRUE(CreateImage(rect, true, &photo, rect, IMAGE_MODE_RGB8, GetImageProfile(), 2.2, false, nullptr));
  // What the process holds before, and after a failed preview is gone.
  HANDLE self = GetCurrentProcess();
  DWORD handles = 0, handlesAfter = 0;
  GetProcessHandleCount(self, &handles);
  const DWORD gdi = GetGuiResources(self, GR_GDIOBJECTS), user = GetGuiResources(self, GR_USEROBJECTS);
  const BufferUsage buffers = GetBufferUsage();
  Show(photo);
  frame_ = CreateWindowExA(0, "STATIC", "Glimmark preview", WS_OVERLAPPEDWINDOW, 0, 0, 200, 200, nullptr, nullptr,
                           nullptr, nullptr);
  ASSERT_NE(frame_, nullptr);
  moduletest::UserMessageCapture shown;  // the user is told; the box is answered
  EXPECT_EQ(CreateProxyWindow(frame_, ImageRect{0, 0, 100, 100}, &session_, &resultCode_), nullptr);
  EXPECT_EQ(moduletest::CountMessages(shown.Stop(), "Could not set pixel format for OpenGL operations."), 1);
  EXPECT_EQ(resultCode_.load(), -50) << "the dialog closes with the error";
  EXPECT_FALSE(BackgroundTaskRunning());
  DestroyWindow(frame_);
  frame_ = nullptr;
  GetProcessHandleCount(self, &handlesAfter);
  EXPECT_EQ(handlesAfter, handles);
  EXPECT_EQ(GetGuiResources(self, GR_GDIOBJECTS), gdi);
  EXPECT_EQ(GetGuiResources(self, GR_USEROBJECTS), user);
  EXPECT_EQ(GetBufferUsage().current, buffers.current);
  ReleaseImage(&photo);
}

// On demand (GLIMMARK_PREVIEW_TIMINGS=1): what the preview costs under Wine
// on a 24-megapixel photo with 500 light sources in a 1000 x 700 window,
// fitted. Numbers for people, no bounds.
TEST_F(ProxyWindowTest, TimingsOfA24MegapixelPhoto) {
  if (std::getenv("GLIMMARK_PREVIEW_TIMINGS") == nullptr) GTEST_SKIP() << "on demand";
  Image photo{};
  const ImageRect rect{0, 0, 6000, 4000};
  ASSERT_TRUE(CreateImage(rect, false, &photo, rect, IMAGE_MODE_RGB8, GetImageProfile(), 2.2, false, nullptr));
  auto* bytes = static_cast<uint8_t*>(photo.pixels.buffer);
  for (size_t i = 0; i < photo.pixels.size; ++i) bytes[i] = static_cast<uint8_t>((i * 7) >> 10);
  std::vector<LightSourceRecord> lights(500);
  uint32_t seed = 3;
  for (LightSourceRecord& e : lights) {
    e = LightSourceRecord{};
    seed = seed * 1664525u + 1013904223u;
    e.x = static_cast<int32_t>(seed % 6000);
    seed = seed * 1664525u + 1013904223u;
    e.y = static_cast<int32_t>(seed % 4000);
    e.red = e.green = e.blue = e.brightness = 0x10000000u + (seed >> 4) % 0x30000000u;
    e.effectWeight = 0xFFFFFFFEu;
    e.state = LIGHT_SOURCE_FORCED;
  }
  ASSERT_TRUE(finaltest::FillTable(&table_, lights));
  auto since = [](Clock::time_point start) {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
  };
  auto start = Clock::now();
  session_.view.zoomPercent = 1000.0 / 6000 * 100;
  Open(OPTIMIZE_FOR_QUALITY, photo, 1000, 700);
  session_.view.zoomPercent = 1000.0 / 6000 * 100;
  ASSERT_TRUE(PumpUntil([] { return ProxyFramesShown() > 0; }, 300));
  std::printf("24 MP, fitted: first frame %lld ms after opening\n", since(start));
  const auto nextFrame = [&](const char* what) {
    const uint32_t before = ProxyFramesShown();
    start = Clock::now();
    UpdateProxyDisplay(nullptr, 0x13);
    ASSERT_TRUE(PumpUntil([&] { return ProxyFramesShown() > before; }, 300));
    std::printf("24 MP, fitted: %s %lld ms\n", what, since(start));
  };
  for (int i = 0; i < 3; ++i) {
    session_.parameters.angle = static_cast<int16_t>(16 + i);
    nextFrame("angle change");
  }
  for (int i = 0; i < 3; ++i) {
    session_.view.scrollX = 10 * (i + 1);
    session_.view.zoomPercent = 40.0;
    nextFrame(i == 0 ? "zoom to 40 %" : "scroll");
  }
  Close();
  ReleaseImage(&photo);
}

}  // namespace
