#include "host/host_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/plugin_globals.h"
#include "image/pixel_access.h"
#include "runtime/progress.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {

const char* const CAPTION_EXITING = "Error - Exiting Plug-in";
constexpr int32_t DEFAULT_TILE_SIZE = 1024;
constexpr int32_t WRITE_TILE_SIZE = 2048;
constexpr int16_t PADDING_WHITE = 255;
constexpr Fixed UNIT_RATE = 0x10000;

// Where the host put the samples of one delivered rectangle: rows apart by
// rowBytes, pixels by columnBytes, planes within a pixel by planeBytes. Hosts
// that leave the column and plane fields 0 use the plain interleaved layout.
struct HostLayout {
  const uint8_t* data;
  int64_t rowBytes;
  int64_t columnBytes;
  int64_t planeBytes;
};

HostLayout LayoutOf(const void* data, int32_t rowBytes, int32_t columnBytes, int32_t planeBytes, int32_t planes,
                    int32_t sampleBytes) {
  HostLayout layout;
  layout.data = static_cast<const uint8_t*>(data);
  layout.rowBytes = rowBytes;
  layout.columnBytes = columnBytes > 0 ? columnBytes : static_cast<int64_t>(planes) * sampleBytes;
  layout.planeBytes = planeBytes > 0 ? planeBytes : sampleBytes;
  return layout;
}

// Component of the Image that host colour plane `plane` belongs to.
inline int32_t ComponentOfPlane(const Image& image, int32_t plane) {
  return image.glPixelFormat == IMAGE_GL_BGRA ? 2 - plane : plane;
}

inline uint16_t HostToMemory16(uint16_t v) {
  return v >= 32768 ? 65535 : static_cast<uint16_t>((static_cast<uint32_t>(v) * 65535u) >> 15);
}
// Rounded, so that every host value comes back as it went in.
inline uint16_t MemoryToHost16(uint16_t v) {
  return static_cast<uint16_t>((static_cast<uint32_t>(v) * 32768u + 32767u) / 65535u);
}

// Copies plane `plane` of a delivered tile into `component` of the copy.
template <typename Sample>
void CopyPlaneIn(const HostLayout& in, int32_t plane, const VRect& tile, Image* image, int32_t component) {
  const int32_t width = tile.right - tile.left;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const uint8_t* src = in.data + static_cast<int64_t>(y - tile.top) * in.rowBytes + plane * in.planeBytes;
    Sample* dst = PixelSamples<Sample>(*image, tile.left, y) + component;
    for (int32_t x = 0; x < width; ++x, src += in.columnBytes, dst += 4) {
      Sample v;
      std::memcpy(&v, src, sizeof v);
      if constexpr (sizeof(Sample) == 2) v = HostToMemory16(v);
      *dst = v;
    }
  }
}

// Copies a delivered tile into every component of the copy in one pass:
// component c from host plane planeOf[c], or `constant` where that is -1.
// Interleaved 8-bit RGB, the usual case, has a loop of its own.
template <typename Sample>
void CopyTileIn(const HostLayout& in, const VRect& tile, Image* image, const int32_t planeOf[4], Sample constant) {
  const int32_t width = tile.right - tile.left;
  const bool packedRgb8 = sizeof(Sample) == 1 && in.columnBytes == 3 && in.planeBytes == 1 && planeOf[0] == 2 &&
                          planeOf[1] == 1 && planeOf[2] == 0 && planeOf[3] < 0;
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    const uint8_t* row = in.data + static_cast<int64_t>(y - tile.top) * in.rowBytes;
    Sample* dst = PixelSamples<Sample>(*image, tile.left, y);
    if (packedRgb8) {
      for (int32_t x = 0; x < width; ++x, row += 3, dst += 4) {
        dst[0] = static_cast<Sample>(row[2]);
        dst[1] = static_cast<Sample>(row[1]);
        dst[2] = static_cast<Sample>(row[0]);
        dst[3] = constant;
      }
      continue;
    }
    for (int32_t x = 0; x < width; ++x, row += in.columnBytes, dst += 4) {
      for (int32_t c = 0; c < 4; ++c) {
        if (planeOf[c] < 0) {
          dst[c] = constant;
          continue;
        }
        Sample v;
        std::memcpy(&v, row + planeOf[c] * in.planeBytes, sizeof v);
        if constexpr (sizeof(Sample) == 2) v = HostToMemory16(v);
        dst[c] = v;
      }
    }
  }
}

