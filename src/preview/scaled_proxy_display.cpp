#include "preview/scaled_proxy_display.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "gl/buffer_objects.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/opengl_drawing.h"
#include "gl/shader_programs.h"
#include "gl/texture_sets.h"
#include "image/gamma_tables.h"
#include "preview/background_task.h"
#include "preview/host_proxy_levels.h"
#include "runtime/report.h"
#include "ui/dialog_progress.h"

namespace {

// The window's colour around the image: 127 of 255 in each channel.
constexpr double BACKGROUND = 127.0 / 255.0;

bool Aborted(const ScaledProxyLayer& layer) {
  return layer.abort != nullptr && layer.abort->load(std::memory_order_relaxed);
}

ImageRect ViewOf(const RenderingParameters& p) {
  return ImageRect{p.viewRect.left, p.viewRect.top, p.viewRect.right, p.viewRect.bottom};
}

int32_t HostWidth(const ScaledProxyLayer& layer) {
  return layer.hostImage->bufferRect.right - layer.hostImage->bufferRect.left;
}
int32_t HostHeight(const ScaledProxyLayer& layer) {
  return layer.hostImage->bufferRect.bottom - layer.hostImage->bufferRect.top;
}

// After a frame buffer of a texture set was let go: back to the output.
void BindOutput(const ScaledProxyLayer& layer) {
  if (layer.outputFramebuffer != 0) glbuffers::BindFrameBuffers(layer.outputFramebuffer, 0);
}

// The display state of a pass: its view, zoom, scroll and effect settings.
struct PassGeometry {
  double zoom;
  ImageRect view;
  ImageRect display;
};

PassGeometry GeometryOf(const ScaledProxyLayer& layer, const RenderingParameters& p) {
  PassGeometry g{p.zoomPercent / 100.0, ViewOf(p), {}};
  g.display = CenteredImageRect(g.view, HostWidth(layer), HostHeight(layer), p.zoomPercent);
  if (!layer.screenDrawing) {
    // Off-screen: the bitmap is the image's rectangle itself.
    g.display = ImageRect{0, 0, g.display.right - g.display.left, g.display.bottom - g.display.top};
    g.view = g.display;
  }
  return g;
}

// The pass's share of the dialog's progress bar: 25 steps.
class ProgressFeed {
 public:
  explicit ProgressFeed(const ScaledProxyLayer& layer) : layer_(layer) { Post(0, feed_.Begin(25)); }
  ~ProgressFeed() { Post(0, 0); }
  void Advance(uint32_t steps) {
    uint32_t position = 0;
    if (feed_.Advance(steps, &position)) Post(position, 25);
  }

 private:
  void Post(uint32_t done, uint32_t total) {
    if (layer_.progress != nullptr) layer_.progress(layer_.progressContext, done, total);
  }
  const ScaledProxyLayer& layer_;
  DialogProgressFeed feed_;
};

// A rectangle's outline at (left + 0.5, bottom) - (right - 0.5, top + 0.625):
// solid black, then, when `dashed`, white dashes of the given factor over it.
void DrawOutline(const ImageRect& r, bool dashed, GLint factor) {
  glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT | GL_LINE_BIT);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  glDisable(GL_TEXTURE_2D);
  glPolygonMode(GL_FRONT_AND_BACK, GL_LINE);
  glEnable(GL_LINE_STIPPLE);
  glLineStipple(1, 0xFFFF);
  glColor4f(0, 0, 0, 1);
  glRectd(r.left + 0.5, r.bottom, r.right - 0.5, r.top + 0.625);
  if (dashed) {
    glLineStipple(factor, 0xAAAA);
    glColor4f(1, 1, 1, 1);
    glRectd(r.left + 0.5, r.bottom, r.right - 0.5, r.top + 0.625);
  }
  glPopAttrib();
}

