#include "gl/opengl_drawing.h"

#include <mutex>
#include <string>

#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "runtime/report.h"

namespace {

OpenGLDrawingState State{};
std::mutex KnownVersionLock;  // the about box may read while a context starts
std::string KnownVersion;

const char* TrueFalse(bool value) { return value ? "true" : "false"; }

FeatureSwitches CurrentSwitches() {
  const GLEWContext* context = glewGetContext();
  if (context == nullptr) return FeatureSwitches{};
  return DecideFeatureSwitches(GlobalOpenGLSettings().drawingMode, State.gpuAcceleration, State.vendor,
                               context->capabilities);
}


}  // namespace

const OpenGLDrawingState& DrawingState() { return State; }

int32_t DetermineOpenGLVendor() {
  const char* vendor = OpenGLString(GL_VENDOR);
  if (vendor == nullptr) {
    CHECK_OPENGL_ERROR("DetermineOpenGLVendor() - Failed to obtain OpenGL vendor string.");
    return VENDOR_UNKNOWN;
  }
  return OpenGLVendorOf(vendor);
}

int32_t DetermineDefaultDrawingMode(bool gpuAcceleration) {
  if (CurrentRenderingContext() == nullptr)
    return DefaultDrawingModeFor(false, gpuAcceleration, nullptr, nullptr, OpenGLCapabilities{});
  const GLEWContext* context = glewGetContext();
  OpenGLCapabilities caps = context != nullptr ? context->capabilities : OpenGLCapabilities{};
  return DefaultDrawingModeFor(true, gpuAcceleration, OpenGLString(GL_VENDOR), OpenGLString(GL_RENDERER), caps);
}

std::string KnownOpenGLVersionString() {
  std::lock_guard<std::mutex> guard(KnownVersionLock);
  return KnownVersion;
}

bool InitializeOpenGLDrawingSettings(bool gpuAcceleration, int16_t* resultCode) {
  OpenGLSettings& settings = GlobalOpenGLSettings();
  State.gpuAcceleration = gpuAcceleration;
  if (settings.drawingMode == OPTIMIZE_NOT_DETERMINED) {
    settings.drawingMode = DetermineDefaultDrawingMode(gpuAcceleration);
    if (!WriteOpenGLRegistryData(&settings) && !settings.readOnly) {
      DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
      ReportMessage(&message, STYLE_ERROR, "Debug: Unexpected Error",
                    "InitializeOpenGLDrawingSettings() - Could not write OpenGL settings to registry.");
    }
  }
  const char* version = OpenGLString(GL_VERSION);
  std::string versionText = version != nullptr ? version : "";
  State.versionText = versionText.substr(0, versionText.find(' '));
  {
    std::lock_guard<std::mutex> guard(KnownVersionLock);
    KnownVersion = versionText;
  }
  State.vendor = DetermineOpenGLVendor();
  State.switches = CurrentSwitches();
  const FeatureSwitches& s = State.switches;
  REPORT_TRACE(
      "OpenGL Options settings:\n     OpenGL Optimization Setting = %s\n     UseOffscreenBitmap = %s\n     "
      "UseVertexBufferObjects = %s\n     UseFrameBufferObjects = %s\n     UsePixelBufferObjects = %s\n     "
      "UseShaderProgram = %s\n     MustUsePowerOfTwoSizedTextures = %s\n",
      DrawingModeName(settings.drawingMode), TrueFalse(s.useOffscreenBitmap), TrueFalse(s.useVertexBufferObjects),
      TrueFalse(s.useFrameBufferObjects), TrueFalse(s.usePixelBufferObjects), TrueFalse(s.useShaderProgram),
      TrueFalse(s.mustUsePowerOfTwoSizedTextures));

  bool result = CharacterizeBestFormats(s.useFrameBufferObjects, State.vendor, State.formats, resultCode);
  if (result) {
    const TextureFormat* f = State.formats;
    REPORT_TRACE(
        "Selected Internal Texture Formats:\n     8  bit color: Format = %s, Pixel Depth = %u bytes, Data Type = "
        "%s\n     16 bit color: Format = %s, Pixel Depth = %u bytes, Data Type = %s\n     32 bit color: Format = %s, "
        "Pixel Depth = %u bytes, Data Type = %s\n",
        InternalFormatName(f[0].internalFormat), static_cast<unsigned>(f[0].pixelDepth),
        DataTypeName(f[0].dataType).c_str(), InternalFormatName(f[1].internalFormat),
        static_cast<unsigned>(f[1].pixelDepth), DataTypeName(f[1].dataType).c_str(),
        InternalFormatName(f[2].internalFormat), static_cast<unsigned>(f[2].pixelDepth),
        DataTypeName(f[2].dataType).c_str());
  }
  return result;
}

bool UseVertexBufferObjects() { return CurrentSwitches().useVertexBufferObjects; }
bool UseFrameBufferObjects() { return CurrentSwitches().useFrameBufferObjects; }
bool UsePixelBufferObjects() { return CurrentSwitches().usePixelBufferObjects; }
bool UseOffscreenBitmap() { return State.switches.useOffscreenBitmap; }
bool UseShaderProgram() { return State.switches.useShaderProgram; }
bool MustUsePowerOfTwoSizedTextures() { return State.switches.mustUsePowerOfTwoSizedTextures; }

const TextureFormat& CompositeTextureFormat() {
  const bool sixteen = GlobalOpenGLSettings().drawingMode == OPTIMIZE_FOR_QUALITY && State.gpuAcceleration &&
                       State.formats[TEXTURE_FORMAT_16].internalFormat != State.formats[TEXTURE_FORMAT_8].internalFormat;
  return State.formats[sixteen ? TEXTURE_FORMAT_16 : TEXTURE_FORMAT_8];
}

uint32_t CompositeInternalFormat() { return CompositeTextureFormat().internalFormat; }
uint32_t CompositeDataType() { return CompositeTextureFormat().dataType; }
