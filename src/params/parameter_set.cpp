#include "params/parameter_set.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "params/parameter_table.h"
#include "runtime/report.h"

namespace {

// A field's factory value from the table; a field without a row there does
// not compile.
constexpr int32_t FactoryAt(size_t offset) { return ParameterAtOffset(offset)->factory; }
constexpr int16_t Factory16(size_t offset) { return static_cast<int16_t>(FactoryAt(offset)); }

constexpr ParameterSet FACTORY_VALUES = {
    CURRENT_PARAMETER_VERSION.major,
    CURRENT_PARAMETER_VERSION.minor,
    CURRENT_PARAMETER_VERSION.revision,
    CURRENT_PARAMETER_VERSION.build,
    Factory16(offsetof(ParameterSet, intensity)),
    Factory16(offsetof(ParameterSet, length)),
    Factory16(offsetof(ParameterSet, angle)),
    Factory16(offsetof(ParameterSet, numberOfPoints)),
    Factory16(offsetof(ParameterSet, spikeSharpness)),
    Factory16(offsetof(ParameterSet, colorSaturation)),
    Factory16(offsetof(ParameterSet, rainbowIntensity)),
    Factory16(offsetof(ParameterSet, rainbowFrequency)),
    Factory16(offsetof(ParameterSet, secondarySpikeIntensity)),
    Factory16(offsetof(ParameterSet, softFlareIntensity)),
    Factory16(offsetof(ParameterSet, blendSelector)),
    {0, 0},
    FactoryAt(offsetof(ParameterSet, carriedValue)),
    Factory16(offsetof(ParameterSet, quantity)),
    {0, 0},
};

}  // namespace

const ParameterSet FACTORY_PARAMETER_SET = FACTORY_VALUES;

bool ParameterSetVersionMatches(const ParameterSet* set) {
  if (set->versionMajor == CURRENT_PARAMETER_VERSION.major &&
      set->versionMinor == CURRENT_PARAMETER_VERSION.minor &&
      set->versionRevision == CURRENT_PARAMETER_VERSION.revision &&
      set->versionBuild == CURRENT_PARAMETER_VERSION.build) {
    return true;
  }
  REPORT_DEBUG("User Setting File version mismatch. File Version = '%d','%d','%d','%d'", set->versionMajor,
               set->versionMinor, set->versionRevision, set->versionBuild);
  return false;
}

void StampCurrentVersion(ParameterSet* set) {
  set->versionMajor = CURRENT_PARAMETER_VERSION.major;
  set->versionMinor = CURRENT_PARAMETER_VERSION.minor;
  set->versionRevision = CURRENT_PARAMETER_VERSION.revision;
  set->versionBuild = CURRENT_PARAMETER_VERSION.build;
}

bool ParameterSetsEqual(const ParameterSet* a, const ParameterSet* b) {
  const auto* pa = reinterpret_cast<const uint8_t*>(a);
  const auto* pb = reinterpret_cast<const uint8_t*>(b);
  constexpr size_t effectStart = offsetof(ParameterSet, intensity);
  constexpr size_t effectEnd = offsetof(ParameterSet, padding1);
  constexpr size_t tailStart = offsetof(ParameterSet, carriedValue);
  constexpr size_t tailEnd = offsetof(ParameterSet, padding2);
  return std::memcmp(pa + effectStart, pb + effectStart, effectEnd - effectStart) == 0 &&
         std::memcmp(pa + tailStart, pb + tailStart, tailEnd - tailStart) == 0;
}

const int16_t* ParameterFieldByIndex(const ParameterSet* set, int index) {
  const ParameterField* field = ParameterByIndex(index);
  if (field == nullptr) return nullptr;
  return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(set) + field->offset);
}

int16_t* ParameterFieldByIndex(ParameterSet* set, int index) {
  return const_cast<int16_t*>(ParameterFieldByIndex(static_cast<const ParameterSet*>(set), index));
}

uint8_t* NewParameterBuffer(const ParameterSet* set) {
  auto* buffer = static_cast<uint8_t*>(std::calloc(1, PARAMETER_BUFFER_SIZE));
  if (buffer == nullptr) {
    REPORT_DEBUG("Could not allocate a %u byte parameter block.", static_cast<unsigned>(PARAMETER_BUFFER_SIZE));
    return nullptr;
  }
  std::memcpy(buffer, set, sizeof(ParameterSet));
  return buffer;
}

void FreeParameterBuffer(uint8_t* buffer) { std::free(buffer); }

bool FieldToScriptValue(int16_t field, uint32_t type, ScriptValue* out) {
  *out = ScriptValue{type, 0.0, 0, 0, 0};
  switch (type) {
    case SCRIPT_FLOAT: out->floatValue = field; return true;
    case SCRIPT_INTEGER: out->integerValue = field; return true;
    case SCRIPT_BOOLEAN: out->booleanValue = field != 0 ? 1 : 0; return true;
    case SCRIPT_ENUMERATED: out->enumValue = static_cast<uint32_t>(static_cast<int32_t>(field)); return true;
    default: return false;
  }
}

namespace {
// Low 16 bits of trunc(v) for any double, without the undefined behaviour of
// casting an out-of-range value to an integer.
int16_t LowBitsOfTruncated(double v) {
  if (std::isnan(v) || std::isinf(v)) return 0;
  double t = std::trunc(v);
  double m = std::fmod(t, 65536.0);  // exact for doubles; sign follows t
  if (m < 0) m += 65536.0;
  auto bits = static_cast<uint16_t>(static_cast<uint32_t>(m));
  return static_cast<int16_t>(bits);
}
}  // namespace

bool ScriptValueToField(const ScriptValue& value, int16_t* field) {
  switch (value.type) {
    case SCRIPT_FLOAT: *field = LowBitsOfTruncated(value.floatValue); return true;
    case SCRIPT_INTEGER: *field = static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(value.integerValue))); return true;
    case SCRIPT_BOOLEAN: *field = value.booleanValue != 0 ? 1 : 0; return true;
    case SCRIPT_ENUMERATED: *field = static_cast<int16_t>(static_cast<uint16_t>(value.enumValue)); return true;
    default: return false;
  }
}
