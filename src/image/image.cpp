#include "image/image.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "image/pixel_access.h"
#include "runtime/report.h"
#include "runtime/status.h"

namespace {

const char* const CAPTION_EXITING = "Error - Exiting Plug-in";

// Gamma 2.2 decoding uses the reverse tables of gamma 1 / 2.2.
constexpr double DECODE_GAMMA_22 = 1.0 / 2.2;

// Every component of a buffer must be reachable with a 32-bit signed index:
// the pixel routines, the row-pair filters and OpenGL's sizes (GLsizei) count
// in 32 bits, and a larger buffer would make them wrap.
constexpr uint64_t MAX_BUFFER_COMPONENTS = INT32_MAX;

void StoreStatus(int16_t* status, int16_t value) {
  if (status != nullptr) *status = value;
}

bool IsKnownMode(uint32_t mode) {
  switch (mode) {
    case IMAGE_MODE_GRAY8:
    case IMAGE_MODE_RGB8:
    case IMAGE_MODE_GRAY16:
    case IMAGE_MODE_RGB16:
    case IMAGE_MODE_RGB_FLOAT:
    case IMAGE_MODE_GRAY_FLOAT:
    case IMAGE_MODE_RGBA_UINT32:
      return true;
    default:
      return false;
  }
}

// Width or height of a rectangle side pair; -1 when reversed or too wide for
// 32 bits.
int64_t Extent(int32_t low, int32_t high) {
  const int64_t extent = static_cast<int64_t>(high) - static_cast<int64_t>(low);
  return extent < 0 || extent > INT32_MAX ? -1 : extent;
}

// Profile gamma rounded to 1/20; estimates outside any sensible range fall
// back to the usual 2.2 (reported), as tables for a zero or endless gamma
// would turn every pixel black or white.
double ImageGammaOf(double profileGamma) {
  const double rounded = std::floor(profileGamma * 20.0 + 0.5) / 20.0;
  if (std::isfinite(rounded) && rounded > 0.0) return rounded;
  REPORT_DEBUG("CreateImage() received an unusable profile gamma (%g); using 2.2.", profileGamma);
  return 2.2;
}

}  // namespace

int32_t ImageDiagonal(int32_t width, int32_t height) {
  const double w = width, h = height;
  return static_cast<int32_t>(std::sqrt(w * w + h * h) + 1.0);
}

int32_t BytesPerChannel(uint32_t mode) {
  if (mode <= 9) return 1;
  if (mode <= 15) return 2;
  if (mode == IMAGE_MODE_RGB_FLOAT || mode == IMAGE_MODE_GRAY_FLOAT || mode == IMAGE_MODE_RGBA_UINT32) return 4;
  REPORT_DEBUG("Error:  Unrecognized image mode.");
  return 1;
}

