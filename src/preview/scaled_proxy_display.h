#pragma once
// The preview's picture, drawn with OpenGL on the background task's thread:
// the host image at the view's zoom and scroll position, the stars screened
// over it, a checkerboard where the image is transparent, and the display's
// gamma applied last (by the gamma program, or in software on the frame's
// pixels when there is none).
//
// Everything is drawn in linear light: the host image levels
// (preview/host_proxy_levels.h) and the star textures both hold the
// display's colours decoded to linear, and the gamma step encodes the
// finished frame once. With an 8-bit composite (the weak drawing modes) the
// shadows of the image band a little in linear codes; composing in display
// codes instead would spare them but make faint spike ends far brighter than
// the final render draws them, and the stars are what the preview is for.
//
// A pass rebuilds only what its request made stale: a scroll or zoom both
// the image and the star textures, a change of the effect settings only the
// stars. The frame lands in the output frame buffer (0: the window's back
// buffer); presenting it is the window side's business.
#include <atomic>
#include <cstdint>
#include <vector>

#include "analysis/light_source.h"
#include "gl/preview_effects.h"
#include "gl/texture_sets.h"
#include "host/host_image.h"
#include "image/image.h"
#include "params/rendering_parameters.h"

struct ScaledProxyLayer {
  // What is shown, set by the owner before the first pass.
  HostProxyImage* proxy;
  const Image* hostImage;  // the host image copy the levels are made from
  ColorProfileHandle displayProfile;
  const LightSourceList* table;
  bool gray;
  bool effectsOnly;              // the image gives only its alpha; stars on black
  bool screenDrawing;            // a window's back buffer, not an off-screen bitmap
  uint32_t outputFramebuffer;    // where the frame goes (0: the window)
  const std::atomic<bool>* abort;  // may be null
  const std::atomic<bool>* keyboardFocus;  // the preview window has it; may be null
  // The dialog's progress bar during a pass: (done, total), total 0 hides
  // it. May be null.
  void (*progress)(void* context, uint32_t done, uint32_t total);
  void* progressContext;

  // The layer's own state.
  bool initialized;
  bool hostTexturesStale;
  bool effectsStale;
  bool frameChanged;
  bool haveState;
  double zoomPercent;
  int32_t scrollX;
  int32_t scrollY;
  RenderingRect viewRect;
  bool effectsVisible;
  bool previousEffectsOnly;
  RenderingComparison comparison;
  uint32_t checkerboard;  // texture
  bool gammaProgram;      // the gamma program is in use
  Image splashImage;      // the splash picture, once made
  bool splashReady;
  PreviewEffects effects;
};

// The host image's rectangle at the zoom, centred in the view where it is
// smaller, inside a one-pixel border.
ImageRect CenteredImageRect(const ImageRect& view, int32_t imageWidth, int32_t imageHeight, double zoomPercent);

// On the task's thread with its context current and the drawing settings
// initialised. False after a report.
bool InitializeScaledProxyLayer(ScaledProxyLayer* layer);
void DestroyScaledProxyLayer(ScaledProxyLayer* layer);

// Takes the request's view and settings: what they change becomes stale.
void UpdateProxyDisplayState(ScaledProxyLayer* layer, const RenderingParameters& parameters);

// Whether the request's view has room for an image inside its one-pixel
// border; a pass over one without draws nothing.
bool ViewHasRoom(const RenderingParameters& parameters);

// Draws the frame of the current state into the output frame buffer, whose
// viewport is the view. False when a step failed or the pass was aborted; a
// view without room inside its border draws nothing and succeeds.
bool RenderScaledProxyDisplay(ScaledProxyLayer* layer, const RenderingParameters& parameters);

// The splash picture shown until the first frame: a star of our own on a
// night-blue ground, in display codes (blue, green, red, alpha; rows
// top-down).
constexpr int32_t SPLASH_WIDTH = 320;
constexpr int32_t SPLASH_HEIGHT = 200;
void PaintSplashPicture(std::vector<uint8_t>* pixels);
// The module's splash bitmap, when the platform has one (24 or 32 bits,
// uncompressed; the bits must outlive every preview). Without it the
// preview paints the picture above. Null forgets it.
void SetSplashBitmap(const DibDescription* dib);
// Draws the splash centred in the view on the window's background. False
// after a report.
bool DrawSplashScreen(ScaledProxyLayer* layer, const ImageRect& view);

// Whether a frame read back from the output still needs the display gamma:
// neither the gamma program nor the composite's copy applied it (drawing
// into an off-screen bitmap without a program).
bool FrameNeedsSoftwareGamma(const ScaledProxyLayer& layer);

// The frame's pixels (RGBA, alpha untouched) encoded for the display as the
// gamma program would: 8- and 16-bit integers, floats and half floats.
void ApplyDisplayGamma(size_t pixelCount, uint32_t dataType, void* pixels);
// The half-float conversions ApplyDisplayGamma uses (table driven).
uint16_t FloatToHalf(float value);
float HalfToFloat(uint16_t half);