// The document's selection where it meets the image, and the keyboard
// focus around the view.
bool DrawSelectionAndFocus(const ScaledProxyLayer& layer, const RenderingParameters& p, const PassGeometry& g) {
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  const RenderingRect& s = p.selectionRect;
  const ImageRect meet{std::max(s.left, g.display.left), std::max(s.top, g.display.top),
                       std::min(s.right, g.display.right), std::min(s.bottom, g.display.bottom)};
  if (s.right > s.left && s.bottom > s.top && meet.right > meet.left && meet.bottom > meet.top) {
    DrawOutline(meet, true, 4);
    if (CHECK_OPENGL_ERROR("Failed to display selection rectangle.") != 0) return false;
  }
  const bool focused = layer.keyboardFocus != nullptr && layer.keyboardFocus->load();
  DrawOutline(ImageRect{0, 0, g.view.right - g.view.left, g.view.bottom - g.view.top}, focused, 2);
  return CHECK_OPENGL_ERROR("Failed to display keyboard focus rectangle.") == 0;
}

bool CreateHostImageTextureSet(ScaledProxyLayer* layer, const PassGeometry& g, int32_t scrollX, int32_t scrollY) {
  CHECK_OPENGL_ERROR("Error on entry into CreateHostImageTextureSet()");
  double scale[2] = {g.zoom, g.zoom};
  Image level{};
  if (!GetHostProxyLevel(layer->proxy, *layer->hostImage, layer->displayProfile, scale, &level, layer->abort))
    return false;
  TextureSet* set = PreviewTextureSet(HOST_IMAGE_SET);
  set->scaled = 1;
  const ImageRect view{0, 0, g.display.right - g.display.left, g.display.bottom - g.display.top};
  return CreateTextureSetFromImage(set, level, scale[0], scale[1], scrollX, scrollY, g.zoom, view);
}

// The stars of the request into the effects set, drawn over the display
// rectangle of the view as the composite will place them.
bool GenerateEffectsTexture(ScaledProxyLayer* layer, const RenderingParameters& p, const PassGeometry& g) {
  TextureSet* set = PreviewTextureSet(EFFECTS_SET);
  const int32_t viewWidth = g.view.right - g.view.left, viewHeight = g.view.bottom - g.view.top;
  const bool frameBuffer = set->framebuffer != 0;
  if (frameBuffer && !AttachFBOWithRenderBuffer(set, viewWidth, viewHeight)) return false;
  const PreviewFrame frame{&p,
                           layer->table,
                           ImageDiagonal(HostWidth(*layer), HostHeight(*layer)),
                           layer->hostImage->bytesPerChannel,
                           layer->gray,
                           layer->displayProfile,
                           layer->abort};
  // Host pixel (x, y) lands where the composite puts the image's pixel.
  const double offsetX = g.display.left - p.scrollX - g.zoom * layer->hostImage->bufferRect.left;
  const double offsetY = g.display.top - p.scrollY - g.zoom * layer->hostImage->bufferRect.top;
  bool drawn = !Aborted(*layer) && DrawPreviewEffectsPass(&layer->effects, frame, offsetX, offsetY, g.zoom);
  if (drawn) {
    drawn = CreateTextureSetFromFramebuffer(viewWidth, viewHeight, g.display, set);
    if (CHECK_OPENGL_ERROR("Failed during creation of Effects texture.") != 0) drawn = false;
  }
  if (frameBuffer) {
    DetachFBO();
    BindOutput(*layer);
  }
  return CHECK_OPENGL_ERROR("Generation of Effects texture failed.") == 0 && drawn;
}

bool DrawCompositeImage(ScaledProxyLayer* layer, const RenderingParameters& p, const PassGeometry& g) {
  glPushAttrib(GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT | GL_ENABLE_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glTranslated(g.display.left - p.scrollX, g.display.top - p.scrollY, 0);
  glScaled(g.zoom, g.zoom, 1);
  CHECK_OPENGL_ERROR("Failed to switch to scaled coordinates");
  const bool effects = p.effectsVisible != 0;
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  if (layer->effectsOnly && effects) {
    glClear(GL_COLOR_BUFFER_BIT);
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_TRUE);
  } else {
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  }
  glColor4f(1, 1, 1, 1);
  glBlendFunc(GL_ONE, GL_ZERO);
  bool ok = DrawImageTextureSet(PreviewTextureSet(HOST_IMAGE_SET));
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
  if (effects) {
    // The effects set was copied in view coordinates.
    glPushMatrix();
    glLoadIdentity();
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_COLOR);
    ok = DrawImageTextureSet(PreviewTextureSet(EFFECTS_SET)) && ok;
    glPopMatrix();
  }
  // The checkerboard shows through where the image is transparent, its
  // squares 16 screen pixels at any zoom.
  const double w = HostWidth(*layer), h = HostHeight(*layer);
  glBlendFunc(GL_ONE_MINUS_DST_ALPHA, GL_DST_ALPHA);
  glBindTexture(GL_TEXTURE_2D, layer->checkerboard);
  const double s = w / 16 * g.zoom, t = h / 16 * g.zoom;
  glBegin(GL_QUADS);
  glTexCoord2d(0, 0), glVertex2d(0, 0);
  glTexCoord2d(s, 0), glVertex2d(w, 0);
  glTexCoord2d(s, t), glVertex2d(w, h);
  glTexCoord2d(0, t), glVertex2d(0, h);
  glEnd();
  glBindTexture(GL_TEXTURE_2D, 0);
  glPopMatrix();
  glPopAttrib();
  return CHECK_OPENGL_ERROR("Failed to draw composite image.") == 0 && ok;
}

