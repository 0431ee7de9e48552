#include "settings.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "hostkit/host_state.h"

namespace glimmark {

namespace {

// An option for a scripted field of the module's parameter table.
constexpr SettingOption Setting(const char* option, ParameterIndex index) {
  const ParameterField& f = *ParameterByIndex(index);
  return {option, f.key, ScriptTypeOf(f) == typeInteger, ScriptUnitOf(f), static_cast<double>(f.factory), &f};
}

}  // namespace

constexpr SettingOption kSettingOptions[] = {
    Setting("--quantity", PARAM_QUANTITY),
    Setting("--intensity", PARAM_INTENSITY),
    Setting("--length", PARAM_LENGTH),
    Setting("--angle", PARAM_ANGLE),
    Setting("--points", PARAM_NUMBER_OF_POINTS),
    Setting("--sharpness", PARAM_SPIKE_SHARPNESS),
    Setting("--saturation", PARAM_COLOR_SATURATION),
    Setting("--flare", PARAM_SOFT_FLARE_INTENSITY),
    {nullptr, 0, false, 0, 0, nullptr},
};

namespace {

// One option for every scripted field, in the order the module writes them.
constexpr bool InWritingOrder() {
  size_t i = 0;
  for (const ParameterField& f : PARAMETER_TABLE) {
    if (f.key == 0) continue;
    if (kSettingOptions[i].option == nullptr || kSettingOptions[i].key != f.key) return false;
    ++i;
  }
  return kSettingOptions[i].option == nullptr;
}
static_assert(InWritingOrder(), "the options follow the module's scripted fields");

const char* ArgumentName(const ParameterField& f) {
  switch (f.unit) {
    case UNIT_DEGREES:
      return "DEG";
    case UNIT_COUNT:
      return "N";
    default:
      return "P";
  }
}

const char* UnitName(const ParameterField& f) {
  switch (f.unit) {
    case UNIT_DEGREES:
      return "degrees";
    case UNIT_COUNT:
      return "count";
    default:
      return "percent";
  }
}

}  // namespace

std::string SettingsHelp() {
  std::string text =
      "Settings, with the dialog's range and the factory value. Each takes\n"
      "-32768..32767, what the filter's settings field holds. A value out of\n"
      "the dialog's range is passed on as given: the filter keeps it, its dialog\n"
      "shows it pinned to the range, and drawing pins it to the range (or to\n"
      "the one after \"drawn:\"; angles turn modulo 360); a warning says what\n"
      "is drawn. Fractions are dropped (12.9 is kept as 12).\n";
  for (const SettingOption* s = kSettingOptions; s->option != nullptr; ++s) {
    const ParameterField& f = *s->field;
    char line[160];
    const std::string option = std::string(s->option) + " " + ArgumentName(f);
    std::snprintf(line, sizeof line, "%-16s%s (%s): %s, %d..%d, factory %d", option.c_str(), f.name,
                  KeyText(f.key).c_str(), UnitName(f), static_cast<int>(f.minimum), static_cast<int>(f.maximum),
                  static_cast<int>(f.factory));
    text += line;
    if (f.render == RENDER_TURNS) {
      text += "; drawn: any";
    } else if (f.render == RENDER_PINNED && (f.renderMinimum != f.minimum || f.renderMaximum != f.maximum)) {
      std::snprintf(line, sizeof line, "; drawn: %d..%d", static_cast<int>(f.renderMinimum),
                    static_cast<int>(f.renderMaximum));
      text += line;
    }
    text += "\n";
  }
  return text;
}

const SettingOption* FindSettingOption(const std::string& option) {
  for (const SettingOption* s = kSettingOptions; s->option != nullptr; ++s)
    if (option == s->option) return s;
  return nullptr;
}

namespace {

bool NumberOf(const hostkit::DescriptorItem& item, double* value) {
  switch (item.type) {
    case typeInteger:
      *value = item.integer;
      return true;
    case typeFloat:
    case typeUnitFloat:
      if (!std::isfinite(item.number)) return false;
      *value = item.number;
      return true;
    default:
      return false;
  }
}

std::string Number(double value) {
  // Plain decimals for the values settings take; exponents only for the
  // rest.
  char text[64];
  if (std::fabs(value) < 1e15) {
    for (int decimals = 0; decimals <= 9; ++decimals) {
      std::snprintf(text, sizeof text, "%.*f", decimals, value);
      if (std::strtod(text, nullptr) == value) return text;
    }
  }
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

}  // namespace

SettingRange AcceptedRange(const SettingOption& setting) {
  if (setting.field->size == 2) return {INT16_MIN, INT16_MAX};
  return {INT32_MIN, INT32_MAX};
}

bool ParseSettingValue(const SettingOption& setting, const std::string& text, double* value) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text[0]))) return false;
  const SettingRange range = AcceptedRange(setting);
  char* end = nullptr;
  errno = 0;
  if (setting.integer) {
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || errno == ERANGE || parsed < range.low || parsed > range.high) return false;
    *value = static_cast<double>(parsed);
    return true;
  }
  const double parsed = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(parsed)) return false;
  // The module keeps the whole part: -32768.9 is stored as -32768.
  const double whole = std::trunc(parsed);
  if (whole < range.low || whole > range.high) return false;
  *value = parsed;
  return true;
}

