#include "gl/pixel_format.h"

bool IsCandidatePixelFormat(const PixelFormatDescriptor& f) {
  return (f.flags & PIXEL_SUPPORT_OPENGL) != 0 && (f.flags & (PIXEL_NEED_PALETTE | PIXEL_NEED_SYSTEM_PALETTE)) == 0 &&
         f.pixelType == PIXEL_TYPE_RGBA && f.colorBits == 32 && f.alphaBits != 0;
}

PixelFormatChoice ChoosePixelFormatFrom(const PixelFormatDescriptor* formats, int count, bool softwareOnly) {
  int accelerated = 0;
  int software = 0;
  for (int i = 0; i < count; ++i) {
    const PixelFormatDescriptor& f = formats[i];
    if (!IsCandidatePixelFormat(f)) continue;
    const uint32_t generic = f.flags & (PIXEL_GENERIC_FORMAT | PIXEL_GENERIC_ACCELERATED);
    if (!softwareOnly && generic == 0 && (f.flags & PIXEL_DRAW_TO_WINDOW) != 0 &&
        (f.flags & PIXEL_DOUBLEBUFFER) != 0) {
      if (accelerated == 0) accelerated = i + 1;
    } else if (generic == PIXEL_GENERIC_FORMAT && (f.flags & PIXEL_DRAW_TO_BITMAP) != 0 &&
               (f.flags & PIXEL_SUPPORT_GDI) != 0 && (f.flags & PIXEL_DOUBLEBUFFER) == 0) {
      if (software == 0) software = i + 1;
    }
  }
  if (accelerated != 0) return PixelFormatChoice{accelerated, true};
  return PixelFormatChoice{software, false};
}