// The half-float tables of the table-driven conversion in both directions.
struct HalfTables {
  uint16_t base[512];
  uint8_t shift[512];
  uint32_t mantissa[2048];
  uint32_t exponent[64];
  uint16_t offset[64];
};

const HalfTables& Halves() {
  static HalfTables tables;
  static std::once_flag built;
  std::call_once(built, [] {
    HalfTables& t = tables;
    for (int i = 0; i < 256; ++i) {
      const int e = i - 127;
      uint16_t base;
      uint8_t shift;
      if (e < -24) {  // too small: zero
        base = 0x0000;
        shift = 24;
      } else if (e < -14) {  // denormals
        base = static_cast<uint16_t>(0x0400 >> (-e - 14));
        shift = static_cast<uint8_t>(-e - 1);
      } else if (e <= 15) {  // normals
        base = static_cast<uint16_t>((e + 15) << 10);
        shift = 13;
      } else if (e < 128) {  // too large: infinity
        base = 0x7C00;
        shift = 24;
      } else {  // infinity and NaN
        base = 0x7C00;
        shift = 13;
      }
      t.base[i] = base;
      t.base[i | 0x100] = static_cast<uint16_t>(base | 0x8000);
      t.shift[i] = t.shift[i | 0x100] = shift;
    }
    t.mantissa[0] = 0;
    for (uint32_t i = 1; i < 1024; ++i) {  // denormals, normalised
      uint32_t m = i << 13, e = 0;
      while ((m & 0x00800000) == 0) {
        e -= 0x00800000;
        m <<= 1;
      }
      m &= ~0x00800000u;
      e += 0x38800000;
      t.mantissa[i] = m | e;
    }
    for (uint32_t i = 1024; i < 2048; ++i) t.mantissa[i] = 0x38000000 + ((i - 1024) << 13);
    t.exponent[0] = 0;
    for (uint32_t i = 1; i < 31; ++i) t.exponent[i] = i << 23;
    t.exponent[31] = 0x47800000;
    t.exponent[32] = 0x80000000;
    for (uint32_t i = 33; i < 63; ++i) t.exponent[i] = 0x80000000 + ((i - 32) << 23);
    t.exponent[63] = 0xC7800000;
    for (int i = 0; i < 64; ++i) t.offset[i] = (i == 0 || i == 32) ? 0 : 1024;
  });
  return tables;
}

// Linear 16-bit index to the half float of its display-encoded value.
const uint16_t* HalfGammaTable() {
  static uint16_t table[65536];
  static std::once_flag built;
  std::call_once(built, [] {
    const GammaTables* encode = GetGammaTables(2.2);
    for (uint32_t v = 0; v < 65536; ++v)
      table[v] = FloatToHalf(encode != nullptr ? encode->linearToCode16[v] / 65535.0f : v / 65535.0f);
  });
  return table;
}

void SoftwareGamma(void* pixels, size_t pixelCount, uint32_t dataType, bool /*blueFirst*/) {
  ApplyDisplayGamma(pixelCount, dataType, pixels);
}

}  // namespace

uint16_t FloatToHalf(float value) {
  const HalfTables& t = Halves();
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint32_t index = (bits >> 23) & 0x1FF;
  return static_cast<uint16_t>(t.base[index] + ((bits & 0x007FFFFF) >> t.shift[index]));
}