bool CreateImage(const ImageRect& bufferRect, bool clamped, Image* image, const ImageRect& imageRect, uint32_t mode,
                 ColorProfileHandle profile, double profileGamma, bool withMask, int16_t* status) {
  if (image == nullptr) {
    REPORT_DEBUG("CreateImage() received a NULL image record.");
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  // Modes the pixel routines cannot read (bitmap, indexed, CMYK, ...) are
  // refused here rather than producing an image of silent zeros later.
  if (!IsKnownMode(mode)) {
    REPORT_DEBUG("CreateImage received an unexpected ImageMode (%d) that doesn't resolve to 1 or 4 bytes per color.",
                 static_cast<int>(mode));
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  const int64_t width = Extent(imageRect.left, imageRect.right);
  const int64_t height = Extent(imageRect.top, imageRect.bottom);
  const int64_t bufferWidth = Extent(bufferRect.left, bufferRect.right);
  const int64_t bufferHeight = Extent(bufferRect.top, bufferRect.bottom);
  if (width < 0 || height < 0 || bufferWidth < 0 || bufferHeight < 0) {
    REPORT_DEBUG("CreateImage() received an invalid rectangle: image (%d, %d, %d, %d), buffer (%d, %d, %d, %d).",
                 imageRect.left, imageRect.top, imageRect.right, imageRect.bottom, bufferRect.left, bufferRect.top,
                 bufferRect.right, bufferRect.bottom);
    StoreStatus(status, STATUS_PARAMETER_ERROR);
    return false;
  }
  const int32_t bytesPerChannel = BytesPerChannel(mode);
  // Both factors are below 2^31, so neither product can wrap 64 bits.
  const uint64_t bufferPixels = static_cast<uint64_t>(bufferHeight + 1) * static_cast<uint64_t>(bufferWidth);
  const uint64_t components = bufferPixels * 4;
  const uint64_t pixelBytes = components * static_cast<uint64_t>(bytesPerChannel);
  if (components > MAX_BUFFER_COMPONENTS || pixelBytes > static_cast<uint64_t>(PTRDIFF_MAX)) {
    REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "The image is too large to be held in memory (%d x %d pixels).",
                static_cast<int>(bufferWidth), static_cast<int>(bufferHeight));
    StoreStatus(status, STATUS_OUT_OF_MEMORY);
    return false;
  }

  image->imageRect = imageRect;
  image->bufferRect = bufferRect;
  image->mode = mode;
  image->channels = 4;
  image->bytesPerChannel = bytesPerChannel;
  switch (bytesPerChannel) {
    case 1:
      image->glPixelFormat = IMAGE_GL_BGRA;
      image->glDataType = IMAGE_GL_UNSIGNED_BYTE;
      break;
    case 2:
      image->glPixelFormat = IMAGE_GL_RGBA;
      image->glDataType = IMAGE_GL_UNSIGNED_SHORT;
      break;
    default:
      image->glPixelFormat = IMAGE_GL_RGBA;
      image->glDataType = mode == IMAGE_MODE_RGBA_UINT32 ? IMAGE_GL_UNSIGNED_INT : IMAGE_GL_FLOAT;
      break;
  }
  image->clamped = clamped ? 1 : 0;
  image->profile = profile;
  image->gamma = ImageGammaOf(profileGamma);
  image->gammaTables = GetGammaTables(image->gamma);
  AttachPixelRoutines(image);
  image->width = static_cast<int32_t>(width);
  image->height = static_cast<int32_t>(height);
  image->bufferWidth = static_cast<int32_t>(bufferWidth);
  image->bufferHeight = static_cast<int32_t>(bufferHeight);

  if (image->gammaTables == nullptr) {
    REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not allocate memory for an image.");
    StoreStatus(status, STATUS_OUT_OF_MEMORY);
    return false;
  }
  const int16_t pixelResult = ReallocateBuffer(static_cast<size_t>(pixelBytes), &image->pixels);
  if (pixelResult != 0) {
    StoreStatus(status, pixelResult);
    REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not allocate memory for an image.");
    return false;
  }
  if (withMask) {
    const int16_t maskResult = ReallocateBuffer(static_cast<size_t>(bufferPixels), &image->mask);
    if (maskResult != 0) {
      StoreStatus(status, maskResult);
      REPORT_USER(STYLE_ERROR, CAPTION_EXITING, "Could not allocate memory for an image mask.");
      return false;
    }
  } else {
    DeallocateBuffer(&image->mask);
  }
  return true;
}

void ReleaseImage(Image* image) {
  if (image == nullptr) return;
  DeallocateBuffer(&image->pixels);
  DeallocateBuffer(&image->mask);
  std::memset(image, 0, sizeof *image);
}

void LinearizeImage(Image* image) {
  if (image == nullptr) {
    REPORT_DEBUG("LinearizeImage() received a NULL image record.");
    return;
  }
  const GammaTables* decode = GetGammaTables(DECODE_GAMMA_22);
  const uint64_t pixelCount = static_cast<uint64_t>(image->bufferWidth < 0 ? 0 : image->bufferWidth) *
                              static_cast<uint64_t>(image->bufferHeight < 0 ? 0 : image->bufferHeight);
  const uint64_t needed =
      pixelCount * 4 * static_cast<uint64_t>(image->bytesPerChannel < 0 ? 0 : image->bytesPerChannel);
  if (decode == nullptr) {
    REPORT_DEBUG("LinearizeImage() has no gamma tables; the image is left as it is.");
  } else if (image->glDataType == IMAGE_GL_UNSIGNED_BYTE || image->glDataType == IMAGE_GL_UNSIGNED_SHORT) {
    if (needed > image->pixels.size) {
      REPORT_DEBUG("LinearizeImage() received an image whose pixel buffer is smaller than its rectangle.");
    } else if (image->glDataType == IMAGE_GL_UNSIGNED_BYTE) {
      // The code is used as the high byte of the 16-bit index, so full white
      // decodes to 253: the shape textures were tuned with that curve.
      auto* p = static_cast<uint8_t*>(image->pixels.buffer);
      for (uint64_t i = 0; i < pixelCount; ++i, p += 4) {
        for (int c = 0; c < 3; ++c) p[c] = decode->linearToCode8[p[c] * 256u];
      }
    } else {
      auto* p = static_cast<uint16_t*>(image->pixels.buffer);
      for (uint64_t i = 0; i < pixelCount; ++i, p += 4) {
        for (int c = 0; c < 3; ++c) p[c] = decode->linearToCode16[p[c]];
      }
    }
  } else {
    REPORT_DEBUG("Pixel type 0x%X is not recognized in function LinearizeImage.", image->glDataType);
  }
  image->gamma = 1.0;
  image->gammaTables = GetGammaTables(1.0);
}
