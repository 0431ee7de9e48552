#include "gl/preview_effects.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "color/blend.h"
#include "color/color_management.h"
#include "color/color_transforms.h"
#include "effects/effect_drawing.h"
#include "effects/effect_tables.h"
#include "effects/preview_spike.h"
#include "gl/buffer_objects.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "gl/opengl_drawing.h"
#include "gl/texture_sets.h"
#include "runtime/report.h"

using namespace glbuffers;

namespace {

constexpr uint32_t FULL = 0xFFFFFFFEu;
constexpr const char* LOW_MEMORY = "Low memory.  Check image - some effects may not be rendered.";

void ReportUnexpected(uint32_t line, const char* text) {
  DebugMessage message = MakeDebugMessage(line, DEBUG_MESSAGE);
  ReportMessage(&message, STYLE_ERROR, CAPTION_UNEXPECTED_ERROR, "%s", text);
}

// Whether the textures of a shape still hold what this frame needs.
bool TexturesCurrent(const PreviewShape& shape, const PreviewFrame& frame, bool changed) {
  return shape.ready && !changed && shape.builtDiagonal == frame.diagonal &&
         shape.builtBytesPerChannel == frame.bytesPerChannel && shape.builtGray == frame.gray;
}

void RememberBuild(PreviewShape* shape, const PreviewFrame& frame) {
  shape->previous = *frame.parameters;
  shape->builtDiagonal = frame.diagonal;
  shape->builtBytesPerChannel = frame.bytesPerChannel;
  shape->builtGray = frame.gray;
}

int32_t StorageSize(const PreviewEffects& effects, int32_t used) {
  // One empty texel beyond the used part (see the header).
  return effects.powerOfTwo ? PowerOfTwoAtLeast(used + 1) : used + 1;
}

// The linear value (0..1) of the brightest colour channel of a texel.
float TexelPeak(const Image& image, int32_t x, int32_t y) {
  const size_t index = (static_cast<size_t>(y - image.bufferRect.top) * static_cast<size_t>(image.bufferWidth) +
                        static_cast<size_t>(x - image.bufferRect.left)) * 4;
  if (image.bytesPerChannel == 2) {
    const uint16_t* p = static_cast<const uint16_t*>(image.pixels.buffer) + index;
    return static_cast<float>(std::max({p[0], p[1], p[2]})) / 65535.0f;
  }
  const uint8_t* p = static_cast<const uint8_t*>(image.pixels.buffer) + index;
  return static_cast<float>(std::max({p[0], p[1], p[2]})) / 255.0f;
}

// Each step of a reach table becomes the brightest of itself and every step
// beyond it, so that the table never grows with the distance.
void KeepBrightestBeyond(std::vector<float>* reach) {
  for (size_t i = reach->size(); i-- > 1;) (*reach)[i - 1] = std::max((*reach)[i - 1], (*reach)[i]);
}

// Fills shape->reach[level] from the level just drawn into the texture image.
void MeasureReach(PreviewShape* shape, int32_t level) {
  const Image& image = shape->textureImage;
  std::vector<float>& reach = shape->reach[level];
  const int32_t left = image.bufferRect.left, top = image.bufferRect.top;
  if (shape->isSpike) {
    reach.assign(static_cast<size_t>(shape->usedWidth), 0.0f);
    for (int32_t y = top; y < top + shape->usedHeight; ++y)
      for (int32_t c = 0; c < shape->usedWidth; ++c) reach[c] = std::max(reach[c], TexelPeak(image, left + c, y));
  } else {
    reach.assign(static_cast<size_t>(shape->originX + 1), 0.0f);
    for (int32_t y = 0; y < shape->usedHeight; ++y)
      for (int32_t x = 0; x < shape->usedWidth; ++x) {
        const size_t ring = static_cast<size_t>(std::max(std::abs(x - shape->originX), std::abs(y - shape->originY)));
        reach[ring] = std::max(reach[ring], TexelPeak(image, left + x, top + y));
      }
  }
  KeepBrightestBeyond(&reach);
}

// How many steps of `reach` a stamp of this brightest vertex colour shows:
// 0 when none reaches the final render's threshold. One step more than the
// last visible one: filtering spreads a texel into the next pixel when the
// light sits between pixels.
int32_t VisibleSteps(const std::vector<float>& reach, float brightest, float threshold) {
  // reach never grows with the distance: the first step below is the end.
  const float needed = threshold / brightest;
  const auto end = std::partition_point(reach.begin(), reach.end(), [needed](float v) { return v >= needed; });
  if (end == reach.begin()) return 0;
  return static_cast<int32_t>(std::min(end - reach.begin() + 1, static_cast<ptrdiff_t>(reach.size())));
}

// What the final render leaves out: samples below half the minimum visible
// value, in linear white.
float VisibilityThreshold(const StarEffectSettings& s) {
  return static_cast<float>(s.minimumVisible / 2) / 16777215.0f;
}

// Draws the shape at the nine brightness levels into the texture image over
// `rect` (its storage, the light's pixel at offset 0, 0) and loads each.
bool DrawTextureLevels(PreviewEffects* effects, PreviewShape* shape, const ImageRect& rect,
                       ColorProfileHandle displayProfile) {
  const uint32_t mode = effects->sixteenBit ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8;
  Image* image = &shape->textureImage;
  for (int32_t level = 0; level < PREVIEW_LEVELS; ++level) {
    int16_t status = 0;
    // Made again per level: the conversion leaves it in the display profile.
    if (!CreateImage(rect, true, image, rect, mode, GetLinearWorkingProfile(), 1.0, false, &status)) return false;
    std::memset(image->pixels.buffer, 0, image->pixels.size);
    const uint32_t brightness = FULL >> (8 - level);
    const StampColour colour{brightness, brightness, brightness, FULL};
    if (!DrawShapeInto(&shape->shape, image, rect, colour, QuarterPoint{0, 0, 0, 0}, BLEND_PREMULTIPLY,
                       BLEND_PRECISE))
      return false;
    if (!ConvertColorOf(image, displayProfile != nullptr ? displayProfile : GetStandardProfile(), 0)) return false;
    LinearizeImage(image);
    MeasureReach(shape, level);
    if (!LoadShapeTexture(effects, shape, level)) return false;
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}

// The flare's levels without stamping every texel: its colour is grey and
// its weight a function of the distance index alone, so each level's value
// per index is worked out once — blended, converted and made linear as the
// texture image would be — on a strip of one pixel per index, and the
// texels are filled from the strip. The same values as stamping the shape,
// for a fraction of the conversions.
bool DrawFlareLevels(PreviewEffects* effects, PreviewShape* shape, const ImageRect& rect,
                     ColorProfileHandle displayProfile) {
  const StarEffectSettings& s = shape->settings;
  const uint32_t mode = effects->sixteenBit ? IMAGE_MODE_RGB16 : IMAGE_MODE_RGB8;
  const int32_t indexCount = static_cast<int32_t>(s.flareProfile.size());
  if (indexCount == 0 || s.flareBounds.size() != s.flareProfile.size() + 1) return true;
  // Each used texel's distance index (-1 beyond the profile), for all levels.
  std::vector<int32_t> indices;
  try {
    indices.assign(static_cast<size_t>(shape->usedWidth) * static_cast<size_t>(shape->usedHeight), -1);
  } catch (...) {
    REPORT_USER(STYLE_WARNING, "Warning", "%s", LOW_MEMORY);
    return false;
  }
  for (int32_t y = 0; y < shape->usedHeight; ++y)
    for (int32_t x = 0; x < shape->usedWidth; ++x) {
      const int64_t dx = 4 * static_cast<int64_t>(x - shape->originX), dy = 4 * static_cast<int64_t>(y - shape->originY);
      const auto at = std::upper_bound(s.flareBounds.begin(), s.flareBounds.end(), dx * dx + dy * dy);
      const int64_t k = (at - s.flareBounds.begin()) - 1;
      if (k >= 0 && k < indexCount) indices[static_cast<size_t>(y) * shape->usedWidth + x] = static_cast<int32_t>(k);
    }
  Image strip{};
  const ImageRect stripRect{0, 0, indexCount, 1};
  Image* image = &shape->textureImage;
  ColorProfileHandle display = displayProfile != nullptr ? displayProfile : GetStandardProfile();
  bool ok = true;
  for (int32_t level = 0; ok && level < PREVIEW_LEVELS; ++level) {
    int16_t status = 0;
    ok = CreateImage(stripRect, true, &strip, stripRect, mode, GetLinearWorkingProfile(), 1.0, false, &status) &&
         CreateImage(rect, true, image, rect, mode, GetLinearWorkingProfile(), 1.0, false, &status);
    if (!ok) break;
    std::memset(strip.pixels.buffer, 0, strip.pixels.size);
    // Every level writes the same texels (the rest stay clear).
    if (level == 0) std::memset(image->pixels.buffer, 0, image->pixels.size);
    // What stamping the shape at this brightness writes for each index.
    const uint32_t brightness = FractionProduct(FULL >> (8 - level), FULL);
    const uint32_t hidden = MinimumVisibleValue(image->bytesPerChannel) / 2;
    for (int32_t k = 0; k < indexCount; ++k) {
      const uint32_t weight = s.flareProfile[static_cast<size_t>(k)];
      if (weight < s.minimumVisible) continue;
      const uint32_t alpha = FractionProduct(FULL, weight);
      if (FractionProduct(brightness, alpha) < hidden) continue;
      const BlendPixel source{brightness, brightness, brightness, alpha, 0};
      BlendPixel target{0, 0, 0, 0, 0};
      BlendPixels(&source, &target, BLEND_PREMULTIPLY, BLEND_PRECISE);
      const PixelValue out{target.red, target.green, target.blue, target.coverage, 0xFFFFFFFFu};
      strip.writePixel(&strip, &out, k, 0);
    }
    ok = ConvertColorOf(&strip, display);
    if (!ok) break;
    LinearizeImage(&strip);
    const size_t pixelBytes = 4 * static_cast<size_t>(image->bytesPerChannel);
    const auto* from = static_cast<const uint8_t*>(strip.pixels.buffer);
    auto* to = static_cast<uint8_t*>(image->pixels.buffer);
    for (int32_t y = 0; y < shape->usedHeight; ++y)
      for (int32_t x = 0; x < shape->usedWidth; ++x) {
        const int32_t k = indices[static_cast<size_t>(y) * shape->usedWidth + x];
        if (k < 0) continue;
        std::memcpy(to + (static_cast<size_t>(y) * image->bufferWidth + x) * pixelBytes,
                    from + static_cast<size_t>(k) * pixelBytes, pixelBytes);
      }
    // Brightest on each square ring: where it comes nearest, mid-side.
    std::vector<float>& reach = shape->reach[level];
    reach.assign(static_cast<size_t>(shape->originX + 1), 0.0f);
    for (int32_t r = 0; r <= shape->originX; ++r)
      reach[static_cast<size_t>(r)] = TexelPeak(*image, rect.left + shape->originX + r, rect.top + shape->originY);
    KeepBrightestBeyond(&reach);
    ok = LoadShapeTexture(effects, shape, level);
  }
  ReleaseImage(&strip);
  glBindTexture(GL_TEXTURE_2D, 0);
  return ok;
}

int32_t LargestTextureSize() {
  const TextureSize size = GetMaximumTextureSize(false, false);
  return std::max<int32_t>(2, std::min(size.width, size.height));
}

// The light source's colour in the display's linear colours. The colour is
// scaled up to full before the conversion, whose channels carry 16 bits,
// and back afterwards, so that faint lights keep their hue.
void DisplayColour(uint32_t colour[3], ColorProfileHandle displayProfile) {
  const uint32_t brightest = std::max(colour[0], std::max(colour[1], colour[2]));
  if (brightest == 0) return;
  const double scale = static_cast<double>(0xFFFF0000u) / brightest;
  uint32_t scaled[3];
  for (int c = 0; c < 3; ++c)
    scaled[c] = static_cast<uint32_t>(std::min(colour[c] * scale, static_cast<double>(0xFFFF0000u))) & 0xFFFF0000u;
  if (!ConvertColorTriple(GetLinearWorkingProfile(), scaled,
                          displayProfile != nullptr ? displayProfile : GetStandardProfile()))
    return;  // reported; the colour stays as measured
  for (int c = 0; c < 3; ++c)
    colour[c] = static_cast<uint32_t>(std::min(scaled[c] / scale, static_cast<double>(FULL)));
}

bool Aborted(const PreviewFrame& frame) {
  return frame.abort != nullptr && frame.abort->load(std::memory_order_relaxed);
}

// Copies a full batch to its buffer objects before the next one starts.
void UploadFullBatch(PreviewBatch* /*batch*/, void* context) {
  auto* shape = static_cast<PreviewShape*>(context);
  const int32_t index = shape->batches.batchCount - 1;
  if (CopyShapeVerticesToVBO(shape, index) && CopyShapeIndexArraysToVBO(shape, index))
    shape->buffers[static_cast<size_t>(index)].uploaded = true;
}

bool AppendQuad(PreviewEffects* effects, PreviewShape* shape, int32_t level, const PreviewVertex quad[4]) {
  const bool appended = AppendPreviewQuad(&shape->batches, level, quad,
                                          effects->bufferObjects ? UploadFullBatch : nullptr, shape);
  if (appended) {
    // A batch starts without buffer objects of its own and not uploaded.
    try {
      if (shape->buffers.size() < shape->batches.batches.size())
        shape->buffers.resize(shape->batches.batches.size(), PreviewBatchBuffers{});
    } catch (...) {
      REPORT_USER(STYLE_WARNING, "Warning", "%s", LOW_MEMORY);
      return false;
    }
    shape->buffers[static_cast<size_t>(shape->batches.batchCount - 1)].uploaded = false;
    return true;
  }
  REPORT_USER(STYLE_WARNING, "Warning", "%s", LOW_MEMORY);
  return false;
}

void ResetBatches(PreviewShape* shape) {
  ResetPreviewBatches(&shape->batches);
  for (PreviewBatchBuffers& b : shape->buffers) b.uploaded = false;
}

bool EnsureTextureNames(PreviewEffects* effects) {
  // GL_CLAMP would blend the border colour into the edge texels.
  const GLEWContext* context = glewGetContext();
  const GLint wrap = context != nullptr && GLEW_VERSION_1_2 ? GL_CLAMP_TO_EDGE : GL_CLAMP;
  for (PreviewShape* shape : {&effects->spike, &effects->flare}) {
    GLuint names[PREVIEW_SLOTS] = {};
    glGenTextures(PREVIEW_SLOTS, names);
    for (int32_t i = 0; i < PREVIEW_SLOTS; ++i) {
      shape->slots[i].texture = names[i];
      glBindTexture(GL_TEXTURE_2D, names[i]);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, effects->filter);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, effects->filter);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
      glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    }
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return CHECK_OPENGL_ERROR("OpenGL Function Failed") == 0;
}

}  // namespace

