#pragma once
// The machine's OpenGL drawing mode and the decisions that follow from it.
//
// The mode is stored machine-wide (the registry on Windows, a file natively,
// see platform/platform.h), loaded before the dialog and fixed for its
// lifetime. From the mode, the preview's pixel format (accelerated or not),
// the vendor and what the context offers follow the feature switches the
// renderer reads. The decisions are pure functions here, so that every row
// of their tables is tested without the hardware that would produce it.
#include <cstdint>
#include <string>

#include "gl/capabilities.h"

enum OpenGLOptimizationSetting : int32_t {
  OPTIMIZE_NOT_DETERMINED = 0,
  OPTIMIZE_FOR_QUALITY = 1,
  OPTIMIZE_FOR_SPEED = 2,
  OPTIMIZE_FOR_COMPATIBILITY = 3,
  OPTIMIZE_NONE = 4,
};

// "OPTIMIZE_FOR_QUALITY", ...; "not yet determined" for 0 and "Unrecognized
// Setting" for any value outside 0..4.
const char* DrawingModeName(int32_t mode);
// The options dialog's label of a mode 1..4; empty otherwise.
const char* DrawingModeLabel(int32_t mode);

extern const char* const OPENGL_SETTINGS_KEY;  // "Software\\Brightwerk Software\\Glimmark\\2.0\\OpenGLSettings"

struct OpenGLSettings {
  std::string installedProductVersion;
  int32_t drawingMode;        // current value
  int32_t storedDrawingMode;  // as last read from or written to the store
  // The store could be opened for reading only (a user without the rights
  // to change machine-wide settings): writes are not tried again.
  bool readOnly;
};

// The store's two values; missing values read as mode 0 and an empty
// version. A key that cannot be opened for writing is read read-only.
bool ReadOpenGLRegistryData(OpenGLSettings* settings);
// False when either value could not be written. A store that refuses
// writing for lack of rights is noted once per run in the log and leaves
// settings->readOnly set, so callers need not report the failure again.
bool WriteOpenGLRegistryData(OpenGLSettings* settings);
// The process-wide settings the dialog, the preview and the options use.
OpenGLSettings& GlobalOpenGLSettings();
// Reads the store into the global settings; a failure leaves mode 0, so the
// default is decided again by the next preview. Starts a new run for the
// once-per-run note of a refused write.
bool LoadOpenGLDrawingSettings();
void BeginOpenGLSettingsRun();

// Vendor codes of the GL_VENDOR text.
enum OpenGLVendor : int32_t {
  VENDOR_UNKNOWN = 0,  // no vendor text
  VENDOR_ATI = 1,
  VENDOR_NVIDIA = 2,
  VENDOR_INTEL = 3,
  VENDOR_MICROSOFT = 4,
  VENDOR_MESA = 5,
  VENDOR_VMWARE = 6,
  VENDOR_ASUS = 7,
  VENDOR_OTHER = 8,
};
// The first of "ATI ", "NVIDIA ", "INTEL ", "MICROSOFT ", "MESA ",
// "VMWARE, ", "ASUS " that the upper-cased text contains, blank included:
// "Intel" alone is VENDOR_OTHER, and so is "Mesa/X.org".
int32_t OpenGLVendorOf(const char* vendor);

struct FeatureSwitches {
  bool useOffscreenBitmap;
  bool useVertexBufferObjects;
  bool useFrameBufferObjects;
  bool usePixelBufferObjects;
  bool useShaderProgram;
  bool mustUsePowerOfTwoSizedTextures;
};
// A context is weak in the compatibility and software modes and when it is
// not accelerated; a weak context uses none of the optional features.
bool IsWeakContext(int32_t mode, bool accelerated);
FeatureSwitches DecideFeatureSwitches(int32_t mode, bool accelerated, int32_t vendor, const OpenGLCapabilities& caps);

// The default mode for a context: OPTIMIZE_NONE when not accelerated, else
// quality from OpenGL 2.0 on and compatibility below, with the known weak
// models of some vendors stepped down. Without a current context: 0 when
// accelerated (decide later), OPTIMIZE_NONE otherwise.
int32_t DefaultDrawingModeFor(bool haveContext, bool accelerated, const char* vendor, const char* renderer,
                              const OpenGLCapabilities& caps);

// What the installer stores: a stored 1..3 stays unless the machine has no
// accelerated format (then software), 4 stays, anything else becomes the
// default of the machine's context.
int32_t InstalledDrawingMode(int32_t stored, bool accelerated, int32_t defaultMode);
