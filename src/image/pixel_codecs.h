#pragma once
// The colour channels of the integer modes, read and written in place
// through the image's gamma tables. The pixel routines of those modes are
// built from these; loops over many pixels of one image call them directly
// instead of through the image's routine pointers.
#include <cstddef>
#include <cstdint>

#include "image/gamma_tables.h"
#include "image/pixel_access.h"

// Sample: uint8_t or uint16_t; kGray: one channel stands for all three.
// 8-bit colour is stored blue first, 16-bit red first.
template <typename Sample, bool kGray>
struct ColourCodec {
  static constexpr int RED = sizeof(Sample) == 1 && !kGray ? 2 : 0;
  static constexpr int BLUE = 2 - RED;

  static uint32_t ToLinear(const GammaTables* tables, Sample code) {
    if constexpr (sizeof(Sample) == 1)
      return tables->code8ToLinear[code];
    else
      return tables->code16ToLinear[code];
  }
  // Values at or above full intensity saturate.
  static Sample ToCode(const GammaTables* tables, uint32_t value) {
    if constexpr (sizeof(Sample) == 1)
      return value > PIXEL_FULL - 1 ? 255 : tables->linearToCode8[value >> 8];
    else
      return value > PIXEL_FULL - 1 ? 65535 : tables->linearToCode16[value >> 8];
  }

  static void Read(const GammaTables* tables, const Sample* p, uint32_t* red, uint32_t* green, uint32_t* blue) {
    if constexpr (kGray) {
      *red = *green = *blue = ToLinear(tables, p[0]);
    } else {
      *red = ToLinear(tables, p[RED]);
      *green = ToLinear(tables, p[1]);
      *blue = ToLinear(tables, p[BLUE]);
    }
  }
  // PIXEL_KEEP leaves a channel as it is; gray takes the red value.
  static void Write(const GammaTables* tables, Sample* p, uint32_t red, uint32_t green, uint32_t blue) {
    if constexpr (kGray) {
      if (red != PIXEL_KEEP) p[0] = p[1] = p[2] = ToCode(tables, red);
    } else {
      if (red != PIXEL_KEEP) p[RED] = ToCode(tables, red);
      if (green != PIXEL_KEEP) p[1] = ToCode(tables, green);
      if (blue != PIXEL_KEEP) p[BLUE] = ToCode(tables, blue);
    }
  }
};