bool SetUpPreviewEffectShapes(PreviewEffects* effects) {
  DestroyFilterEffects_OpenGL(effects);
  effects->bufferObjects = UseVertexBufferObjects();
  effects->powerOfTwo = MustUsePowerOfTwoSizedTextures();
  effects->pixelBuffers = !effects->powerOfTwo && effects->bufferObjects && UsePixelBufferObjects();
  effects->sixteenBit = CompositeTextureFormat().internalFormat != DrawingState().formats[TEXTURE_FORMAT_8].internalFormat;
  effects->filter = DrawingState().gpuAcceleration ? GL_LINEAR : GL_NEAREST;
  effects->spike.isSpike = true;
  effects->flare.isSpike = false;
  SetUpStarEffectShapes(&effects->spike.shape, &effects->flare.shape, &effects->flare.settings);
  effects->spike.shape.parameter = &effects->spike.settings;
  for (PreviewShape* shape : {&effects->spike, &effects->flare}) {
    std::memset(static_cast<void*>(&shape->previous), 0xFF, sizeof shape->previous);
    shape->ready = false;
  }
  if (!EnsureTextureNames(effects)) return false;
  if (effects->pixelBuffers) {
    for (PreviewShape* shape : {&effects->spike, &effects->flare})
      for (PreviewShapeSlot& slot : shape->slots) GenBuffer(&slot.pixelBuffer);
    if (CHECK_OPENGL_ERROR("OpenGL Function Failed") != 0) return false;
  }
  effects->setUp = true;
  return true;
}

