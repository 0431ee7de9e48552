#pragma once
// The filter's eight scripted settings as command-line options, and the
// descriptor a host replays from them; the text forms of a descriptor.
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

#include "hostkit/descriptors.h"
#include "params/parameter_table.h"

namespace glimmark {

struct SettingOption {
  const char* option;      // "--quantity"
  DescriptorKeyID key;     // 'qntY'
  bool integer;            // typeInteger; otherwise a unit float
  DescriptorUnitID unit;
  double factory;          // the module's factory value
  const ParameterField* field;  // the module's parameter table row
};

// The eight settings in the module's writing order; null-terminated. Keys,
// types, units and factory values come from the module's parameter table.
extern const SettingOption kSettingOptions[];
const SettingOption* FindSettingOption(const std::string& option);

// The help lines of the settings: key, unit, range, factory value, and
// what drawing makes of a value when that differs from the range.
std::string SettingsHelp();

// What a setting's option accepts: every value the module's settings field
// can hold (-32768..32767 for the eight 16-bit fields). A float setting
// accepts the numbers that truncate into that range, as the module stores
// them. Within it, values outside the dialog's range are passed on as a host
// would pass them; a value the field cannot hold would wrap.
struct SettingRange {
  int32_t low;
  int32_t high;
};
SettingRange AcceptedRange(const SettingOption& setting);

// A number as typed: the whole text, finite, within AcceptedRange; an
// integer setting takes a whole number.
bool ParseSettingValue(const SettingOption& setting, const std::string& text, double* value);
// The refusal for a text ParseSettingValue refuses: the option, what it
// takes (the accepted range and the dialog's) and the text.
std::string SettingValueRefusal(const SettingOption& setting, const std::string& text);
// When the filter draws with another value than `value` (it keeps whole
// numbers, and pins most settings to what its drawing can use): what the
// user should know, as one sentence; empty otherwise.
std::string SettingDrawnNote(const SettingOption& setting, double value);

// All eight keys and nothing else: each from `given`, else from `restored`
// (when it holds the key as a number), else the factory value.
hostkit::DescriptorItems BuildSettingsDescriptor(const std::map<DescriptorKeyID, double>& given,
                                                 const hostkit::DescriptorItems* restored);

// "qntY" for printable codes, otherwise 0x hex.
std::string KeyText(DescriptorKeyID key);
// One "key value" line per item; numbers in the shortest form that reads
// back to the same value.
std::string DescriptorLines(const hostkit::DescriptorItems& items);
// The file form: a first line "# glimmark descriptor", then DescriptorLines;
// written as hostkit::ReplaceFileContents writes (never half-written).
bool SaveDescriptorText(const std::string& path, const hostkit::DescriptorItems& items, std::string* error);

}  // namespace glimmark
