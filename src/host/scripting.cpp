#include "host/scripting.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "params/parameter_table.h"
#include "platform/platform.h"
#include "runtime/buffers.h"
#include "runtime/report.h"
#include "runtime/status.h"
#include "runtime/test_hooks.h"

namespace {

// One scripted field: where it lives in the Parameter Set and how the host
// sees it.
struct ScriptingKey {
  int parameterIndex;
  DescriptorTypeID type;          // 'doub', 'long', 'bool' or 'enum'
  DescriptorEnumTypeID enumType;  // only with 'enum'
  DescriptorUnitID unit;          // 0: a plain value
  DescriptorKeyID key;
};

constexpr size_t CountKeys() {
  size_t n = 0;
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.key != 0) ++n;
  return n;
}
constexpr size_t KEY_COUNT = CountKeys();
static_assert(KEY_COUNT == 8 && KEY_COUNT <= 32, "one bit per key in the reader's record of keys seen");
constexpr uint32_t ALL_KEYS_SEEN = (1u << KEY_COUNT) - 1;

// The parameter table's keyed rows, in its order, which is the writing order.
constexpr std::array<ScriptingKey, KEY_COUNT> MakeKeyTable() {
  std::array<ScriptingKey, KEY_COUNT> rows{};
  size_t n = 0;
  for (const ParameterField& f : PARAMETER_TABLE)
    if (f.key != 0) rows[n++] = ScriptingKey{f.index, ScriptTypeOf(f), 0, ScriptUnitOf(f), f.key};
  return rows;
}
constexpr std::array<ScriptingKey, KEY_COUNT> KEY_TABLE = MakeKeyTable();

// A host whose getKeyProc never says "no more" must not hold Start forever.
constexpr size_t MAX_KEYS_READ = 4096;

constexpr char INCOMPLETE_SETTINGS_TEXT[] =
    "The settings provided by the editor are incomplete.  Some settings have been set to defaults.";
static_assert(sizeof INCOMPLETE_SETTINGS_TEXT - 1 == 93, "the text is handed to the host as a Pascal string");

// This host records descriptors that lack some of our keys; with its own
// settings discarded the user gets the dialog with the restored ones.
constexpr char HOST_KEEPING_RESTORED_SETTINGS[] = "\\CorelDRAW Graphics Suite X6\\Programs\\CorelPP.exe";

constexpr DescriptorTypeID PICA_BAD_PARAMETER = FourCC("Parm");

// A procedure of a descriptor table may be called only when the host's count
// covers its slot and the slot is filled. Slots count from the first
// procedure after the version and count words.
template <typename First, typename Proc>
bool Offered(const First* first, int16_t count, const Proc* slot) {
  const ptrdiff_t index = (reinterpret_cast<const char*>(slot) - reinterpret_cast<const char*>(first)) /
                          static_cast<ptrdiff_t>(sizeof(void*));
  return index >= 0 && index < count && *slot != nullptr;
}

template <typename Proc>
bool Offered(const ReadDescriptorProcs* r, const Proc* slot) {
  return Offered(&r->openReadDescriptorProc, r->numReadDescriptorProcs, slot);
}

template <typename Proc>
bool Offered(const WriteDescriptorProcs* w, const Proc* slot) {
  return Offered(&w->openWriteDescriptorProc, w->numWriteDescriptorProcs, slot);
}

const ScriptingKey* FindRow(DescriptorKeyID key, size_t* position) {
  for (size_t i = 0; i < KEY_COUNT; ++i) {
    if (KEY_TABLE[i].key == key) {
      *position = i;
      return &KEY_TABLE[i];
    }
  }
  return nullptr;
}

// A coerced value (a plain number where a unit number was recorded, say) is
// still the value the host meant.
bool ReadSucceeded(OSErr result) { return result == noErr || result == coercedParamErr; }