bool UpdatePreviewSpikeTextures(PreviewEffects* effects, const PreviewFrame& frame) {
  PreviewShape* shape = &effects->spike;
  if (TexturesCurrent(*shape, frame, PreviewSpikeNeedsRebuild(shape->previous, *frame.parameters))) return true;
  shape->ready = false;
  PreparePreviewSpikeSettings(*frame.parameters, frame.diagonal, frame.bytesPerChannel, frame.gray, &shape->settings);
  SubShape* sub = &shape->shape.subShapes[SubShapeIndex(0, 0)];
  sub->generated = 0;
  sub->sampleCount = 0;
  sub->left = sub->top = sub->right = sub->bottom = 0;
  if (!GeneratePreviewSpike(sub, shape->settings)) return false;
  // The spike was made pointing down; the texture wants it along +x.
  auto* samples = static_cast<ShapeSample*>(sub->samples.buffer);
  for (int32_t i = 0; i < sub->sampleCount; ++i) std::swap(samples[i].dx, samples[i].dy);
  std::swap(sub->left, sub->top);
  std::swap(sub->right, sub->bottom);
  sub->generated = 1;
  shape->usedWidth = shape->usedHeight = 0;
  if (sub->sampleCount > 0) {
    const int32_t half = LargestTextureSize() / 2;
    const int32_t across = std::min({std::max({-sub->top, sub->bottom - 1, 0}), half - 1});
    shape->usedWidth = std::min(std::max(sub->right, 1), half);
    shape->usedHeight = 2 * across + 1;
    shape->originX = 0;
    shape->originY = across;
    const ImageRect rect{0, -across, StorageSize(*effects, shape->usedWidth),
                         -across + StorageSize(*effects, shape->usedHeight)};
    if (!DrawTextureLevels(effects, shape, rect, frame.displayProfile)) return false;
  }
  RememberBuild(shape, frame);
  shape->ready = true;
  return true;
}

