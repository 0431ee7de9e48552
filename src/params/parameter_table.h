#pragma once
// Every field of the Parameter Set in one table: where it lives, what it
// means, the dialog's range, the factory value, how scripts address it and
// how far the renderer trusts it. The factory set, scripting, the renderer's
// limits and the command-line tool all read their numbers from here; the
// scripting dictionary and the help pages, which cannot read C++, are
// compared with it by the tests.
//
// Each field carries two ranges, and they differ on purpose:
// - the dialog range is what its control offers and where the dialog pins a
//   value when it shows one;
// - the render limit is what the renderer pins a value to before drawing
//   with it, only so that drawing stays safe and meaningful. It may be
//   wider: the dialog offers 2..8 points, yet any count from 1 (a lone
//   spike) to 360 draws, and 0 would divide a full turn by zero.
// Scripts store whatever value they are given (truncated to a whole number;
// one beyond the 16-bit field pinned to its ends): a scripted Intensity of
// 250 stays 250 in the set, in files and in the recording written back.
// Only the two readers above pin to their ranges.
//
// The table and its lookups live in this header so that the command-line
// host can use them without linking the plug-in's code; parameter_table.cpp
// holds the rules every row must keep, checked as it compiles.
#include <cstddef>
#include <cstdint>

#include "host_abi/host_interface.h"
#include "params/parameter_set.h"

enum ParameterUnit : uint8_t {
  UNIT_NONE,  // a selector or an opaque value
  UNIT_PERCENT,
  UNIT_DEGREES,
  UNIT_COUNT,  // a whole number of things
};

enum RenderLimit : uint8_t {
  RENDER_PINNED,     // clamped to renderMinimum..renderMaximum
  RENDER_TURNS,      // any angle: the drawing reduces it modulo 360 degrees
  RENDER_AS_STORED,  // read as stored (selectors, the carried value)
};

constexpr int NO_CONTROL = -1;

struct ParameterField {
  const char* name;  // as the dialog and the help pages name it
  uint8_t offset;    // bytes from the start of the Parameter Set
  uint8_t size;      // 2, or 4 for the carried value
  ParameterUnit unit;
  int32_t minimum;  // the dialog's range; for fields without one,
  int32_t maximum;  //   everything the field can hold
  int32_t factory;
  int index;            // scripting index; PARAM_NONE when unaddressed
  DescriptorKeyID key;  // scripting key; 0 when never scripted
  int control;          // dialog control number, or NO_CONTROL
  bool hasControl;      // whether that control exists in this edition
  int pageStep;         // the slider's page step; 0 without a control
  RenderLimit render;
  int32_t renderMinimum;  // with RENDER_PINNED only
  int32_t renderMaximum;
};

