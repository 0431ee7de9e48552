#pragma once
// The preview's stars, drawn with OpenGL: each shape (the single spike and
// the soft flare) becomes textures at nine brightness levels, and every
// light source adds one textured quad per spike point and one for its flare,
// collected into vertex batches and per-level index lists. The quads are
// screened onto a cleared buffer, giving the same picture as the final
// render's effects layer, in the display's linear colours.
//
// The spike texture holds one spike running along +x from the light
// source's pixel (column 0), centred across the texture's height; the flare
// texture holds the flare around the light's pixel. Both have one empty
// column and row beyond what they use, so that filtering at their far edges
// reads nothing left over from a larger earlier texture.
//
// Each quad is cut to the part of its texture that its light source makes
// visible: a faint light's spike is shorter than a bright one's, as in the
// final render, and costs only what it shows.
//
// Textures are rebuilt only when the settings they depend on change;
// batches are built every frame. Everything here runs on the preview's
// render thread with its context current.
#include <atomic>
#include <cstdint>
#include <vector>

#include "analysis/light_source.h"
#include "analysis/sampling_shapes.h"
#include "effects/preview_batches.h"
#include "effects/star_shapes.h"
#include "image/image.h"
#include "params/rendering_parameters.h"

struct PreviewShapeSlot {
  uint32_t texture;
  int32_t textureWidth;  // as OpenGL holds it (0: not yet defined)
  int32_t textureHeight;
  uint32_t pixelBuffer;  // pixel-unpack buffer, 0 without
  size_t pixelBufferSize;
};

// Buffer objects of one batch, when they are used.
struct PreviewBatchBuffers {
  uint32_t vertexBuffer;
  uint32_t elementBuffers[PREVIEW_SLOTS];
  bool uploaded;  // this frame's contents are in the buffers
};

struct PreviewShape {
  bool isSpike;
  bool ready;                    // textures hold the current shape
  RenderingParameters previous;  // what they were built from; 0xFF bytes at set-up
  int32_t builtDiagonal;
  int32_t builtBytesPerChannel;
  bool builtGray;
  StarEffectSettings settings;
  SamplingShape shape;
  Image textureImage;  // scratch: one level before its upload
  // The part of the texture the shape uses and the texel of the light's
  // pixel in it; 0 x 0 when the shape is empty.
  int32_t usedWidth;
  int32_t usedHeight;
  int32_t originX;
  int32_t originY;
  // Per level, how far from the light the shape can still be seen: the
  // brightest texel (linear, 0..1) at each distance or beyond, along the
  // spike (columns) or out from the flare's centre (square rings). A quad
  // ends where even its brightest remaining texel, times its colour, would
  // stay below what the final render draws.
  std::vector<float> reach[PREVIEW_LEVELS];
  PreviewBatches batches;
  std::vector<PreviewBatchBuffers> buffers;  // parallel to batches.batches
  PreviewShapeSlot slots[PREVIEW_SLOTS];
};

struct PreviewEffects {
  bool setUp;
  bool bufferObjects;   // vertex and element buffers
  bool pixelBuffers;    // pixel-unpack buffers for the texture uploads
  bool powerOfTwo;      // texture sizes
  bool sixteenBit;      // 16-bit texture images
  int32_t filter;       // GL_LINEAR or GL_NEAREST
  PreviewShape spike;
  PreviewShape flare;
};

// What one frame draws.
struct PreviewFrame {
  const RenderingParameters* parameters;
  const LightSourceList* table;
  int32_t diagonal;  // of the host image's filter rectangle
  int32_t bytesPerChannel;
  bool gray;
  ColorProfileHandle displayProfile;  // null: the standard profile
  const std::atomic<bool>* abort;     // may be null
};

// After the preview context and its drawing settings exist: texture names,
// buffer choices, the shapes' generators. False after a report.
bool SetUpPreviewEffectShapes(PreviewEffects* effects);

// Rebuilds the shape's nine textures if the frame's settings changed what
// they hold (or they were never built). False after a report.
bool UpdatePreviewSpikeTextures(PreviewEffects* effects, const PreviewFrame& frame);
bool UpdatePreviewFlareTextures(PreviewEffects* effects, const PreviewFrame& frame);

// This frame's quads; false when the frame was abandoned (abort) or memory
// ran out (the user was warned; what was built is drawn).
bool BuildPreviewSpikeBatches(PreviewEffects* effects, const PreviewFrame& frame);
bool BuildPreviewFlareBatches(PreviewEffects* effects, const PreviewFrame& frame);

// Both shapes of one frame, textures updated first, onto whatever is bound,
// in host image pixels through the current matrices; blending is the
// caller's (see DrawPreviewEffectsPass).
bool DrawPreviewFrame(PreviewEffects* effects, const PreviewFrame& frame);

// The effects pass: clears the bound colour buffer and screens every star of
// the frame onto it, with host image pixel (x, y) drawn at
// (offsetX + x * zoom, offsetY + y * zoom) of the current projection. State
// is restored afterwards. False after a report.
bool DrawPreviewEffectsPass(PreviewEffects* effects, const PreviewFrame& frame, double offsetX, double offsetY,
                            double zoom);

// The steps, for the drawing code and its tests.
bool LoadShapeTexture(PreviewEffects* effects, PreviewShape* shape, int32_t level);
bool CopyShapeVerticesToVBO(PreviewShape* shape, int32_t batch);
bool CopySubShapeIndicesToVBO(PreviewShape* shape, int32_t batch, int32_t slot);
bool CopyShapeIndexArraysToVBO(PreviewShape* shape, int32_t batch);
bool DrawCompositeOpenGLShape(PreviewEffects* effects, PreviewShape* shape);

// Deletes the textures and buffers and frees both shapes; the record is
// zeroed. Safe on a record never set up.
void DestroyFilterEffects_OpenGL(PreviewEffects* effects);