bool UpdatePreviewFlareTextures(PreviewEffects* effects, const PreviewFrame& frame) {
  PreviewShape* shape = &effects->flare;
  if (TexturesCurrent(*shape, frame, PreviewFlareNeedsRebuild(shape->previous, *frame.parameters))) return true;
  shape->ready = false;
  PrepareStarEffectSettings(*frame.parameters, frame.diagonal, frame.bytesPerChannel, frame.gray, &shape->settings);
  shape->usedWidth = shape->usedHeight = 0;
  if (shape->settings.length >= 1) {
    const int32_t reach = std::min(FlareReach(shape->settings), LargestTextureSize() / 2 - 1);
    shape->usedWidth = shape->usedHeight = 2 * reach + 1;
    shape->originX = shape->originY = reach;
    const int32_t storage = StorageSize(*effects, shape->usedWidth);
    const ImageRect rect{-reach, -reach, -reach + storage, -reach + storage};
    if (!DrawFlareLevels(effects, shape, rect, frame.displayProfile)) return false;
  }
  RememberBuild(shape, frame);
  shape->ready = true;
  return true;
}

bool LoadShapeTexture(PreviewEffects* effects, PreviewShape* shape, int32_t level) {
  if (level < 0 || level >= PREVIEW_LEVELS) return false;
  PreviewShapeSlot& slot = shape->slots[PreviewSlotOfLevel(level)];
  const Image& image = shape->textureImage;
  const int32_t width = image.bufferWidth;
  const int32_t height = image.bufferHeight;
  // Exactly the buffer's rows, never more: the upload cannot read past it.
  const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4 *
                       static_cast<size_t>(image.bytesPerChannel);
  if (bytes == 0 || bytes > image.pixels.size) return false;
  const void* source = image.pixels.buffer;
  if (slot.pixelBuffer != 0) {
    BindBuffer(GL_PIXEL_UNPACK_BUFFER, slot.pixelBuffer);
    if (slot.pixelBufferSize < bytes) {
      BufferData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(bytes), image.pixels.buffer, GL_STREAM_DRAW);
      slot.pixelBufferSize = bytes;
    } else {
      BufferSubData(GL_PIXEL_UNPACK_BUFFER, static_cast<GLsizeiptr>(bytes), image.pixels.buffer);
    }
    if (CHECK_OPENGL_ERROR("LoadShapeTexture() - Failed to copy texture into pixel buffer object.") == 0) {
      source = nullptr;  // offset 0 of the bound buffer
    } else {
      BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
      slot.pixelBufferSize = 0;
    }
  }
  glBindTexture(GL_TEXTURE_2D, slot.texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  if (slot.textureWidth < width || slot.textureHeight < height) {
    const GLint internal = static_cast<GLint>(effects->sixteenBit ? CompositeInternalFormat()
                                                                  : DrawingState().formats[TEXTURE_FORMAT_8].internalFormat);
    glTexImage2D(GL_TEXTURE_2D, 0, internal, width, height, 0, image.glPixelFormat, image.glDataType, source);
    slot.textureWidth = width;
    slot.textureHeight = height;
  } else {
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, height, image.glPixelFormat, image.glDataType, source);
  }
  if (slot.pixelBuffer != 0) BindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
  if (CHECK_OPENGL_ERROR("LoadShapeTexture() - Load of effect texture bitmap into OpenGL failed.") != 0) {
    slot.textureWidth = slot.textureHeight = 0;
    return false;
  }
  return true;
}