std::string SettingValueRefusal(const SettingOption& setting, const std::string& text) {
  const ParameterField& f = *setting.field;
  const SettingRange range = AcceptedRange(setting);
  return std::string(setting.option) + " takes " + (setting.integer ? "a whole number" : "a number") + " from " +
         std::to_string(range.low) + " to " + std::to_string(range.high) + " (the dialog offers " +
         std::to_string(f.minimum) + ".." + std::to_string(f.maximum) + "), not '" + text + "'";
}

std::string SettingDrawnNote(const SettingOption& setting, double value) {
  const ParameterField& f = *setting.field;
  const double whole = std::trunc(value);
  if (!(whole >= INT32_MIN && whole <= INT32_MAX)) return std::string();
  const int32_t stored = static_cast<int32_t>(whole);
  const int32_t drawn = LimitForRendering(f, stored);
  if (drawn == stored && whole == value) return std::string();
  std::string note = std::string(setting.option) + " " + Number(value) + " is drawn as " + std::to_string(drawn);
  if (whole != value) note += "; the filter keeps whole numbers";
  if (drawn != stored) {
    note += "; the filter keeps " + std::to_string(stored) + " but draws " + f.name + " within " +
            std::to_string(f.renderMinimum) + ".." + std::to_string(f.renderMaximum);
  }
  return note;
}

hostkit::DescriptorItems BuildSettingsDescriptor(const std::map<DescriptorKeyID, double>& given,
                                                 const hostkit::DescriptorItems* restored) {
  hostkit::DescriptorItems items;
  for (const SettingOption* s = kSettingOptions; s->option != nullptr; ++s) {
    double value = s->factory;
    const auto found = given.find(s->key);
    const hostkit::DescriptorItem* old = restored ? hostkit::FindItem(*restored, s->key) : nullptr;
    if (found != given.end()) {
      value = found->second;
    } else if (old != nullptr) {
      double oldValue = 0;
      if (NumberOf(*old, &oldValue)) value = oldValue;
    }
    if (s->integer) {
      value = std::round(value);
      if (!(value >= INT32_MIN && value <= INT32_MAX)) value = s->factory;
      items.push_back(hostkit::DescriptorItem::Integer(s->key, static_cast<int32_t>(value)));
    } else {
      items.push_back(hostkit::DescriptorItem::UnitFloat(s->key, s->unit, value));
    }
  }
  return items;
}

std::string KeyText(DescriptorKeyID key) {
  char text[12];
  bool printable = true;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const int c = static_cast<int>((key >> shift) & 0xFF);
    printable = printable && c > 0x20 && c < 0x7F;
    text[3 - shift / 8] = static_cast<char>(c);
  }
  text[4] = '\0';
  if (!printable) std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(key));
  return text;
}

std::string DescriptorLines(const hostkit::DescriptorItems& items) {
  std::string out;
  for (const hostkit::DescriptorItem& item : items) {
    std::string value;
    double number = 0;
    if (NumberOf(item, &number)) {
      value = Number(number);
    } else if (item.type == typeBoolean) {
      value = item.boolean ? "true" : "false";
    } else if (item.type == typeEnumerated) {
      value = KeyText(item.enumType) + ":" + KeyText(item.enumValue);
    } else if (item.type == hostkit::typeText) {
      value = "\"" + std::string(item.data.begin(), item.data.end()) + "\"";
    } else {
      value = "(" + KeyText(item.type) + ", " + std::to_string(item.data.size()) + " bytes)";
    }
    out += KeyText(item.key) + " " + value + "\n";
  }
  return out;
}

bool SaveDescriptorText(const std::string& path, const hostkit::DescriptorItems& items, std::string* error) {
  std::string text = "# glimmark descriptor\n" + DescriptorLines(items);
#ifdef _WIN32
  // Windows' own line ends, as the file has always had there.
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2)) text.insert(at, 1, '\r');
#endif
  return hostkit::ReplaceFileContents(path, text.data(), text.size(), error);
}

}  // namespace glimmark
