#include "params/parameter_set.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "runtime/report.h"

const ParameterSet FACTORY_PARAMETER_SET = {
    CURRENT_PARAMETER_VERSION.major,
    CURRENT_PARAMETER_VERSION.minor,
    CURRENT_PARAMETER_VERSION.revision,
    CURRENT_PARAMETER_VERSION.build,
    50,          // intensity
    50,          // length
    15,          // angle
    6,           // number of points
    50,          // spike sharpness
    30,          // colour saturation
    50,          // rainbow intensity
    50,          // rainbow frequency
    0,           // secondary spike intensity
    30,          // soft flare intensity
    0,           // blend selector: screen
    {0, 0},
    1701205040,  // carried value
    50,          // quantity
    {0, 0},
};

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
  if (index >= PARAM_INTENSITY && index <= PARAM_SOFT_FLARE_INTENSITY) {
    // Index n sits at byte offset 6 + 2n: right after the version stamp.
    return &set->intensity + (index - PARAM_INTENSITY);
  }
  if (index == PARAM_QUANTITY) return &set->quantity;
  return nullptr;
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