void CopyPlaneInBySize(const HostLayout& in, int32_t plane, const VRect& tile, Image* image, int32_t component) {
  switch (image->bytesPerChannel) {
    case 1: CopyPlaneIn<uint8_t>(in, plane, tile, image, component); break;
    case 2: CopyPlaneIn<uint16_t>(in, plane, tile, image, component); break;
    default: CopyPlaneIn<uint32_t>(in, plane, tile, image, component); break;  // float bits as they are
  }
}

// Copies the copy's pixels of a tile out to all `planes` host planes in one
// pass (plane p from component componentOf[p]).
template <typename Sample>
void CopyTileOut(const Image* image, const int32_t* componentOf, int32_t planes, const VRect& tile,
                 const HostLayout& out) {
  const int32_t width = tile.right - tile.left;
  const bool packedRgb8 = sizeof(Sample) == 1 && planes == 3 && out.columnBytes == 3 && out.planeBytes == 1 &&
                          componentOf[0] == 2 && componentOf[1] == 1 && componentOf[2] == 0;
  auto* base = const_cast<uint8_t*>(out.data);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    uint8_t* dst = base + static_cast<int64_t>(y - tile.top) * out.rowBytes;
    const Sample* src = PixelSamples<const Sample>(*image, tile.left, y);
    if (packedRgb8) {
      for (int32_t x = 0; x < width; ++x, dst += 3, src += 4) {
        dst[0] = static_cast<uint8_t>(src[2]);
        dst[1] = static_cast<uint8_t>(src[1]);
        dst[2] = static_cast<uint8_t>(src[0]);
      }
      continue;
    }
    for (int32_t x = 0; x < width; ++x, dst += out.columnBytes, src += 4) {
      for (int32_t p = 0; p < planes; ++p) {
        Sample v = src[componentOf[p]];
        if constexpr (sizeof(Sample) == 2) v = MemoryToHost16(v);
        std::memcpy(dst + p * out.planeBytes, &v, sizeof v);
      }
    }
  }
}

void CopyMaskIn(const FilterRecord* record, const VRect& tile, Image* image) {
  const int32_t width = tile.right - tile.left;
  auto* mask = static_cast<uint8_t*>(image->mask.buffer);
  for (int32_t y = tile.top; y < tile.bottom; ++y) {
    uint8_t* dst = mask + PixelIndexOf(*image, tile.left, y);
    if (record->maskData == nullptr) {
      // A host that announced a mask but delivers none selects everything.
      std::memset(dst, 255, static_cast<size_t>(width));
      continue;
    }
    const uint8_t* src = static_cast<const uint8_t*>(record->maskData) +
                         static_cast<int64_t>(y - tile.top) * record->maskRowBytes;
    std::memcpy(dst, src, static_cast<size_t>(width));
  }
}

// Negative (and NaN) light has no meaning for the filter's maths.
void ClearNegativeFloats(Image* image) {
  auto* p = static_cast<float*>(image->pixels.buffer);
  const size_t pixels = static_cast<size_t>(image->bufferWidth) * static_cast<size_t>(image->bufferHeight);
  for (size_t i = 0; i < pixels; ++i, p += 4) {
    for (int c = 0; c < 3; ++c)
      if (!(p[c] >= 0.0f)) p[c] = 0.0f;
  }
}

bool IsTakenMode(int32_t mode) {
  return mode == plugInModeRGBColor || mode == plugInModeRGB48 || mode == plugInModeRGB96 ||
         IsGrayscaleMode(mode);
}

