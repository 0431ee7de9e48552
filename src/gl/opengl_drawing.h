#pragma once
// The drawing settings of the preview's context: the mode's consequences
// (feature switches), the vendor, the version text for the about box and
// the texture formats. Computed once per preview context, on its thread,
// before anything reads them; read-only afterwards.
#include <cstdint>
#include <string>

#include "gl/drawing_settings.h"
#include "gl/texture_formats.h"

struct OpenGLDrawingState {
  bool gpuAcceleration;    // of the preview's pixel format
  int32_t vendor;
  std::string versionText;  // first token of GL_VERSION
  FeatureSwitches switches;
  TextureFormat formats[3];
};
const OpenGLDrawingState& DrawingState();

// The whole GL_VERSION text of the last preview context this process made,
// for the about box; "" before the first. Safe from any thread.
std::string KnownOpenGLVersionString();

// For the current context (its GLEW descriptor must exist). Decides and
// stores the default mode when none is stored yet, computes the switches and
// probes the formats, tracing both. False when the formats cannot be had;
// *resultCode is -50 when no usable 8-bit format exists.
bool InitializeOpenGLDrawingSettings(bool gpuAcceleration, int16_t* resultCode);

int32_t DetermineOpenGLVendor();
int32_t DetermineDefaultDrawingMode(bool gpuAcceleration);

// Recomputed on each call from the mode, the acceleration flag and the
// current context's descriptor (false without one).
bool UseVertexBufferObjects();
bool UseFrameBufferObjects();
bool UsePixelBufferObjects();
// As computed for the preview's context.
bool UseOffscreenBitmap();
bool UseShaderProgram();
bool MustUsePowerOfTwoSizedTextures();

// The format of every preview texture and render buffer: 16-bit where
// quality is asked for on an accelerated context that has a distinct one.
const TextureFormat& CompositeTextureFormat();
uint32_t CompositeInternalFormat();
uint32_t CompositeDataType();
