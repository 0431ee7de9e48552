#include "gl/drawing_settings.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "runtime/report.h"

const char* const OPENGL_SETTINGS_KEY = "Software\\Brightwerk Software\\Glimmark\\2.0\\OpenGLSettings";

namespace {

const char* const MODE_VALUE = "OpenGLOptimizationSetting";
const char* const VERSION_VALUE = "InstalledProductVersion";
constexpr size_t VERSION_BYTES = 1024;

// A refused write is worth one line per run, not one per attempt.
std::atomic<bool> WriteRefusalNoted{false};

bool IsKnownMode(int64_t mode) { return mode >= OPTIMIZE_NOT_DETERMINED && mode <= OPTIMIZE_NONE; }

std::string UpperCase(const char* text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return result;
}

std::string LowerCase(const char* text) {
  std::string result(text);
  for (char& c : result) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return result;
}

// "ATI" as a word of its own. Inside a word it is no vendor: every
// "NVIDIA Corporation" would otherwise be taken for ATI hardware.
bool ContainsWord(const std::string& text, const char* word) {
  const size_t length = std::strlen(word);
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const bool startsWord = at == 0 || !std::isalnum(static_cast<unsigned char>(text[at - 1]));
    const bool endsWord = at + length == text.size() || !std::isalnum(static_cast<unsigned char>(text[at + length]));
    if (startsWord && endsWord) return true;
  }
  return false;
}

}  // namespace

const char* DrawingModeName(int32_t mode) {
  switch (mode) {
    case OPTIMIZE_NOT_DETERMINED: return "not yet determined";
    case OPTIMIZE_FOR_QUALITY: return "OPTIMIZE_FOR_QUALITY";
    case OPTIMIZE_FOR_SPEED: return "OPTIMIZE_FOR_SPEED";
    case OPTIMIZE_FOR_COMPATIBILITY: return "OPTIMIZE_FOR_COMPATIBILITY";
    case OPTIMIZE_NONE: return "OPTIMIZE_NONE";
    default: return "Unrecognized Setting";
  }
}

const char* DrawingModeLabel(int32_t mode) {
  switch (mode) {
    case OPTIMIZE_FOR_QUALITY: return "Optimize for better display quality";
    case OPTIMIZE_FOR_SPEED: return "Optimize for faster display";
    case OPTIMIZE_FOR_COMPATIBILITY: return "Optimize for greater compatibility";
    case OPTIMIZE_NONE: return "Use Software Rendering";
    default: return "";
  }
}

bool ReadOpenGLRegistryData(OpenGLSettings* settings) {
  settings->readOnly = false;
  MachineSettingsKey* key = nullptr;
  bool created = false;
  uint32_t error = PlatformOpenMachineSettings(OPENGL_SETTINGS_KEY, true, &key, &created);
  if (PlatformErrorIsAccessDenied(error)) {
    // Without the right to change machine-wide settings the stored mode is
    // still the machine's choice: read it, and let the run go on with it.
    settings->readOnly = true;
    error = PlatformOpenMachineSettings(OPENGL_SETTINGS_KEY, false, &key, &created);
    if (PlatformErrorIsNotFound(error)) {
      settings->drawingMode = settings->storedDrawingMode = OPTIMIZE_NOT_DETERMINED;
      settings->installedProductVersion.clear();
      return true;
    }
  }
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not open or create the OpenGL settings registry key. Error = %d.",
                        static_cast<int>(error));
    return false;
  }
  bool result = true;
  if (created) {
    settings->drawingMode = settings->storedDrawingMode = OPTIMIZE_NOT_DETERMINED;
    settings->installedProductVersion.clear();
  } else {
    uint32_t mode = 0;
    error = PlatformReadMachineNumber(key, MODE_VALUE, &mode);
    if (PlatformErrorIsNotFound(error)) {
      mode = 0;
    } else if (error != 0) {
      REPORT_SYSTEM_ERROR(error, "Could not read the m_OpenGLDrawingMode registry key. Error = %d",
                          static_cast<int>(error));
      mode = 0;
      result = false;
    }
    // A value no version of the plug-in writes is not a mode: it counts as
    // undecided, so the next preview decides and stores a real one.
    settings->storedDrawingMode = static_cast<int32_t>(mode);
    settings->drawingMode = IsKnownMode(mode) ? static_cast<int32_t>(mode) : OPTIMIZE_NOT_DETERMINED;

    std::string version;
    error = PlatformReadMachineText(key, VERSION_VALUE, &version, VERSION_BYTES);
    if (PlatformErrorIsNotFound(error)) {
      version.clear();
    } else if (error != 0) {
      REPORT_SYSTEM_ERROR(error, "Could not read the product version registry key. Error = %d",
                          static_cast<int>(error));
      version.clear();
      result = false;
    }
    settings->installedProductVersion = version;
  }
  error = PlatformCloseMachineSettings(key);
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not close the OpenGL settings registry key. Error = %d.",
                        static_cast<int>(error));
    return false;
  }
  return result;
}