// Reads the value of the key just handed out as the row's type.
bool ReadValue(const ReadDescriptorProcs* r, PIReadDescriptor token, const ScriptingKey& row, ScriptValue* value) {
  *value = ScriptValue{row.type, 0.0, 0, 0, 0};
  switch (row.type) {
    case typeFloat:
      if (row.unit != 0) {
        if (!Offered(r, &r->getUnitFloatProc)) return false;
        DescriptorUnitID unit = 0;
        return ReadSucceeded(r->getUnitFloatProc(token, &unit, &value->floatValue));
      }
      if (!Offered(r, &r->getFloatProc)) return false;
      return ReadSucceeded(r->getFloatProc(token, &value->floatValue));
    case typeInteger:
      if (!Offered(r, &r->getIntegerProc)) return false;
      return ReadSucceeded(r->getIntegerProc(token, &value->integerValue));
    case typeBoolean:
      if (!Offered(r, &r->getBooleanProc)) return false;
      return ReadSucceeded(r->getBooleanProc(token, &value->booleanValue));
    case typeEnumerated:
      if (!Offered(r, &r->getEnumeratedProc)) return false;
      return ReadSucceeded(r->getEnumeratedProc(token, &value->enumValue));
    default:
      return false;
  }
}

// The fields are 16 bits wide. A number beyond them is pinned to the nearer
// end rather than cut to its low bits, which would turn an Intensity of
// 65536 into 0 and one of 40000 into a negative value. Numbers the fields
// hold pass unchanged (and floats are still truncated when stored); NaN is
// left to the conversion, which stores 0.
void PinToFieldRange(ScriptValue* value) {
  if (value->type == typeInteger) {
    value->integerValue = std::clamp<int32_t>(value->integerValue, INT16_MIN, INT16_MAX);
  } else if (value->type == typeFloat && !std::isnan(value->floatValue)) {
    value->floatValue = std::clamp(value->floatValue, double{INT16_MIN}, double{INT16_MAX});
  }
}

bool ContainsIgnoringCase(const std::string& text, const char* part) {
  const size_t length = std::strlen(part);
  if (length > text.size()) return false;
  for (size_t at = 0; at + length <= text.size(); ++at) {
    size_t i = 0;
    while (i < length && std::tolower(static_cast<unsigned char>(text[at + i])) ==
                             std::tolower(static_cast<unsigned char>(part[i])))
      ++i;
    if (i == length) return true;
  }
  return false;
}

// Windows compares file names without regard to case, so the check does too.
bool HostKeepsRestoredSettings() {
  std::string path;
  TestHooks* hooks = ActiveTestHooks();
  const bool testHost = hooks != nullptr && hooks->Override(TEST_OVERRIDE_HOST_EXECUTABLE, &path);
  if (!testHost && !PlatformHostExecutablePath(&path)) {
    REPORT_DEBUG("The host's executable path could not be determined.");
    return false;
  }
  return ContainsIgnoringCase(path, HOST_KEEPING_RESTORED_SETTINGS);
}