bool BuildPreviewSpikeBatches(PreviewEffects* effects, const PreviewFrame& frame) {
  PreviewShape* shape = &effects->spike;
  ResetBatches(shape);
  if (!UpdatePreviewSpikeTextures(effects, frame)) return false;
  const StarEffectSettings& s = shape->settings;
  const LightSourceRecord* entries = ListRecords(frame.table);
  if (s.intensity < 1 || shape->usedWidth == 0 || entries == nullptr) return !Aborted(frame);
  const PreviewShapeSlot& slot = shape->slots[0];
  const SpikeTextureLayout layout{shape->usedWidth, shape->usedHeight, slot.textureWidth, slot.textureHeight};
  const uint32_t quantity = QuantityThreshold(s.quantity);
  const float threshold = VisibilityThreshold(s);
  const int32_t points = std::max(1, s.points);
  for (uint32_t i = 0; i < frame.table->count; ++i) {
    if (Aborted(frame)) return false;
    const LightSourceRecord& e = entries[i];
    StarStamp stamp;
    if (!SelectLightSource(e, quantity, s, &stamp)) continue;
    const uint32_t weight = FractionProduct(stamp.spikeAlpha, s.spikePeak);
    if (weight <= s.minimumVisible) continue;
    uint32_t colour[3] = {stamp.red, stamp.green, stamp.blue};
    DisplayColour(colour, frame.displayProfile);
    const PreviewStamp p = PreviewStampOf(colour, weight);
    if (p.colour[0] <= 0 && p.colour[1] <= 0 && p.colour[2] <= 0) continue;
    const int32_t visible = VisibleSteps(shape->reach[p.level], std::max({p.colour[0], p.colour[1], p.colour[2]}),
                                         threshold);
    if (visible == 0) continue;
    SpikeTextureLayout cut = layout;
    cut.spikeWidth = visible;
    const double px = e.x + (e.xQuarter + 2) / 4.0;
    const double py = e.y + (e.yQuarter + 2) / 4.0;
    for (int32_t point = 0; point < points; ++point) {
      const int32_t angle = static_cast<int32_t>((10 * static_cast<int64_t>(s.angle) - 900 + point * 3600 / points) %
                                                 ANGLE_STEPS);
      PreviewVertex quad[4];
      SpikeQuad(px, py, angle, cut, p.colour, quad);
      if (!AppendQuad(effects, shape, p.level, quad)) return false;
    }
  }
  return !Aborted(frame);
}

