// The table's rules, checked when the plug-in is compiled: a row that
// breaks one does not build.
#include "params/parameter_table.h"

#include <initializer_list>

namespace {

constexpr bool RowsAreWellFormed() {
  for (const ParameterField& f : PARAMETER_TABLE) {
    if (f.size != 2 && f.size != 4) return false;
    if (f.offset < offsetof(ParameterSet, intensity) || f.offset + f.size > sizeof(ParameterSet)) return false;
    if (f.minimum > f.maximum || f.factory < f.minimum || f.factory > f.maximum) return false;
    // What scripts and controls address is a 16-bit field.
    if ((f.index != PARAM_NONE || f.control != NO_CONTROL) && f.size != 2) return false;
    if (f.key != 0 && f.index == PARAM_NONE) return false;
    if (f.hasControl && (f.control == NO_CONTROL || f.pageStep <= 0)) return false;
    // Every value the dialog can set is drawn as it is.
    if (f.render == RENDER_PINNED &&
        (f.renderMinimum > f.minimum || f.renderMaximum < f.maximum || f.renderMinimum > f.renderMaximum))
      return false;
  }
  return true;
}

constexpr bool NothingOverlaps() {
  for (size_t i = 0; i < PARAMETER_FIELD_COUNT; ++i) {
    for (size_t j = i + 1; j < PARAMETER_FIELD_COUNT; ++j) {
      const ParameterField& a = PARAMETER_TABLE[i];
      const ParameterField& b = PARAMETER_TABLE[j];
      if (a.offset < b.offset + b.size && b.offset < a.offset + a.size) return false;
      if (a.index != PARAM_NONE && a.index == b.index) return false;
      if (a.key != 0 && a.key == b.key) return false;
      if (a.control != NO_CONTROL && a.control == b.control) return false;
    }
  }
  return true;
}

// Index n of 1..10 sits at byte 6 + 2n, right after the version stamp, and
// is also control n; Quantity is index 13 and control 0.
// (Rows are found by position, not by pointer: the sanitizer build cannot
// compare pointers while it evaluates a constant.)
constexpr size_t RowOfIndex(int index) {
  for (size_t i = 0; i < PARAMETER_FIELD_COUNT; ++i)
    if (PARAMETER_TABLE[i].index == index) return i;
  return PARAMETER_FIELD_COUNT;
}

constexpr bool IndicesFollowTheLayout() {
  for (int n = PARAM_INTENSITY; n <= PARAM_SOFT_FLARE_INTENSITY; ++n) {
    const size_t row = RowOfIndex(n);
    if (row == PARAMETER_FIELD_COUNT) return false;
    const ParameterField& f = PARAMETER_TABLE[row];
    if (f.offset != 6 + 2 * n || f.control != n) return false;
  }
  const size_t row = RowOfIndex(PARAM_QUANTITY);
  if (row == PARAMETER_FIELD_COUNT) return false;
  const ParameterField& quantity = PARAMETER_TABLE[row];
  return quantity.offset == offsetof(ParameterSet, quantity) && quantity.control == 0 &&
         RowOfIndex(11) == PARAMETER_FIELD_COUNT && RowOfIndex(12) == PARAMETER_FIELD_COUNT;
}

// Control order first, the fields without a control number last.
constexpr bool RowsAreInControlOrder() {
  for (size_t i = 0; i < PARAMETER_FIELD_COUNT; ++i) {
    const int control = PARAMETER_TABLE[i].control;
    const bool numbered = control != NO_CONTROL;
    if (i == 0 && control != 0) return false;
    if (i > 0) {
      const int before = PARAMETER_TABLE[i - 1].control;
      if (numbered && (before == NO_CONTROL || before >= control)) return false;
    }
  }
  return true;
}

// With no overlaps, rows that fill all but the stamp and the padding fill
// exactly the fields.
constexpr bool RowsFillTheFields() {
  size_t bytes = 0;
  for (const ParameterField& f : PARAMETER_TABLE) {
    bytes += f.size;
    for (size_t padding : {offsetof(ParameterSet, padding1), offsetof(ParameterSet, padding2)})
      if (f.offset < padding + 2 && padding < f.offset + f.size) return false;
  }
  return bytes == sizeof(ParameterSet) - offsetof(ParameterSet, intensity) - sizeof(ParameterSet::padding1) -
                      sizeof(ParameterSet::padding2);
}

static_assert(RowsAreWellFormed(), "a row's size, range, factory value, key or render limit");
static_assert(NothingOverlaps(), "two rows share bytes, an index, a key or a control");
static_assert(IndicesFollowTheLayout(), "scripting indices and control numbers follow the layout");
static_assert(RowsAreInControlOrder(), "rows in control order");
static_assert(RowsFillTheFields(), "one row for every field of the set");

}  // namespace