VRect Clip(int64_t left, int64_t top, int64_t right, int64_t bottom, const VRect& limit) {
  VRect r;
  r.left = static_cast<int32_t>(std::max<int64_t>(left, limit.left));
  r.top = static_cast<int32_t>(std::max<int64_t>(top, limit.top));
  r.right = static_cast<int32_t>(std::min<int64_t>(right, limit.right));
  r.bottom = static_cast<int32_t>(std::min<int64_t>(bottom, limit.bottom));
  return r;
}

// These two use the caption with a single space, as they always have.
void ReportProxyMisuse(const char* text) {
  DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
  ReportMessage(&message, STYLE_ERROR, "Debug: Unexpected Error", "%s", text);
}

void FailRead(int16_t status) {
  SetStatus(status);
  REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not read input image.");
}

}  // namespace

bool ReadHostImage(const EditorProfileInfo& editorProfile, HostImageCopy* copy, bool* ownMemory) {
  if (ownMemory != nullptr) *ownMemory = false;
  FilterRecord* record = GetFilterRecord();
  const int32_t mode = record->imageMode;
  const bool gray = IsGrayscaleMode(mode);
  const int32_t colourPlanes = record->inLayerPlanes != 0 ? record->inLayerPlanes : (gray ? 1 : 3);
  const int32_t extraPlanes = std::max<int32_t>(record->inTransparencyMask, 0);
  const int32_t planes = colourPlanes + extraPlanes;

  if (!IsTakenMode(mode)) {
    REPORT_DEBUG("Error:  Unexpected image mode %d in ReadHostImage().", mode);
    SetStatus(STATUS_PARAMETER_ERROR);
    return false;
  }
  if (gray && !editorProfile.isGray) {
    REPORT_USER(STYLE_WARNING, "Warning:  Operating On a Grayscale Channel",
                "You appear to be running the plug-in on a single channel or mask from a color image.");
  }
  if (colourPlanes <= 0 || planes > 255) {
    REPORT_DEBUG("ReadHostImage() received an unusable plane count (%d colour, %d extra).", colourPlanes, extraPlanes);
    SetStatus(STATUS_PARAMETER_ERROR);
    return false;
  }
  if (!Globals().host.advanceState) {
    FailRead(errPlugInHostInsufficient);
    return false;
  }

  int32_t tileWidth = record->inTileWidth, tileHeight = record->inTileHeight;
  if (tileWidth <= 0 || tileHeight <= 0) tileWidth = tileHeight = DEFAULT_TILE_SIZE;

  const VRect filter = GetFilterRect();
  const ImageRect rect{filter.left, filter.top, filter.right, filter.bottom};
  const bool hasMask = record->haveMask != 0;
  // The selection is applied here, pixel by pixel; a host that also blended
  // the result through it would apply a soft selection twice.
  record->autoMask = false;
  Image* image = &copy->image;
  int16_t status = 0;
  if (!CreateImage(rect, false, image, rect, static_cast<uint32_t>(mode), editorProfile.profile, editorProfile.gamma,
                   hasMask, &status)) {
    SetStatus(status != 0 ? status : STATUS_OUT_OF_MEMORY);
    if (ownMemory != nullptr) *ownMemory = Status() == STATUS_OUT_OF_MEMORY;
    return false;
  }
  const PixelValue black{0, 0, 0, PIXEL_OPAQUE, PIXEL_OPAQUE};
  // Where every component of the copy comes from a host plane or is opaque
  // alpha, one pass per tile writes each pixel whole, and nothing needs to
  // be filled first; other plane counts keep black where no plane goes.
  const bool wholePixels = (colourPlanes == 1 || colourPlanes >= 3) && extraPlanes <= 1;
  int32_t planeOf[4] = {-1, -1, -1, -1};
  uint8_t opaque[4] = {};
  if (wholePixels) {
    for (int32_t p = 0; p < std::min(colourPlanes, 3); ++p) planeOf[ComponentOfPlane(*image, p)] = p;
    if (colourPlanes == 1) planeOf[0] = planeOf[1] = planeOf[2] = 0;
    if (extraPlanes == 1) planeOf[3] = colourPlanes;
    // Opaque alpha as the pixel routines encode it (an empty rectangle has
    // no pixel to encode it in, and no tile to copy).
    const ImageRect first{rect.left, rect.top, rect.left + 1, rect.top + 1};
    if (image->width > 0 && image->height > 0 && FillImageRect(first, black, image))
      std::memcpy(opaque, static_cast<const uint8_t*>(image->pixels.buffer) + 3 * image->bytesPerChannel,
                  static_cast<size_t>(image->bytesPerChannel));
  } else {
    FillImageRect(rect, black, image);
  }
  copy->diagonal = ImageDiagonal(image->width, image->height);

  record->inputRate = UNIT_RATE;
  record->maskRate = UNIT_RATE;
  record->inputPadding = PADDING_WHITE;
  record->maskPadding = PADDING_WHITE;
  record->inLoPlane = 0;
  record->inHiPlane = static_cast<int16_t>(planes - 1);

  const int32_t sampleBytes = image->bytesPerChannel;
  for (int64_t top = filter.top; top < filter.bottom; top += tileHeight) {
    for (int64_t left = filter.left; left < filter.right; left += tileWidth) {
      const VRect tile = Clip(left, top, left + tileWidth, top + tileHeight, filter);
      SetOutRect(VRect{0, 0, 0, 0});
      SetInRect(tile);
      SetMaskRect(hasMask ? tile : VRect{0, 0, 0, 0});
      const OSErr result = record->advanceState();
      if (result != noErr) {
        FailRead(result);
        return false;
      }
      if (record->inData == nullptr || record->inRowBytes <= 0) {
        FailRead(STATUS_PARAMETER_ERROR);
        return false;
      }
      const HostLayout in = LayoutOf(record->inData, record->inRowBytes, record->inColumnBytes, record->inPlaneBytes,
                                     planes, sampleBytes);
      if (wholePixels) {
        switch (sampleBytes) {
          case 1:
            CopyTileIn<uint8_t>(in, tile, image, planeOf, opaque[0]);
            break;
          case 2: {
            uint16_t alpha;
            std::memcpy(&alpha, opaque, sizeof alpha);
            CopyTileIn<uint16_t>(in, tile, image, planeOf, alpha);
            break;
          }
          default: {
            uint32_t alpha;
            std::memcpy(&alpha, opaque, sizeof alpha);
            CopyTileIn<uint32_t>(in, tile, image, planeOf, alpha);
            break;
          }
        }
        if (hasMask) CopyMaskIn(record, tile, image);
        continue;
      }
      for (int32_t p = 0; p < planes; ++p) {
        if (p < colourPlanes) {
          if (p > 2) continue;  // a colour plane the Image has no room for
          CopyPlaneInBySize(in, p, tile, image, ComponentOfPlane(*image, p));
          if (colourPlanes == 1) {
            CopyPlaneInBySize(in, p, tile, image, 1);
            CopyPlaneInBySize(in, p, tile, image, ComponentOfPlane(*image, 2));
          }
        } else {
          CopyPlaneInBySize(in, p, tile, image, 3);
        }
      }
      if (hasMask) CopyMaskIn(record, tile, image);
    }
  }
  if (sampleBytes == 4) ClearNegativeFloats(image);
  return true;
}