bool BuildPreviewFlareBatches(PreviewEffects* effects, const PreviewFrame& frame) {
  PreviewShape* shape = &effects->flare;
  ResetBatches(shape);
  if (!UpdatePreviewFlareTextures(effects, frame)) return false;
  const StarEffectSettings& s = shape->settings;
  const LightSourceRecord* entries = ListRecords(frame.table);
  if (s.softFlare < 1 || shape->usedWidth == 0 || entries == nullptr) return !Aborted(frame);
  const PreviewShapeSlot& slot = shape->slots[0];
  const float textureWidth = static_cast<float>(slot.textureWidth);
  const float textureHeight = static_cast<float>(slot.textureHeight);
  const uint32_t quantity = QuantityThreshold(s.quantity);
  const float threshold = VisibilityThreshold(s);
  for (uint32_t i = 0; i < frame.table->count; ++i) {
    if (Aborted(frame)) return false;
    const LightSourceRecord& e = entries[i];
    StarStamp stamp;
    if (!SelectLightSource(e, quantity, s, &stamp) || !stamp.flare) continue;
    uint32_t colour[3] = {stamp.red, stamp.green, stamp.blue};
    DisplayColour(colour, frame.displayProfile);
    const PreviewStamp p = PreviewStampOf(colour, stamp.flareAlpha);
    const int32_t rings = VisibleSteps(shape->reach[p.level], std::max({p.colour[0], p.colour[1], p.colour[2]}),
                                       threshold);
    if (rings == 0) continue;
    // Texels originX - r .. originX + r on the pixels around the light.
    const int32_t r = rings - 1;
    const float x0 = static_cast<float>(shape->originX - r), x1 = static_cast<float>(shape->originX + r + 1);
    const float y0 = static_cast<float>(shape->originY - r), y1 = static_cast<float>(shape->originY + r + 1);
    const float left = static_cast<float>(e.x + e.xQuarter / 4.0) - static_cast<float>(r);
    const float top = static_cast<float>(e.y + e.yQuarter / 4.0) - static_cast<float>(r);
    const float right = left + static_cast<float>(2 * r + 1);
    const float bottom = top + static_cast<float>(2 * r + 1);
    const float s0 = x0 / textureWidth, s1 = x1 / textureWidth;
    const float t0 = y0 / textureHeight, t1 = y1 / textureHeight;
    const float* c = p.colour;
    const PreviewVertex quad[4] = {{c[0], c[1], c[2], c[3], s0, t1, left, bottom},
                                   {c[0], c[1], c[2], c[3], s1, t1, right, bottom},
                                   {c[0], c[1], c[2], c[3], s1, t0, right, top},
                                   {c[0], c[1], c[2], c[3], s0, t0, left, top}};
    if (!AppendQuad(effects, shape, p.level, quad)) return false;
  }
  return !Aborted(frame);
}