// Rows in control-number order, Quantity (control 0) first, then the two
// fields that have no control number. This is also the order in which
// scripts record their keys and the command line lists its settings.
inline constexpr ParameterField PARAMETER_TABLE[] = {
    // name, offset, size, unit, dialog range, factory, index, key, control, hasControl, page step, render limit
    {"Quantity", 36, 2, UNIT_PERCENT, 0, 100, 50, PARAM_QUANTITY, FourCC("qntY"), 0, true, 10, RENDER_PINNED, 0, 100},
    {"Intensity", 8, 2, UNIT_PERCENT, 0, 100, 50, PARAM_INTENSITY, FourCC("Intn"), 1, true, 10, RENDER_PINNED, 0, 100},
    {"Length", 10, 2, UNIT_PERCENT, 0, 100, 50, PARAM_LENGTH, FourCC("Lngt"), 2, true, 10, RENDER_PINNED, 0, 100},
    {"Angle", 12, 2, UNIT_DEGREES, -90, 90, 15, PARAM_ANGLE, FourCC("Angl"), 3, true, 10, RENDER_TURNS, 0, 0},
    // Steps of two keep the star symmetrical. Drawn: 1..360 (see above).
    {"Number of Points", 14, 2, UNIT_COUNT, 2, 8, 6, PARAM_NUMBER_OF_POINTS, FourCC("numP"), 4, true, 2, RENDER_PINNED,
     1, 360},
    {"Spike Sharpness", 16, 2, UNIT_PERCENT, 0, 100, 50, PARAM_SPIKE_SHARPNESS, FourCC("spsH"), 5, true, 10,
     RENDER_PINNED, 0, 100},
    {"Color Saturation", 18, 2, UNIT_PERCENT, -100, 100, 30, PARAM_COLOR_SATURATION, FourCC("Strt"), 6, true, 10,
     RENDER_PINNED, -100, 100},
    // Three fields this edition's dialog does not show and scripts do not
    // name; they keep their control numbers for an edition that shows them.
    {"Rainbow Intensity", 20, 2, UNIT_PERCENT, 0, 100, 50, PARAM_RAINBOW_INTENSITY, 0, 7, false, 10, RENDER_PINNED, 0,
     100},
    {"Rainbow Frequency", 22, 2, UNIT_PERCENT, 0, 100, 50, PARAM_RAINBOW_FREQUENCY, 0, 8, false, 10, RENDER_PINNED, 0,
     100},
    {"Secondary Spike Intensity", 24, 2, UNIT_PERCENT, 0, 100, 0, PARAM_SECONDARY_SPIKE_INTENSITY, 0, 9, false, 10,
     RENDER_PINNED, 0, 100},
    {"Soft Flare Intensity", 26, 2, UNIT_PERCENT, 0, 100, 30, PARAM_SOFT_FLARE_INTENSITY, FourCC("sflB"), 10, true, 10,
     RENDER_PINNED, 0, 100},
    // 0 screens the stars onto the image, any other value stores them.
    {"Blend Selector", 28, 2, UNIT_NONE, INT16_MIN, INT16_MAX, 0, PARAM_NONE, 0, NO_CONTROL, false, 0, RENDER_AS_STORED,
     0, 0},
    // Handed to the renderer exactly as it was stored.
    {"Carried Value", 32, 4, UNIT_NONE, INT32_MIN, INT32_MAX, 1701205040, PARAM_NONE, 0, NO_CONTROL, false, 0,
     RENDER_AS_STORED, 0, 0},
};

inline constexpr size_t PARAMETER_FIELD_COUNT = sizeof PARAMETER_TABLE / sizeof PARAMETER_TABLE[0];

// Lookups; null when no row matches. Index 0, key 0 and NO_CONTROL match
// nothing.
constexpr const ParameterField* ParameterByIndex(int index) {
  if (index == PARAM_NONE) return nullptr;
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.index == index) return &f;
  return nullptr;
}

constexpr const ParameterField* ParameterByKey(DescriptorKeyID key) {
  if (key == 0) return nullptr;
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.key == key) return &f;
  return nullptr;
}

constexpr const ParameterField* ParameterByControl(int control) {
  if (control == NO_CONTROL) return nullptr;
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.control == control) return &f;
  return nullptr;
}

constexpr const ParameterField* ParameterAtOffset(size_t offset) {
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.offset == offset) return &f;
  return nullptr;
}

// How a scripted field travels in a descriptor: counts as integers, the
// rest as unit floats in their unit.
constexpr DescriptorTypeID ScriptTypeOf(const ParameterField& f) {
  return f.unit == UNIT_COUNT ? typeInteger : typeFloat;
}
constexpr DescriptorUnitID ScriptUnitOf(const ParameterField& f) {
  switch (f.unit) {
    case UNIT_PERCENT:
      return unitPercent;
    case UNIT_DEGREES:
      return unitAngle;
    default:
      return 0;
  }
}

// The value the renderer draws with for a stored one.
constexpr int32_t LimitForRendering(const ParameterField& f, int32_t value) {
  if (f.render != RENDER_PINNED) return value;
  return value < f.renderMinimum ? f.renderMinimum : value > f.renderMaximum ? f.renderMaximum : value;
}
