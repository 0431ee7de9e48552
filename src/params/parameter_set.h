#pragma once
// The Parameter Set: one complete set of effect settings, stamped with a
// version. It is stored raw in the host, in files and in the host registry,
// so its 40-byte little-endian layout is a persistent format: never reorder,
// resize or reinterpret a field. Units, ranges, factory values, scripting
// keys and the renderer's limits of the fields: params/parameter_table.h.
#include <cstddef>
#include <cstdint>

struct ParameterSet {
  int16_t versionMajor;
  int16_t versionMinor;
  int16_t versionRevision;
  int16_t versionBuild;
  int16_t intensity;  // of the primary spikes
  int16_t length;
  int16_t angle;
  int16_t numberOfPoints;
  int16_t spikeSharpness;
  int16_t colorSaturation;
  int16_t rainbowIntensity;
  int16_t rainbowFrequency;
  int16_t secondarySpikeIntensity;
  int16_t softFlareIntensity;
  int16_t blendSelector;            // 0: screen, other: store
  uint8_t padding1[2];
  int32_t carriedValue;             // preserved untouched for the renderer
  int16_t quantity;                 // share of highlights drawn
  uint8_t padding2[2];
};

static_assert(sizeof(ParameterSet) == 40, "stored Parameter Set must be 40 bytes");
static_assert(offsetof(ParameterSet, intensity) == 8, "layout");
static_assert(offsetof(ParameterSet, angle) == 12, "layout");
static_assert(offsetof(ParameterSet, softFlareIntensity) == 26, "layout");
static_assert(offsetof(ParameterSet, blendSelector) == 28, "layout");
static_assert(offsetof(ParameterSet, carriedValue) == 32, "layout");
static_assert(offsetof(ParameterSet, quantity) == 36, "layout");

// Copies handed to other subsystems and file or registry images are this
// long; the set fills the first 40 bytes, the rest is zero.
constexpr size_t PARAMETER_BUFFER_SIZE = 255;

struct ParameterVersion {
  int16_t major, minor, revision, build;
};
constexpr ParameterVersion CURRENT_PARAMETER_VERSION = {0, 0, 0, 5};

// Parameter indices used by scripting: 1..10 address the fields from
// Intensity to Soft Flare Intensity, 13 is Quantity, 0 addresses nothing.
enum ParameterIndex : int {
  PARAM_NONE = 0,
  PARAM_INTENSITY = 1,
  PARAM_LENGTH = 2,
  PARAM_ANGLE = 3,
  PARAM_NUMBER_OF_POINTS = 4,
  PARAM_SPIKE_SHARPNESS = 5,
  PARAM_COLOR_SATURATION = 6,
  PARAM_RAINBOW_INTENSITY = 7,
  PARAM_RAINBOW_FREQUENCY = 8,
  PARAM_SECONDARY_SPIKE_INTENSITY = 9,
  PARAM_SOFT_FLARE_INTENSITY = 10,
  PARAM_QUANTITY = 13,
};

extern const ParameterSet FACTORY_PARAMETER_SET;

// True when all four version values equal the current version; otherwise
// logs the stored version and returns false.
bool ParameterSetVersionMatches(const ParameterSet* set);
void StampCurrentVersion(ParameterSet* set);

// Equal on every field after the version stamp; the padding is ignored,
// carriedValue and Quantity count.
bool ParameterSetsEqual(const ParameterSet* a, const ParameterSet* b);

// The field a scripting index addresses, or null (index 0 and unknown ones).
int16_t* ParameterFieldByIndex(ParameterSet* set, int index);
const int16_t* ParameterFieldByIndex(const ParameterSet* set, int index);

// A 255-byte zeroed block holding a copy of the set; free with
// FreeParameterBuffer. Null when memory is short.
uint8_t* NewParameterBuffer(const ParameterSet* set);
void FreeParameterBuffer(uint8_t* buffer);

// Scripting representations of a field.
enum ScriptValueType : uint32_t {
  SCRIPT_FLOAT = 0x646F7562,       // 'doub'
  SCRIPT_INTEGER = 0x6C6F6E67,     // 'long'
  SCRIPT_BOOLEAN = 0x626F6F6C,     // 'bool'
  SCRIPT_ENUMERATED = 0x656E756D,  // 'enum'
};

struct ScriptValue {
  uint32_t type;
  double floatValue;
  int32_t integerValue;
  uint8_t booleanValue;
  uint32_t enumValue;
};

// Field → script value of the given type; false for an unknown type.
bool FieldToScriptValue(int16_t field, uint32_t type, ScriptValue* out);
// Script value → field: floats truncate toward zero, then the low 16 bits are
// kept (any finite value, however large; NaN gives 0); integers keep their
// low 16 bits. False for an unknown type.
bool ScriptValueToField(const ScriptValue& value, int16_t* field);