bool WriteOpenGLRegistryData(OpenGLSettings* settings) {
  if (settings->readOnly) return false;
  MachineSettingsKey* key = nullptr;
  uint32_t error = PlatformOpenMachineSettings(OPENGL_SETTINGS_KEY, true, &key, nullptr);
  if (PlatformErrorIsAccessDenied(error)) {
    settings->readOnly = true;
    if (!WriteRefusalNoted.exchange(true))
      REPORT_DEBUG("The OpenGL settings cannot be stored for all users of this computer (access denied); the drawing "
                   "mode %s applies to this run only.",
                   DrawingModeName(settings->drawingMode));
    return false;
  }
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not open the OpenGL Settings registry key");
    return false;
  }
  bool result = true;
  error = PlatformWriteMachineNumber(key, MODE_VALUE, static_cast<uint32_t>(settings->drawingMode));
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not write m_OpenGLDrawingMode value.");
    result = false;
  } else {
    settings->storedDrawingMode = settings->drawingMode;
  }
  error = PlatformWriteMachineText(key, VERSION_VALUE, settings->installedProductVersion.c_str());
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not write the Installed Product Version value.");
    result = false;
  }
  error = PlatformCloseMachineSettings(key);
  if (error != 0) {
    REPORT_SYSTEM_ERROR(error, "Could not close the OpenGL Settings registry key");
    return false;
  }
  return result;
}

OpenGLSettings& GlobalOpenGLSettings() {
  static OpenGLSettings settings{};
  return settings;
}

void BeginOpenGLSettingsRun() { WriteRefusalNoted = false; }

bool LoadOpenGLDrawingSettings() {
  BeginOpenGLSettingsRun();
  OpenGLSettings& settings = GlobalOpenGLSettings();
  if (ReadOpenGLRegistryData(&settings)) return true;
  DebugMessage message = MakeDebugMessage(__LINE__, SYSTEM_ERROR, PlatformGetLastError());
  ReportMessage(&message, STYLE_ERROR, "Debug: Unexpected Error",
                "LoadOpenGLDrawingSettings() - Could not read user's preference for OpenGL quality vs. speed");
  settings.drawingMode = OPTIMIZE_NOT_DETERMINED;
  return false;
}

int32_t OpenGLVendorOf(const char* vendor) {
  if (vendor == nullptr) return VENDOR_UNKNOWN;
  static const char* const SEARCHED[] = {"ATI ", "NVIDIA ", "INTEL ", "MICROSOFT ", "MESA ", "VMWARE, ", "ASUS "};
  std::string upper = UpperCase(vendor);
  for (int32_t i = 0; i < 7; ++i)
    if (upper.find(SEARCHED[i]) != std::string::npos) return i + 1;
  return VENDOR_OTHER;
}

bool IsWeakContext(int32_t mode, bool accelerated) {
  return mode == OPTIMIZE_FOR_COMPATIBILITY || mode == OPTIMIZE_NONE || !accelerated;
}

FeatureSwitches DecideFeatureSwitches(int32_t mode, bool accelerated, int32_t vendor, const OpenGLCapabilities& caps) {
  FeatureSwitches s{};
  const bool weak = IsWeakContext(mode, accelerated);
  s.useOffscreenBitmap = !accelerated;
  if (weak) {
    s.mustUsePowerOfTwoSizedTextures = true;
  } else if (caps.version2_0) {
    s.mustUsePowerOfTwoSizedTextures = vendor == VENDOR_NVIDIA && !caps.arbTextureNonPowerOfTwo;
  } else {
    s.mustUsePowerOfTwoSizedTextures = !(caps.version1_4 && caps.arbTextureNonPowerOfTwo);
  }
  s.useShaderProgram = !weak;
  s.useVertexBufferObjects = !weak && (caps.version1_5 || (caps.version1_4 && caps.arbVertexBufferObject));
  s.usePixelBufferObjects =
      !weak && s.useVertexBufferObjects && (caps.version2_1 || (caps.version2_0 && caps.arbPixelBufferObject));
  s.useFrameBufferObjects = !weak && (caps.version3_0 || (caps.version2_1 && caps.arbFramebufferObject));
  return s;
}

int32_t DefaultDrawingModeFor(bool haveContext, bool accelerated, const char* vendor, const char* renderer,
                              const OpenGLCapabilities& caps) {
  if (!haveContext) return accelerated ? OPTIMIZE_NOT_DETERMINED : OPTIMIZE_NONE;
  if (!accelerated) return OPTIMIZE_NONE;
  const int32_t base = caps.version2_0 ? OPTIMIZE_FOR_QUALITY : OPTIMIZE_FOR_COMPATIBILITY;
  const std::string upperVendor = UpperCase(vendor != nullptr ? vendor : "");
  if (ContainsWord(upperVendor, "ATI")) {
    const std::string model = LowerCase(renderer != nullptr ? renderer : "");
    if (model.find("radeon") != std::string::npos && model.find("1950") != std::string::npos)
      return OPTIMIZE_FOR_COMPATIBILITY;
    return base;
  }
  if (upperVendor.find("NVIDIA") != std::string::npos) {
    if (!(caps.nvFloatBuffer && caps.atiTextureFloat)) return OPTIMIZE_FOR_COMPATIBILITY;
    if (renderer != nullptr && std::strcmp(renderer, "GeForce 8600 GT/PCI/SSE2") == 0) return OPTIMIZE_FOR_SPEED;
    return base;
  }
  if (upperVendor.find("INTEL") != std::string::npos) return caps.version1_5 ? base : OPTIMIZE_NONE;
  return base;
}

int32_t InstalledDrawingMode(int32_t stored, bool accelerated, int32_t defaultMode) {
  if (stored >= OPTIMIZE_FOR_QUALITY && stored <= OPTIMIZE_FOR_COMPATIBILITY) return accelerated ? stored : OPTIMIZE_NONE;
  if (stored == OPTIMIZE_NONE) return OPTIMIZE_NONE;
  return defaultMode;
}
