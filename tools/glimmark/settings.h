#pragma once
// The filter's eight scripted settings as command-line options, and the
// descriptor a host replays from them; the text forms of a descriptor.
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

// A number as typed: the whole text, finite; an integer setting takes an
// integer of 32 bits. Out-of-range values are not refused here: the module
// pins or stores them as it does for any host.
bool ParseSettingValue(const SettingOption& setting, const std::string& text, double* value);

// All eight keys and nothing else: each from `given`, else from `restored`
// (when it holds the key as a number), else the factory value.
hostkit::DescriptorItems BuildSettingsDescriptor(const std::map<DescriptorKeyID, double>& given,
                                                 const hostkit::DescriptorItems* restored);

// "qntY" for printable codes, otherwise 0x hex.
std::string KeyText(DescriptorKeyID key);
// One "key value" line per item; numbers in the shortest form that reads
// back to the same value.
std::string DescriptorLines(const hostkit::DescriptorItems& items);
// The file form: a first line "# glimmark descriptor", then DescriptorLines.
bool SaveDescriptorText(const std::string& path, const hostkit::DescriptorItems& items, std::string* error);

}  // namespace glimmark
