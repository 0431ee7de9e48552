#pragma once
// The pixel-format rule: which of a device's formats the plug-in draws with,
// and whether that means the GPU renders. A pure function over the formats'
// descriptions, so that lists no test machine has can be tried.
#include <cstdint>

// The 40 bytes of the system's pixel format description, field for field
// (the Windows build checks the layout against its own header).
struct PixelFormatDescriptor {
  uint16_t size;
  uint16_t version;
  uint32_t flags;
  uint8_t pixelType;
  uint8_t colorBits;
  uint8_t redBits, redShift, greenBits, greenShift, blueBits, blueShift;
  uint8_t alphaBits, alphaShift;
  uint8_t accumBits, accumRedBits, accumGreenBits, accumBlueBits, accumAlphaBits;
  uint8_t depthBits;
  uint8_t stencilBits;
  uint8_t auxBuffers;
  uint8_t layerType;
  uint8_t reserved;
  uint32_t layerMask;
  uint32_t visibleMask;
  uint32_t damageMask;
};
static_assert(sizeof(PixelFormatDescriptor) == 40, "a pixel format description is 40 bytes");

// The flag bits and the pixel type the rule reads.
enum : uint32_t {
  PIXEL_DOUBLEBUFFER = 0x00000001,
  PIXEL_DRAW_TO_WINDOW = 0x00000004,
  PIXEL_DRAW_TO_BITMAP = 0x00000008,
  PIXEL_SUPPORT_GDI = 0x00000010,
  PIXEL_SUPPORT_OPENGL = 0x00000020,
  PIXEL_GENERIC_FORMAT = 0x00000040,
  PIXEL_NEED_PALETTE = 0x00000080,
  PIXEL_NEED_SYSTEM_PALETTE = 0x00000100,
  PIXEL_GENERIC_ACCELERATED = 0x00001000,
};
constexpr uint8_t PIXEL_TYPE_RGBA = 0;

struct PixelFormatChoice {
  int index;             // 1-based index into the device's list; 0: none fits
  bool gpuAcceleration;  // the index names an accelerated (driver) format
};

// RGBA, OpenGL, no palette, exactly 32 colour bits with alpha. Of those, the
// first format of the driver that draws double-buffered to a window wins;
// failing that (or when softwareOnly), the first of the system's generic
// renderer that draws single-buffered to a GDI bitmap.
bool IsCandidatePixelFormat(const PixelFormatDescriptor& format);
PixelFormatChoice ChoosePixelFormatFrom(const PixelFormatDescriptor* formats, int count, bool softwareOnly);