bool CopyShapeVerticesToVBO(PreviewShape* shape, int32_t batch) {
  if (batch < 0 || batch >= shape->batches.batchCount || static_cast<size_t>(batch) >= shape->buffers.size()) {
    ReportUnexpected(__LINE__, "The VertexDescArray pointer is NULL.");
    return false;
  }
  PreviewBatchBuffers& buffers = shape->buffers[static_cast<size_t>(batch)];
  const std::vector<PreviewVertex>& vertices = shape->batches.batches[static_cast<size_t>(batch)].vertices;
  if (buffers.vertexBuffer == 0) GenBuffer(&buffers.vertexBuffer);
  if (buffers.vertexBuffer == 0) {
    ReportUnexpected(__LINE__, "The Vertex Buffer Object does not exist and could not be created.");
    return false;
  }
  BindBuffer(GL_ARRAY_BUFFER, buffers.vertexBuffer);
  BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(PreviewVertex)), vertices.data(),
             GL_STREAM_DRAW);
  BindBuffer(GL_ARRAY_BUFFER, 0);
  return CHECK_OPENGL_ERROR("CopyShapeVerticesToVBO() - OpenGL function error detected.") == 0;
}

bool CopySubShapeIndicesToVBO(PreviewShape* shape, int32_t batch, int32_t slot) {
  if (batch < 0 || batch >= shape->batches.batchCount || static_cast<size_t>(batch) >= shape->buffers.size() ||
      slot < 0 || slot >= PREVIEW_SLOTS) {
    ReportUnexpected(__LINE__, "The SubShape IBDArray Pointer is NULL");
    return false;
  }
  const std::vector<uint16_t>& indices = shape->batches.batches[static_cast<size_t>(batch)].indices[slot];
  if (indices.empty()) return true;
  GLuint& name = shape->buffers[static_cast<size_t>(batch)].elementBuffers[slot];
  if (name == 0) GenBuffer(&name);
  if (name == 0) {
    ReportUnexpected(__LINE__, "The Element Vertex Buffer Object does not exist and could not be created.");
    return false;
  }
  BindBuffer(GL_ELEMENT_ARRAY_BUFFER, name);
  BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint16_t)), indices.data(),
             GL_STREAM_DRAW);
  BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  return CHECK_OPENGL_ERROR("CopySubShapeIndicesToVBO() - OpenGL function error detected.") == 0;
}

bool CopyShapeIndexArraysToVBO(PreviewShape* shape, int32_t batch) {
  bool ok = true;
  for (int32_t slot = 0; slot < PREVIEW_SLOTS; ++slot) ok = CopySubShapeIndicesToVBO(shape, batch, slot) && ok;
  return CHECK_OPENGL_ERROR("CopyShapeIndexArraysToVBO() - OpenGL function error detected.") == 0 && ok;
}