// The descriptor reader proper: fills `working` with what the host recorded.
// 0: use it; -30900: nothing usable (nothing changes).
int16_t ReadDescriptor(const FilterRecord* record, ParameterSet* working, bool* showDialog) {
  const PIDescriptorParameters* parameters = record->descriptorParameters;
  if (parameters == nullptr || parameters->readDescriptorProcs == nullptr || parameters->descriptor == nullptr)
    return errPlugInHostInsufficient;
  const ReadDescriptorProcs* r = parameters->readDescriptorProcs;
  if (!Offered(r, &r->openReadDescriptorProc) || !Offered(r, &r->closeReadDescriptorProc) ||
      !Offered(r, &r->getKeyProc)) {
    REPORT_DEBUG("The host's read descriptor procedures are incomplete (%d offered); its settings are ignored.",
                 r->numReadDescriptorProcs);
    return errPlugInHostInsufficient;
  }

  // The host marks the entries of this array as their keys come.
  DescriptorKeyID keys[KEY_COUNT + 1];
  for (size_t i = 0; i < KEY_COUNT; ++i) keys[i] = KEY_TABLE[i].key;
  keys[KEY_COUNT] = 0;
  PIReadDescriptor token = r->openReadDescriptorProc(parameters->descriptor, keys);
  if (token == nullptr) {
    REPORT_DEBUG("The host could not open its scripting descriptor for reading; its settings are ignored.");
    return errPlugInHostInsufficient;
  }

  bool incomplete = false;
  size_t keysRead = 0;
  uint32_t keysSeen = 0;
  DescriptorKeyID key = 0;
  DescriptorTypeID type = 0;
  int32_t flags = 0;
  while (r->getKeyProc(token, &key, &type, &flags)) {
    if (++keysRead > MAX_KEYS_READ) {
      REPORT_DEBUG("The host's scripting descriptor did not end after %u keys.", static_cast<unsigned>(MAX_KEYS_READ));
      incomplete = true;
      break;
    }
    size_t position = 0;
    const ScriptingKey* row = FindRow(key, &position);
    ScriptValue value;
    int16_t field = 0;
    int16_t* target = row != nullptr ? ParameterFieldByIndex(working, row->parameterIndex) : nullptr;
    const bool read = target != nullptr && ReadValue(r, token, *row, &value);
    if (read) PinToFieldRange(&value);
    if (!read || !ScriptValueToField(value, &field)) {
      // An unknown key, a type we cannot read or a failed read; the host's
      // error itself adds nothing for the user.
      incomplete = true;
      continue;
    }
    *target = field;
    keysSeen |= 1u << position;
  }

  // Every key exactly once: a repeated key standing in for a missing one is
  // as incomplete as the missing one alone.
  const bool complete = !incomplete && keysRead == KEY_COUNT && keysSeen == ALL_KEYS_SEEN;
  int16_t result = noErr;
  if (complete) {
    *showDialog = parameters->playInfo == plugInDialogDisplay;
  } else if (HostKeepsRestoredSettings()) {
    *showDialog = true;
    result = errPlugInHostInsufficient;
  } else {
    REPORT_USER(STYLE_WARNING, "Incomplete Settings", "%s", INCOMPLETE_SETTINGS_TEXT);
    if (parameters->playInfo == plugInDialogDisplay || parameters->playInfo == plugInDialogDontDisplay) {
      *showDialog = true;
    } else {
      // Silent play: the host shows its own error string, if it has one.
      if (record->errorString != nullptr) {
        unsigned char* text = *record->errorString;
        text[0] = static_cast<unsigned char>(sizeof INCOMPLETE_SETTINGS_TEXT - 1);
        std::memcpy(text + 1, INCOMPLETE_SETTINGS_TEXT, sizeof INCOMPLETE_SETTINGS_TEXT - 1);
      }
      *showDialog = false;
    }
  }
  // The sticky status of the close repeats read errors already counted above.
  (void)r->closeReadDescriptorProc(token);
  return result;
}

void DisposeDescriptorHandle(const FilterRecord* record, PIDescriptorHandle handle) {
  if (handle == nullptr) return;
  const HandleProcs* procs = record->handleProcs;
  if (procs == nullptr || procs->numHandleProcs < 2 || procs->disposeProc == nullptr) {
    REPORT_DEBUG("The host offers no procedure to dispose of a scripting descriptor.");
    return;
  }
  procs->disposeProc(handle);
}