int16_t WriteHostImage(const Image* copy) {
  FilterRecord* record = GetFilterRecord();
  if (copy == nullptr || copy->pixels.buffer == nullptr) {
    REPORT_DEBUG("WriteHostImage() called without an image.");
    return STATUS_PARAMETER_ERROR;
  }
  if (!Globals().host.advanceState) {
    REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not write results back to editor.");
    return errPlugInHostInsufficient;
  }
  const int32_t planes = IsGrayscaleMode(static_cast<int32_t>(copy->mode)) ? 1 : 3;
  const VRect area{copy->imageRect.top, copy->imageRect.left, copy->imageRect.bottom, copy->imageRect.right};
  SetInRect(VRect{0, 0, 0, 0});
  SetMaskRect(VRect{0, 0, 0, 0});
  record->outLoPlane = 0;
  record->outHiPlane = static_cast<int16_t>(planes - 1);

  const int64_t columns = (static_cast<int64_t>(area.right) - area.left + WRITE_TILE_SIZE - 1) / WRITE_TILE_SIZE;
  const int64_t rows = (static_cast<int64_t>(area.bottom) - area.top + WRITE_TILE_SIZE - 1) / WRITE_TILE_SIZE;
  const int32_t total = static_cast<int32_t>(std::max<int64_t>(columns * rows, 1));
  int32_t done = 0;
  int16_t status = noErr;
  // A cancel is taken only before the first tile: once the host holds part
  // of the result, stopping would leave it half filtered. Progress goes on.
  if (!DisplayImageEditorProgressBar(0, total)) return STATUS_USER_CANCELLED;
  for (int64_t top = area.top; top < area.bottom && status == noErr; top += WRITE_TILE_SIZE) {
    for (int64_t left = area.left; left < area.right && status == noErr; left += WRITE_TILE_SIZE) {
      const VRect tile = Clip(left, top, left + WRITE_TILE_SIZE, top + WRITE_TILE_SIZE, area);
      SetOutRect(tile);
      status = record->advanceState();
      if (status == noErr && (record->outData == nullptr || record->outRowBytes <= 0)) status = STATUS_PARAMETER_ERROR;
      if (status == noErr) {
        const HostLayout out = LayoutOf(record->outData, record->outRowBytes, record->outColumnBytes,
                                        record->outPlaneBytes, planes, copy->bytesPerChannel);
        int32_t componentOf[3] = {0, 0, 0};
        for (int32_t p = 0; p < planes; ++p) componentOf[p] = ComponentOfPlane(*copy, p);
        switch (copy->bytesPerChannel) {
          case 1:
            CopyTileOut<uint8_t>(copy, componentOf, planes, tile, out);
            break;
          case 2:
            CopyTileOut<uint16_t>(copy, componentOf, planes, tile, out);
            break;
          default:
            CopyTileOut<uint32_t>(copy, componentOf, planes, tile, out);
            break;
        }
      } else if (status != STATUS_USER_CANCELLED) {
        REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not write results back to editor.");
      }
      ++done;
      if (status == noErr) DisplayImageEditorProgressBar(done, total);
    }
  }
  return status;
}

void ReleaseHostImage(HostImageCopy* copy) {
  FilterRecord* record = GetFilterRecord();
  if (record != nullptr && NoError()) {
    ClearHostRects();
    if (Globals().host.advanceState) SetStatus(record->advanceState());
  }
  ReleaseImage(&copy->image);
  copy->diagonal = 0;
}

bool GetHostProxyImageInfo(const HostProxyImage& proxy, Image* image, double* scale) {
  if (image == nullptr || scale == nullptr) {
    ReportProxyMisuse("Some boneheaded programmer passed a NULL pointer to GetHostProxyImageInfo().");
    return false;
  }
  if (!proxy.rendered) {
    ReportProxyMisuse("GetHostProxyImageInfo() called before HostProxyImage rendered.");
    return false;
  }
  int level = HOST_PROXY_LEVEL_COUNT - 1;
  for (int i = 1; i <= 15; ++i) {
    if (scale[0] > proxy.levels[i + 1].scaleX || scale[1] > proxy.levels[i + 1].scaleY) {
      level = i;
      break;
    }
  }
  *image = proxy.levels[level].image;
  scale[0] = proxy.levels[level].scaleX;
  scale[1] = proxy.levels[level].scaleY;
  return true;
}