bool DrawCompositeOpenGLShape(PreviewEffects* effects, PreviewShape* shape) {
  for (int32_t b = 0; b < shape->batches.batchCount; ++b) {
    PreviewBatch& batch = shape->batches.batches[static_cast<size_t>(b)];
    if (batch.vertices.empty()) continue;
    const char* base = reinterpret_cast<const char*>(batch.vertices.data());
    bool buffered = false;
    if (effects->bufferObjects && static_cast<size_t>(b) < shape->buffers.size()) {
      PreviewBatchBuffers& buffers = shape->buffers[static_cast<size_t>(b)];
      if (!buffers.uploaded)
        buffers.uploaded = CopyShapeVerticesToVBO(shape, b) && CopyShapeIndexArraysToVBO(shape, b);
      buffered = buffers.uploaded;
    }
    if (buffered) {
      BindBuffer(GL_ARRAY_BUFFER, shape->buffers[static_cast<size_t>(b)].vertexBuffer);
      base = nullptr;  // offsets into the bound buffer
    }
    constexpr GLsizei STRIDE = sizeof(PreviewVertex);
    glColorPointer(4, GL_FLOAT, STRIDE, base + offsetof(PreviewVertex, red));
    glTexCoordPointer(2, GL_FLOAT, STRIDE, base + offsetof(PreviewVertex, s));
    glVertexPointer(2, GL_FLOAT, STRIDE, base + offsetof(PreviewVertex, x));
    for (int32_t slot = 0; slot < PREVIEW_SLOTS; ++slot) {
      const std::vector<uint16_t>& indices = batch.indices[slot];
      if (indices.empty()) continue;
      glBindTexture(GL_TEXTURE_2D, shape->slots[slot].texture);
      const void* offset = indices.data();
      if (buffered) {
        BindBuffer(GL_ELEMENT_ARRAY_BUFFER, shape->buffers[static_cast<size_t>(b)].elementBuffers[slot]);
        offset = nullptr;
      }
      glDrawElements(GL_QUADS, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_SHORT, offset);
    }
    if (buffered) {
      BindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
      BindBuffer(GL_ARRAY_BUFFER, 0);
    }
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return CHECK_OPENGL_ERROR("DrawCompositeOpenGLShape() - OpenGL function error detected.") == 0;
}

bool DrawPreviewFrame(PreviewEffects* effects, const PreviewFrame& frame) {
  if (!effects->setUp || frame.parameters == nullptr || frame.table == nullptr) return false;
  const bool spikes = BuildPreviewSpikeBatches(effects, frame);
  glFlush();
  const bool flares = spikes && BuildPreviewFlareBatches(effects, frame);
  glFlush();
  if (!spikes || !flares || Aborted(frame)) return false;
  glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
  glEnableClientState(GL_COLOR_ARRAY);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  bool ok = DrawCompositeOpenGLShape(effects, &effects->spike);
  glFlush();
  ok = DrawCompositeOpenGLShape(effects, &effects->flare) && ok;
  glFlush();
  glPopClientAttrib();
  return ok;
}

bool DrawPreviewEffectsPass(PreviewEffects* effects, const PreviewFrame& frame, double offsetX, double offsetY,
                            double zoom) {
  glPushAttrib(GL_COLOR_BUFFER_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glTranslated(offsetX, offsetY, 0);
  glScaled(zoom, zoom, 1);
  glColor4f(1, 1, 1, 1);
  glEnable(GL_BLEND);
  // Screening: each quad's colour s lifts what is there, d + s (1 - d).
  glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
  glEnable(GL_TEXTURE_2D);
  glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  const bool drawn = DrawPreviewFrame(effects, frame);
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();
  glPopAttrib();
  return CHECK_OPENGL_ERROR("Failed during rendering of Effects.") == 0 && drawn;
}

void DestroyFilterEffects_OpenGL(PreviewEffects* effects) {
  if (effects->setUp) {
    for (PreviewShape* shape : {&effects->spike, &effects->flare}) {
      for (PreviewShapeSlot& slot : shape->slots) {
        if (slot.texture != 0) glDeleteTextures(1, &slot.texture);
      }
    }
    CHECK_OPENGL_ERROR("OpenGL Function Failed in DestroyFilterEffects_OpenGL().");
    for (PreviewShape* shape : {&effects->spike, &effects->flare}) {
      for (PreviewShapeSlot& slot : shape->slots) DeleteBuffer(&slot.pixelBuffer);
      for (PreviewBatchBuffers& b : shape->buffers) {
        DeleteBuffer(&b.vertexBuffer);
        for (GLuint& name : b.elementBuffers) DeleteBuffer(&name);
      }
    }
  }
  for (PreviewShape* shape : {&effects->spike, &effects->flare}) {
    FreeSamplingShape(&shape->shape);
    ReleaseImage(&shape->textureImage);
  }
  *effects = PreviewEffects{};
}