// Writes one row's field; returns 0 or the failure code.
int32_t WriteValue(const WriteDescriptorProcs* w, PIWriteDescriptor token, const ScriptingKey& row,
                   const ParameterSet& set) {
  const int16_t* field = ParameterFieldByIndex(&set, row.parameterIndex);
  ScriptValue value;
  if (field == nullptr || !FieldToScriptValue(*field, row.type, &value)) return static_cast<int32_t>(PICA_BAD_PARAMETER);
  switch (row.type) {
    case typeFloat:
      if (row.unit != 0) {
        if (!Offered(w, &w->putUnitFloatProc)) return errPlugInHostInsufficient;
        return w->putUnitFloatProc(token, row.key, row.unit, &value.floatValue);
      }
      if (!Offered(w, &w->putFloatProc)) return errPlugInHostInsufficient;
      return w->putFloatProc(token, row.key, &value.floatValue);
    case typeInteger:
      if (!Offered(w, &w->putIntegerProc)) return errPlugInHostInsufficient;
      return w->putIntegerProc(token, row.key, value.integerValue);
    case typeBoolean:
      if (!Offered(w, &w->putBooleanProc)) return errPlugInHostInsufficient;
      return w->putBooleanProc(token, row.key, value.booleanValue);
    case typeEnumerated:
      if (!Offered(w, &w->putEnumeratedProc)) return errPlugInHostInsufficient;
      return w->putEnumeratedProc(token, row.key, row.enumType, value.enumValue);
    default:
      return static_cast<int32_t>(PICA_BAD_PARAMETER);
  }
}

}  // namespace

int16_t ReadScriptingParameters(const FilterRecord* record, ParameterSet* current, bool* showDialog) {
  BufferDescriptor working{nullptr, 0};
  if (ReallocateBuffer(PARAMETER_BUFFER_SIZE, &working) != 0) {
    DebugMessage message = MakeDebugMessage(__LINE__, DEBUG_MESSAGE);
    ReportMessage(&message, STYLE_ERROR, "Scripting Error", "Could not get factory parameter block.");
    return SCRIPTING_OUT_OF_MEMORY;
  }
  std::memset(working.buffer, 0, working.size);
  auto* set = static_cast<ParameterSet*>(working.buffer);
  std::memcpy(set, &FACTORY_PARAMETER_SET, sizeof(ParameterSet));

  if (record != nullptr && current != nullptr && showDialog != nullptr &&
      ReadDescriptor(record, set, showDialog) == noErr) {
    std::memcpy(current, set, sizeof(ParameterSet));
  }
  DeallocateBuffer(&working);
  return noErr;
}

int32_t WriteScriptingParameters(FilterRecord* record, const ParameterSet* current) {
  if (record == nullptr || current == nullptr) return errPlugInHostInsufficient;
  PIDescriptorParameters* parameters = record->descriptorParameters;
  if (parameters == nullptr || parameters->writeDescriptorProcs == nullptr) return errPlugInHostInsufficient;
  const WriteDescriptorProcs* w = parameters->writeDescriptorProcs;
  if (!Offered(w, &w->openWriteDescriptorProc) || !Offered(w, &w->closeWriteDescriptorProc)) {
    REPORT_DEBUG("The host's write descriptor procedures are incomplete (%d offered); nothing is recorded.",
                 w->numWriteDescriptorProcs);
    return errPlugInHostInsufficient;
  }

  const ParameterSet copy = *current;
  int32_t failure = noErr;
  PIDescriptorHandle written = nullptr;
  PIWriteDescriptor token = w->openWriteDescriptorProc();
  if (token == nullptr) {
    failure = STATUS_OUT_OF_MEMORY;
  } else {
    for (size_t i = 0; i < KEY_COUNT && failure == noErr; ++i) failure = WriteValue(w, token, KEY_TABLE[i], copy);
    // Closed whatever happened, or the host keeps the half-written one open.
    const OSErr closed = w->closeWriteDescriptorProc(token, &written);
    if (failure == noErr && closed < 0) failure = closed;
    if (failure == noErr && written == nullptr) failure = STATUS_OUT_OF_MEMORY;
  }

  if (failure != noErr) {
    DisposeDescriptorHandle(record, written);
    REPORT_USER(STYLE_ERROR, "Scripting Error", "The Photoshop scripting parameters could not be saved.");
    return failure;
  }
  // Only now that the new descriptor exists does the old one go.
  DisposeDescriptorHandle(record, parameters->descriptor);
  parameters->descriptor = written;
  return noErr;
}