float HalfToFloat(uint16_t half) {
  const HalfTables& t = Halves();
  const uint32_t bits = t.mantissa[t.offset[half >> 10] + (half & 0x3FF)] + t.exponent[half >> 10];
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void ApplyDisplayGamma(size_t pixelCount, uint32_t dataType, void* pixels) {
  const GammaTables* encode = GetGammaTables(2.2);
  if (encode == nullptr || pixels == nullptr) return;
  switch (dataType) {
    case GL_UNSIGNED_BYTE: {
      auto* p = static_cast<uint8_t*>(pixels);
      for (size_t i = 0; i < pixelCount; ++i, p += 4)
        for (int c = 0; c < 3; ++c) p[c] = encode->linearToCode8[p[c] * 257u];
      break;
    }
    case GL_UNSIGNED_SHORT: {
      auto* p = static_cast<uint16_t*>(pixels);
      for (size_t i = 0; i < pixelCount; ++i, p += 4)
        for (int c = 0; c < 3; ++c) p[c] = encode->linearToCode16[p[c]];
      break;
    }
    case GL_FLOAT: {
      auto* p = static_cast<float*>(pixels);
      for (size_t i = 0; i < pixelCount; ++i, p += 4)
        for (int c = 0; c < 3; ++c) {
          const float v = std::clamp(p[c], 0.0f, 1.0f) * 65535.0f + 0.5f;
          p[c] = encode->linearToCode16[static_cast<uint32_t>(v)] / 65535.0f;
        }
      break;
    }
    case GL_HALF_FLOAT: {
      const uint16_t* table = HalfGammaTable();
      auto* p = static_cast<uint16_t*>(pixels);
      for (size_t i = 0; i < pixelCount; ++i, p += 4)
        for (int c = 0; c < 3; ++c) {
          const float v = std::clamp(HalfToFloat(p[c]), 0.0f, 1.0f) * 65535.0f + 0.5f;
          p[c] = table[static_cast<uint32_t>(v)];
        }
      break;
    }
    default:
      REPORT_DEBUG("Pixel type 0x%X is not recognized.", dataType);
  }
}

bool ViewHasRoom(const RenderingParameters& p) {
  return p.viewRect.right - p.viewRect.left > 2 && p.viewRect.bottom - p.viewRect.top > 2;
}

bool FrameNeedsSoftwareGamma(const ScaledProxyLayer& layer) {
  return !layer.gammaProgram && PreviewTextureSet(COMPOSITE_SET)->correctGamma == 0;
}

ImageRect CenteredImageRect(const ImageRect& view, int32_t imageWidth, int32_t imageHeight, double zoomPercent) {
  const ImageRect inner{view.left + 1, view.top + 1, view.right - 1, view.bottom - 1};
  const double divisor = 100.0 / zoomPercent;
  int32_t width = static_cast<int32_t>(imageWidth / divisor + 1e-10);
  int32_t height = static_cast<int32_t>(imageHeight / divisor + 1e-10);
  width = std::max(width, 1);
  height = std::max(height, 1);
  const int32_t freeX = (inner.right - inner.left) - width;
  const int32_t freeY = (inner.bottom - inner.top) - height;
  const int32_t left = view.left + (freeX > 0 ? freeX / 2 + 1 : 1);
  const int32_t top = view.top + (freeY > 0 ? freeY / 2 + 1 : 1);
  return ImageRect{std::max(left, inner.left), std::max(top, inner.top), std::min(left + width, inner.right),
                   std::min(top + height, inner.bottom)};
}

bool InitializeScaledProxyLayer(ScaledProxyLayer* layer) {
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glMatrixMode(GL_TEXTURE);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPolygonMode(GL_FRONT, GL_FILL);
  glEnable(GL_TEXTURE_2D);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  for (GLenum name : {GL_PACK_SWAP_BYTES, GL_UNPACK_SWAP_BYTES, GL_PACK_LSB_FIRST, GL_UNPACK_LSB_FIRST,
                      GL_PACK_ROW_LENGTH, GL_UNPACK_ROW_LENGTH, GL_PACK_SKIP_ROWS, GL_UNPACK_SKIP_ROWS,
                      GL_PACK_SKIP_PIXELS, GL_UNPACK_SKIP_PIXELS})
    glPixelStorei(name, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  for (GLenum cap : {GL_ALPHA_TEST, GL_DEPTH_TEST, GL_DITHER, GL_FOG, GL_LIGHTING, GL_COLOR_LOGIC_OP, GL_STENCIL_TEST})
    glDisable(cap);
  // The quads of the texture sets and stars are wound either way: no culling.
  glDisable(GL_CULL_FACE);
  glPixelTransferi(GL_MAP_COLOR, GL_FALSE);
  for (GLenum scale : {GL_RED_SCALE, GL_GREEN_SCALE, GL_BLUE_SCALE, GL_ALPHA_SCALE}) glPixelTransferf(scale, 1);
  for (GLenum bias : {GL_RED_BIAS, GL_GREEN_BIAS, GL_BLUE_BIAS, GL_ALPHA_BIAS}) glPixelTransferf(bias, 0);
  if (CHECK_OPENGL_ERROR("OpenGL Function Failed in InitializeScaledProxyLayer(). Failed to initialize OpenGL states.") !=
      0)
    return false;
  layer->gammaProgram = false;
  if (GetShaderSupport()) {
    int count = 0;
    ShaderProgramVersion* versions = ProxyGammaProgramVersions(&count);
    if (AddShaderProgram(versions, count) && CreateShaderProgram() &&
        SelectedShaderVersion(PROXY_GAMMA_PROGRAM) != nullptr) {
      if (!MakeShaderProgramActive(PROXY_GAMMA_PROGRAM) || !SetProxyShaderGamma(1.0f / 2.2f)) return false;
      MakeShaderProgramActive(0);
      layer->gammaProgram = true;
    }
  }
  SetFrameGammaCorrector(SoftwareGamma);
  InitializeTextureSets(layer->gammaProgram);
  glGenTextures(1, &layer->checkerboard);
  const uint8_t texels[16] = {255, 255, 255, 255, 148, 148, 148, 255, 148, 148, 148, 255, 255, 255, 255, 255};
  glBindTexture(GL_TEXTURE_2D, layer->checkerboard);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glBindTexture(GL_TEXTURE_2D, 0);
  if (CHECK_OPENGL_ERROR("OpenGL Function Failed in InitializeScaledProxyLayer().") != 0) return false;
  if (!SetUpPreviewEffectShapes(&layer->effects)) return false;
  layer->hostTexturesStale = layer->effectsStale = layer->frameChanged = true;
  layer->haveState = false;
  layer->comparison = RenderingComparison{};
  layer->initialized = true;
  return true;
}

void DestroyScaledProxyLayer(ScaledProxyLayer* layer) {
  glBindTexture(GL_TEXTURE_2D, 0);
  if (layer->checkerboard != 0) glDeleteTextures(1, &layer->checkerboard);
  layer->checkerboard = 0;
  DestroyPreviewTextureSets();
  DestroyShaderPrograms();
  CHECK_OPENGL_ERROR("OpenGL Function Failed in DestroyScaledProxyLayer().");
  DestroyFilterEffects_OpenGL(&layer->effects);
  ReleaseImage(&layer->splashImage);
  layer->splashReady = false;
  layer->initialized = false;
}

void UpdateProxyDisplayState(ScaledProxyLayer* layer, const RenderingParameters& p) {
  const uint32_t changes = CompareRenderingParameters(&layer->comparison, &p);
  const bool viewChanged = !layer->haveState || layer->zoomPercent != p.zoomPercent ||
                           layer->scrollX != p.scrollX || layer->scrollY != p.scrollY ||
                           std::memcmp(&layer->viewRect, &p.viewRect, sizeof p.viewRect) != 0 ||
                           layer->previousEffectsOnly != layer->effectsOnly ||
                           layer->effectsVisible != (p.effectsVisible != 0);
  if ((changes & RENDER_CHANGE_MONITOR) != 0 || viewChanged) layer->hostTexturesStale = true;
  if ((changes & RENDER_CHANGE_EFFECTS) != 0 || viewChanged) layer->effectsStale = true;
  if (changes != 0 || viewChanged) layer->frameChanged = true;
  layer->haveState = true;
  layer->zoomPercent = p.zoomPercent;
  layer->scrollX = p.scrollX;
  layer->scrollY = p.scrollY;
  layer->viewRect = p.viewRect;
  layer->effectsVisible = p.effectsVisible != 0;
  layer->previousEffectsOnly = layer->effectsOnly;
}

bool RenderScaledProxyDisplay(ScaledProxyLayer* layer, const RenderingParameters& p) {
  if (!layer->initialized || layer->hostImage == nullptr || layer->proxy == nullptr || p.zoomPercent <= 0)
    return false;
  const PassGeometry g = GeometryOf(*layer, p);
  const int32_t viewWidth = g.view.right - g.view.left, viewHeight = g.view.bottom - g.view.top;
  // A view with no room (a window sized to nothing) shows nothing, which is
  // no failure.
  if (!ViewHasRoom(p)) return true;
  if (Aborted(*layer)) return false;
  ProgressFeed progress(*layer);
  // The effects are drawn in the view's pixels, and copies out of a frame
  // buffer are limited to the viewport.
  SetGLSize(GLRect{0, 0, viewWidth, viewHeight});
  if (layer->hostTexturesStale) {
    SetBackgroundBusy(true);
    if (CreateHostImageTextureSet(layer, g, p.scrollX, p.scrollY)) layer->hostTexturesStale = false;
    SetBackgroundBusy(false);
    if (layer->hostTexturesStale) return false;
    progress.Advance(1);
  } else {
    progress.Advance(17);
  }
  if (Aborted(*layer)) return false;
  if (layer->effectsStale && p.effectsVisible) {
    SetBackgroundBusy(true);
    if (GenerateEffectsTexture(layer, p, g)) layer->effectsStale = false;
    SetBackgroundBusy(false);
    if (layer->effectsStale) return false;
    progress.Advance(1);
  } else {
    progress.Advance(5);
  }
  if (Aborted(*layer)) return false;

  glViewport(0, 0, viewWidth, viewHeight);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  if (CHECK_OPENGL_ERROR("Failed to initialize Proxy Window display.") != 0) return false;
  if (layer->screenDrawing) {
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glColor4d(BACKGROUND, BACKGROUND, BACKGROUND, 1);
    glRectd(0, 0, viewWidth, viewHeight);
    glPopAttrib();
    if (CHECK_OPENGL_ERROR("Failed to draw Proxy Window background.") != 0) return false;
  }
  TextureSet* composite = PreviewTextureSet(COMPOSITE_SET);
  const bool compositeFrameBuffer = composite->framebuffer != 0 && AttachFBOWithRenderBuffer(composite, viewWidth, viewHeight);
  if (compositeFrameBuffer) glClear(GL_COLOR_BUFFER_BIT);
  glScissor(g.display.left, viewHeight - g.display.bottom, g.display.right - g.display.left,
            g.display.bottom - g.display.top);
  glEnable(GL_SCISSOR_TEST);
  if (CHECK_OPENGL_ERROR("Failed to initiate scissor clipping.") != 0) return false;
  bool ok = DrawCompositeImage(layer, p, g);
  progress.Advance(2);
  glDisable(GL_SCISSOR_TEST);
  if (CHECK_OPENGL_ERROR("Failed to restore environment.") != 0) ok = false;
  if (!ok || Aborted(*layer)) {
    if (compositeFrameBuffer) {
      DetachFBO();
      BindOutput(*layer);
    }
    return false;
  }
  ok = CreateTextureSetFromFramebuffer(viewWidth, viewHeight, g.display, composite);
  if (compositeFrameBuffer) {
    DetachFBO();
    BindOutput(*layer);
  }
  // The finished frame, encoded for the display on its way to the output.
  glPushAttrib(GL_COLOR_BUFFER_BIT | GL_CURRENT_BIT | GL_ENABLE_BIT | GL_TEXTURE_BIT);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glColor4f(1, 1, 1, 1);
  glBlendFunc(GL_ONE, GL_ZERO);
  if (layer->gammaProgram) MakeShaderProgramActive(PROXY_GAMMA_PROGRAM);
  ok = DrawImageTextureSet(composite) && ok;
  if (layer->gammaProgram) MakeShaderProgramActive(0);
  glPopAttrib();
  if (CHECK_OPENGL_ERROR("RenderScaledProxyDisplay() - OpenGL function failure in gamma correction.") != 0) ok = false;
  if (ok && layer->screenDrawing) ok = DrawSelectionAndFocus(*layer, p, g);
  if (ok) layer->frameChanged = true;
  return ok && !Aborted(*layer);
}

void PaintSplashPicture(std::vector<uint8_t>* pixels) {
  pixels->assign(static_cast<size_t>(SPLASH_WIDTH) * SPLASH_HEIGHT * 4, 255);
  const double cx = SPLASH_WIDTH / 2.0, cy = SPLASH_HEIGHT / 2.0;
  uint32_t seed = 12345;
  for (int32_t y = 0; y < SPLASH_HEIGHT; ++y)
    for (int32_t x = 0; x < SPLASH_WIDTH; ++x) {
      // Night blue, lighter towards the bottom, in linear light.
      const double t = static_cast<double>(y) / SPLASH_HEIGHT;
      double base[3] = {0.002 + 0.010 * t, 0.004 + 0.016 * t, 0.020 + 0.045 * t};
      const double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      const double r2 = dx * dx + dy * dy;
      // The star: a glow and four long spikes, two short ones between.
      double light = 1.2 * std::exp(-r2 / 60.0) + 0.08 * std::exp(-r2 / 2500.0);
      const double spikes[4][3] = {{1, 0, 1.0}, {0, 1, 1.0}, {0.7071, 0.7071, 0.35}, {0.7071, -0.7071, 0.35}};
      for (const auto& d : spikes) {
        const double along = std::fabs(dx * d[0] + dy * d[1]);
        const double across = dx * d[1] - dy * d[0];
        light += d[2] * 0.9 * std::exp(-across * across / 1.2) / (1.0 + along / 6.0) * std::exp(-along / 120.0);
      }
      // A sprinkle of faint stars.
      seed = seed * 1664525u + 1013904223u;
      if ((seed >> 24) == 0) light += 0.05 + (seed >> 16 & 0xFF) / 1024.0;
      uint8_t* p = &(*pixels)[(static_cast<size_t>(y) * SPLASH_WIDTH + x) * 4];
      for (int c = 0; c < 3; ++c) {
        // Screened on, slightly warm: blue-green-red in memory.
        const double warm[3] = {0.85, 0.95, 1.0};
        const double v = 1.0 - (1.0 - base[2 - c]) * (1.0 - std::min(1.0, light * warm[c]));
        p[c] = static_cast<uint8_t>(std::lround(255.0 * std::pow(std::clamp(v, 0.0, 1.0), 1 / 2.2)));
      }
    }
}

namespace {
std::atomic<const DibDescription*> SplashBitmap{nullptr};
}  // namespace

void SetSplashBitmap(const DibDescription* dib) { SplashBitmap = dib; }

bool DrawSplashScreen(ScaledProxyLayer* layer, const ImageRect& view) {
  TextureSet* set = PreviewTextureSet(SPLASH_SET);
  if (!layer->splashReady) {
    std::vector<uint8_t> picture;
    DibDescription dib{SPLASH_WIDTH, -SPLASH_HEIGHT, SPLASH_WIDTH * 4, 32, 0, nullptr};
    if (const DibDescription* loaded = SplashBitmap.load()) {
      dib = *loaded;
    } else {
      PaintSplashPicture(&picture);
      dib.bits = picture.data();
    }
    if (!CreateTextureSetFromDIB(set, dib, &layer->splashImage)) return false;
    set->scaled = 1;  // drawn where the current matrix puts it
    layer->splashReady = true;
  }
  const int32_t width = view.right - view.left, height = view.bottom - view.top;
  if (width <= 0 || height <= 0) return true;
  SetGLSize(GLRect{0, 0, width, height});
  glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_COLOR_BUFFER_BIT);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glDisable(GL_TEXTURE_2D);
  glDisable(GL_BLEND);
  glColor4d(BACKGROUND, BACKGROUND, BACKGROUND, 1);
  glRectd(0, 0, width, height);
  // Centred; the picture is in display codes already.
  glTranslated((width - layer->splashImage.width) / 2, (height - layer->splashImage.height) / 2, 0);
  glEnable(GL_TEXTURE_2D);
  glColor4f(1, 1, 1, 1);
  const bool ok = DrawImageTextureSet(set);
  glPopMatrix();
  glPopAttrib();
  return CHECK_OPENGL_ERROR("Failed to draw splash screen to GL_BACK framebuffer.") == 0 && ok;
}
