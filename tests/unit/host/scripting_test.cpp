// Scripting parameters against a small host of our own: a filter record
// whose descriptor parameters hand out recorded values through the read
// procedures and collect new ones through the write procedures, with the
// coercions and sticky errors hosts have.
#include "host/scripting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "../params/store_test_support.h"
#include "../test_hooks_support.h"
#include "checked_texts.h"
#include "params/parameter_table.h"
#include "platform/platform.h"
#include "runtime/buffers.h"

namespace {

struct Item {
  DescriptorKeyID key;
  DescriptorTypeID type;  // typeFloat, typeUnitFloat, typeInteger or typeText
  double number;
  int32_t integer;
  DescriptorUnitID unit;
};

Item UnitFloat(const char (&key)[5], double value, const char (&unit)[5] = "#Prc") {
  return Item{FourCC(key), typeUnitFloat, value, 0, FourCC(unit)};
}
Item Float(const char (&key)[5], double value) { return Item{FourCC(key), typeFloat, value, 0, 0}; }
Item Integer(const char (&key)[5], int32_t value) { return Item{FourCC(key), typeInteger, 0.0, value, 0}; }
Item Text(const char (&key)[5]) { return Item{FourCC(key), FourCC("TEXT"), 0.0, 0, 0}; }

using Items = std::vector<Item>;

// A recorded descriptor: what the host's handle holds.
struct FakeHandle {
  Items items;
};

struct Reader {
  Items items;
  size_t next = 0;
  OSErr sticky = noErr;
};

struct FakeScriptHost {
  std::set<FakeHandle*> handles;
  std::set<Reader*> readers;
  std::set<Items*> writers;
  int disposed = 0;
  int badCalls = 0;
  bool endlessKeys = false;     // getKeyProc never says "no more"
  int failPutAt = 0;            // the N-th put fails (1-based); 0 = never
  int puts = 0;
};

FakeScriptHost* g_host = nullptr;

Handle NewDescriptor(Items items) {
  auto* handle = new FakeHandle{std::move(items)};
  g_host->handles.insert(handle);
  return reinterpret_cast<Handle>(handle);
}

void DisposeHandle(Handle h) {
  auto* handle = reinterpret_cast<FakeHandle*>(h);
  if (g_host->handles.erase(handle) == 0) {
    ++g_host->badCalls;
    return;
  }
  delete handle;
  ++g_host->disposed;
}

Reader* FindReader(PIReadDescriptor token) {
  auto* reader = reinterpret_cast<Reader*>(token);
  if (g_host->readers.count(reader) == 0) {
    ++g_host->badCalls;
    return nullptr;
  }
  return reader;
}

PIReadDescriptor OpenRead(PIDescriptorHandle descriptor, DescriptorKeyID* keys) {
  auto* handle = reinterpret_cast<FakeHandle*>(descriptor);
  if (g_host->handles.count(handle) == 0) return nullptr;
  // Hosts mark each expected key as it comes; the module must not care.
  for (const Item& item : handle->items)
    for (DescriptorKeyID* k = keys; k != nullptr && *k != 0; ++k)
      if (*k == item.key) *k = typeNull;
  auto* reader = new Reader{handle->items};
  g_host->readers.insert(reader);
  return reinterpret_cast<PIReadDescriptor>(reader);
}

OSErr CloseRead(PIReadDescriptor token) {
  Reader* reader = FindReader(token);
  if (reader == nullptr) return paramErr;
  const OSErr sticky = reader->sticky;
  g_host->readers.erase(reader);
  delete reader;
  return sticky;
}

Boolean GetKey(PIReadDescriptor token, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
  Reader* reader = FindReader(token);
  if (reader == nullptr) return 0;
  if (g_host->endlessKeys) {
    *key = FourCC("Intn");
    *type = typeUnitFloat;
    reader->next = 1;
    return 1;
  }
  if (reader->next >= reader->items.size()) return 0;
  const Item& item = reader->items[reader->next++];
  *key = item.key;
  *type = item.type;
  *flags = 0;
  return 1;
}

const Item* Current(Reader* reader) {
  return reader == nullptr || reader->next == 0 ? nullptr : &reader->items[reader->next - 1];
}

OSErr Note(Reader* reader, OSErr result) {
  if (reader != nullptr && result != noErr && reader->sticky >= 0) reader->sticky = result;
  return result;
}

// Numbers convert among themselves with a warning, as in hosts; text does not.
OSErr GetUnitFloat(PIReadDescriptor token, DescriptorUnitID* unit, double* value) {
  Reader* reader = FindReader(token);
  const Item* item = Current(reader);
  if (item == nullptr || item->type == FourCC("TEXT")) return Note(reader, paramErr);
  *unit = item->type == typeUnitFloat ? item->unit : unitNone;
  *value = item->type == typeInteger ? item->integer : item->number;
  return Note(reader, item->type == typeUnitFloat ? noErr : coercedParamErr);
}

OSErr GetFloat(PIReadDescriptor token, double* value) {
  Reader* reader = FindReader(token);
  const Item* item = Current(reader);
  if (item == nullptr || item->type == FourCC("TEXT")) return Note(reader, paramErr);
  *value = item->type == typeInteger ? item->integer : item->number;
  return Note(reader, item->type == typeFloat ? noErr : coercedParamErr);
}

OSErr GetInteger(PIReadDescriptor token, int32_t* value) {
  Reader* reader = FindReader(token);
  const Item* item = Current(reader);
  if (item == nullptr || item->type == FourCC("TEXT")) return Note(reader, paramErr);
  *value = item->type == typeInteger ? item->integer : static_cast<int32_t>(item->number);
  return Note(reader, item->type == typeInteger ? noErr : coercedParamErr);
}

Items* FindWriter(PIWriteDescriptor token) {
  auto* items = reinterpret_cast<Items*>(token);
  if (g_host->writers.count(items) == 0) {
    ++g_host->badCalls;
    return nullptr;
  }
  return items;
}

PIWriteDescriptor OpenWrite() {
  auto* items = new Items;
  g_host->writers.insert(items);
  return reinterpret_cast<PIWriteDescriptor>(items);
}

OSErr CloseWrite(PIWriteDescriptor token, PIDescriptorHandle* descriptor) {
  Items* items = FindWriter(token);
  if (items == nullptr) return paramErr;
  *descriptor = NewDescriptor(*items);
  g_host->writers.erase(items);
  delete items;
  return noErr;
}

OSErr Put(PIWriteDescriptor token, Item item) {
  Items* items = FindWriter(token);
  if (items == nullptr) return paramErr;
  if (++g_host->puts == g_host->failPutAt) return memFullErr;
  items->push_back(item);
  return noErr;
}

OSErr PutUnitFloat(PIWriteDescriptor token, DescriptorKeyID key, DescriptorUnitID unit, const double* value) {
  return Put(token, Item{key, typeUnitFloat, *value, 0, unit});
}
OSErr PutFloat(PIWriteDescriptor token, DescriptorKeyID key, const double* value) {
  return Put(token, Item{key, typeFloat, *value, 0, 0});
}
OSErr PutInteger(PIWriteDescriptor token, DescriptorKeyID key, int32_t value) {
  return Put(token, Item{key, typeInteger, 0.0, value, 0});
}

// The eight keys as a host records them after a run with `set`.
Items Recorded(const ParameterSet& set) {
  return {UnitFloat("qntY", set.quantity),          UnitFloat("Intn", set.intensity),
          UnitFloat("Lngt", set.length),            UnitFloat("Angl", set.angle, "#Ang"),
          Integer("numP", set.numberOfPoints),      UnitFloat("spsH", set.spikeSharpness),
          UnitFloat("Strt", set.colorSaturation),   UnitFloat("sflB", set.softFlareIntensity)};
}

// Values that differ from the factory set in every scripted field.
ParameterSet Scripted() {
  ParameterSet set = FACTORY_PARAMETER_SET;
  set.quantity = 80;
  set.intensity = 70;
  set.length = 20;
  set.angle = -30;
  set.numberOfPoints = 4;
  set.spikeSharpness = 90;
  set.colorSaturation = -50;
  set.softFlareIntensity = 10;
  return set;
}

class Scripting : public storetest::QuietLogTest {
 protected:
  void SetUp() override {
    QuietLogTest::SetUp();
    OpenQuietLog();
    g_host = &host_;
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HOST_EXECUTABLE, "C:\\Program Files\\Some Editor\\editor.exe");

    handleProcs_.handleProcsVersion = 1;
    handleProcs_.numHandleProcs = 8;
    handleProcs_.disposeProc = DisposeHandle;

    read_.numReadDescriptorProcs = kCurrentReadDescriptorProcsCount;
    read_.openReadDescriptorProc = OpenRead;
    read_.closeReadDescriptorProc = CloseRead;
    read_.getKeyProc = GetKey;
    read_.getIntegerProc = GetInteger;
    read_.getFloatProc = GetFloat;
    read_.getUnitFloatProc = GetUnitFloat;

    write_.numWriteDescriptorProcs = kCurrentWriteDescriptorProcsCount;
    write_.openWriteDescriptorProc = OpenWrite;
    write_.closeWriteDescriptorProc = CloseWrite;
    write_.putIntegerProc = PutInteger;
    write_.putFloatProc = PutFloat;
    write_.putUnitFloatProc = PutUnitFloat;

    parameters_.readDescriptorProcs = &read_;
    parameters_.writeDescriptorProcs = &write_;
    record_.descriptorParameters = &parameters_;
    record_.handleProcs = &handleProcs_;
    std::memset(errorString_, 0, sizeof errorString_);
    record_.errorString = &errorString_;

    // The current set before scripting: restored settings unlike both the
    // factory set and the scripted values, in the unscripted fields too.
    current_ = FACTORY_PARAMETER_SET;
    current_.intensity = 11;
    current_.rainbowIntensity = 12;
    current_.secondarySpikeIntensity = 13;
    current_.blendSelector = 1;
    current_.carriedValue = 14;
  }

  void TearDown() override {
    testhooks::Hooks().SetOverride(TEST_OVERRIDE_HOST_EXECUTABLE, nullptr);
    testhooks::Hooks().failAllocations = 0;
    if (parameters_.descriptor != nullptr) DisposeHandle(parameters_.descriptor);
    EXPECT_TRUE(host_.readers.empty()) << "a read descriptor was left open";
    EXPECT_TRUE(host_.writers.empty()) << "a write descriptor was left open";
    EXPECT_TRUE(host_.handles.empty()) << "a descriptor handle was lost";
    EXPECT_EQ(host_.badCalls, 0);
    g_host = nullptr;
    QuietLogTest::TearDown();
  }

  // Runs the reader with the plug-in's own choice of dialog; returns its status.
  int16_t Read(const Items& items, int16_t playInfo, bool showDialogBefore = false) {
    if (parameters_.descriptor != nullptr) DisposeHandle(parameters_.descriptor);
    parameters_.descriptor = NewDescriptor(items);
    parameters_.playInfo = playInfo;
    showDialog_ = showDialogBefore;
    return ReadScriptingParameters(&record_, &current_, &showDialog_);
  }

  std::string ErrorString() const { return std::string(reinterpret_cast<const char*>(errorString_ + 1), errorString_[0]); }

  FakeScriptHost host_;
  HandleProcs handleProcs_{};
  ReadDescriptorProcs read_{};
  WriteDescriptorProcs write_{};
  PIDescriptorParameters parameters_{};
  Str255 errorString_;
  FilterRecord record_{};
  ParameterSet current_;
  bool showDialog_ = false;
};

TEST_F(Scripting, ACompleteDescriptorReplacesTheSetAndThePlayModeDecidesTheDialog) {
  const ParameterSet scripted = Scripted();
  ASSERT_EQ(Read(Recorded(scripted), plugInDialogDontDisplay, true), 0);
  EXPECT_FALSE(showDialog_);
  // Unscripted fields come from the factory set, not from what was current.
  EXPECT_EQ(0, std::memcmp(&current_, &scripted, sizeof current_));

  current_ = FACTORY_PARAMETER_SET;
  ASSERT_EQ(Read(Recorded(scripted), plugInDialogDisplay, false), 0);
  EXPECT_TRUE(showDialog_);
  EXPECT_EQ(0, std::memcmp(&current_, &scripted, sizeof current_));

  const std::string log = TakeLog();
  EXPECT_FALSE(Contains(log, "Incomplete Settings")) << log;
  EXPECT_EQ(errorString_[0], 0);
}

TEST_F(Scripting, ValuesAreTruncatedAndPinnedToTheSixteenBitField) {
  ParameterSet scripted = Scripted();
  Items items = Recorded(scripted);
  items[3] = UnitFloat("Angl", -45.9, "#Ang");
  items[4] = Integer("numP", 65542);       // its low 16 bits would be 6
  items[2] = UnitFloat("Lngt", -70000.5);  // and this -4464
  items[1] = UnitFloat("Intn", 250.0);   // ranges belong to the dialog
  items[0] = Float("qntY", 33.7);        // a plain number where a percentage was expected
  ASSERT_EQ(Read(items, plugInDialogDontDisplay), 0);
  EXPECT_EQ(current_.angle, -45);
  EXPECT_EQ(current_.numberOfPoints, 32767);
  EXPECT_EQ(current_.length, -32768);
  EXPECT_EQ(current_.intensity, 250);
  EXPECT_EQ(current_.quantity, 33);
  EXPECT_FALSE(showDialog_);
}

TEST_F(Scripting, SevenKeysInSilentModeApplyWhatCameAndTellTheHost) {
  const ParameterSet scripted = Scripted();
  Items items = Recorded(scripted);
  items.erase(items.begin() + 5);  // no spike sharpness
  ASSERT_EQ(Read(items, plugInDialogSilent, true), 0);
  EXPECT_FALSE(showDialog_);
  ParameterSet expected = scripted;
  expected.spikeSharpness = FACTORY_PARAMETER_SET.spikeSharpness;
  EXPECT_EQ(0, std::memcmp(&current_, &expected, sizeof current_));

  ASSERT_EQ(errorString_[0], 93) << "a length-prefixed string";
  const std::string log = TakeLog();
  EXPECT_TRUE(Contains(log, "User Message: 'Incomplete Settings' - '" + ErrorString() + "'")) << log;
}

TEST_F(Scripting, SevenKeysWithADialogModeShowTheDialog) {
  Items items = Recorded(Scripted());
  items.pop_back();  // no soft flare
  for (int16_t mode : {plugInDialogDontDisplay, plugInDialogDisplay}) {
    ASSERT_EQ(Read(items, mode, false), 0);
    EXPECT_TRUE(showDialog_) << "play mode " << mode;
    EXPECT_EQ(current_.softFlareIntensity, FACTORY_PARAMETER_SET.softFlareIntensity);
    EXPECT_EQ(current_.quantity, Scripted().quantity);
  }
  EXPECT_EQ(errorString_[0], 0) << "only silent play fills the host's error string";
  EXPECT_TRUE(Contains(TakeLog(), "'Incomplete Settings'"));
}

TEST_F(Scripting, UnknownRepeatedAndUnreadableKeysMakeADescriptorIncomplete) {
  const ParameterSet scripted = Scripted();
  Items extra = Recorded(scripted);
  extra.push_back(UnitFloat("xtra", 1.0));
  Items repeated = Recorded(scripted);
  repeated[7] = UnitFloat("Intn", 71.0);  // eight keys, but soft flare never came
  Items unreadable = Recorded(scripted);
  unreadable[2] = Text("Lngt");
  for (const Items* items : {&extra, &repeated, &unreadable}) {
    ASSERT_EQ(Read(*items, plugInDialogDontDisplay, false), 0);
    EXPECT_TRUE(showDialog_);
    EXPECT_TRUE(Contains(TakeLog(), "'Incomplete Settings'"));
  }
  // The keys that could be read were applied over factory values.
  EXPECT_EQ(current_.length, FACTORY_PARAMETER_SET.length);
  EXPECT_EQ(current_.angle, scripted.angle);
}

TEST_F(Scripting, WithoutADescriptorNothingChanges) {
  const ParameterSet before = current_;
  parameters_.playInfo = plugInDialogDisplay;
  for (bool choice : {false, true}) {
    showDialog_ = choice;
    EXPECT_EQ(ReadScriptingParameters(&record_, &current_, &showDialog_), 0);
    EXPECT_EQ(showDialog_, choice) << "the plug-in's own choice stands";
    EXPECT_EQ(0, std::memcmp(&current_, &before, sizeof current_));
  }
  // No descriptor parameters at all, or no read procedures.
  record_.descriptorParameters = nullptr;
  EXPECT_EQ(ReadScriptingParameters(&record_, &current_, &showDialog_), 0);
  record_.descriptorParameters = &parameters_;
  parameters_.readDescriptorProcs = nullptr;
  EXPECT_EQ(Read(Recorded(Scripted()), plugInDialogDontDisplay, true), 0);
  EXPECT_TRUE(showDialog_);
  // A host that counts fewer procedures than the key reader needs.
  parameters_.readDescriptorProcs = &read_;
  read_.numReadDescriptorProcs = 2;
  EXPECT_EQ(Read(Recorded(Scripted()), plugInDialogDontDisplay, true), 0);
  EXPECT_TRUE(showDialog_);
  EXPECT_EQ(0, std::memcmp(&current_, &before, sizeof current_));
  EXPECT_FALSE(Contains(TakeLog(), "Incomplete Settings"));
}

TEST_F(Scripting, OneHostKeepsTheRestoredSettingsAndGetsTheDialog) {
  testhooks::Hooks().SetOverride(TEST_OVERRIDE_HOST_EXECUTABLE,
                                 "C:\\Program Files\\Corel\\CorelDRAW Graphics Suite X6\\programs\\corelpp.exe");
  const ParameterSet before = current_;
  Items items = Recorded(Scripted());
  items.erase(items.begin());
  ASSERT_EQ(Read(items, plugInDialogSilent, false), 0);
  EXPECT_TRUE(showDialog_);
  EXPECT_EQ(0, std::memcmp(&current_, &before, sizeof current_)) << "the values read are discarded";
  EXPECT_EQ(errorString_[0], 0);
  EXPECT_FALSE(Contains(TakeLog(), "Incomplete Settings"));

  // Its complete descriptors are used like anybody's.
  ASSERT_EQ(Read(Recorded(Scripted()), plugInDialogDontDisplay, true), 0);
  EXPECT_FALSE(showDialog_);
  EXPECT_EQ(current_.quantity, Scripted().quantity);
}

TEST_F(Scripting, WithoutMemoryStartIsToldAndNothingChanges) {
  const ParameterSet before = current_;
  testhooks::Hooks().failAllocations = 1;
  EXPECT_EQ(Read(Recorded(Scripted()), plugInDialogDontDisplay, true), SCRIPTING_OUT_OF_MEMORY);
  EXPECT_TRUE(showDialog_);
  EXPECT_EQ(0, std::memcmp(&current_, &before, sizeof current_));
  EXPECT_TRUE(Contains(TakeLog(), "Could not get factory parameter block."));
}

TEST_F(Scripting, AHostThatNeverStopsHandingOutKeysDoesNotHoldUpStart) {
  host_.endlessKeys = true;
  ASSERT_EQ(Read(Recorded(Scripted()), plugInDialogDontDisplay, false), 0);
  EXPECT_TRUE(showDialog_);
}

TEST_F(Scripting, FinishRecordsTheScriptedFieldsAndTheyReadBack) {
  const ParameterSet scripted = Scripted();
  parameters_.descriptor = NewDescriptor({Integer("old!", 1)});
  ASSERT_EQ(WriteScriptingParameters(&record_, &scripted), 0);
  EXPECT_EQ(host_.disposed, 1) << "the old descriptor is given back";

  const Items& written = reinterpret_cast<FakeHandle*>(parameters_.descriptor)->items;
  ASSERT_EQ(written.size(), 8u);
  EXPECT_EQ(written[3].number, -30.0);
  EXPECT_EQ(written[4].integer, 4);

  // Replayed, the recording gives the same settings without a dialog.
  const Items recorded = written;
  current_ = FACTORY_PARAMETER_SET;
  ASSERT_EQ(Read(recorded, plugInDialogDontDisplay, true), 0);
  EXPECT_FALSE(showDialog_);
  EXPECT_EQ(0, std::memcmp(&current_, &scripted, sizeof current_));
}

DescriptorKeyID ReversedCode(const std::string& text) {
  return static_cast<DescriptorKeyID>(uint8_t(text[3])) << 24 | static_cast<DescriptorKeyID>(uint8_t(text[2])) << 16 |
         static_cast<DescriptorKeyID>(uint8_t(text[1])) << 8 | uint8_t(text[0]);
}

// The string literals of a resource script in order, each with the text
// that follows it up to the next literal.
struct Literal {
  std::string text;
  std::string after;
};
std::vector<Literal> Literals(const std::string& script) {
  std::vector<Literal> literals;
  size_t at = script.find('"');
  while (at != std::string::npos) {
    const size_t end = script.find('"', at + 1);
    if (end == std::string::npos) break;
    const size_t next = script.find('"', end + 1);
    literals.push_back({script.substr(at + 1, end - at - 1),
                        script.substr(end + 1, (next == std::string::npos ? script.size() : next) - end - 1)});
    at = next;
  }
  return literals;
}

bool PascalName(const std::string& literal) {
  return literal.size() >= 2 && literal[0] == '\\' && literal[1] >= '0' && literal[1] <= '7';
}

std::string WithoutSpaces(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') out += c;
  return out;
}

// A parameter row of the dictionary: a Pascal-string name, the key and the
// type (four characters each), a Pascal-string description, then flags 0.
struct DictionaryRow {
  std::string key;
  std::string type;
};
std::vector<DictionaryRow> DictionaryRows(const std::string& script) {
  const std::vector<Literal> l = Literals(script);
  std::vector<DictionaryRow> rows;
  for (size_t i = 0; i + 3 < l.size(); ++i) {
    if (!PascalName(l[i].text) || l[i + 1].text.size() != 4 || l[i + 2].text.size() != 4 || !PascalName(l[i + 3].text))
      continue;
    if (WithoutSpaces(l[i].after) != "," || WithoutSpaces(l[i + 1].after) != "," ||
        WithoutSpaces(l[i + 2].after) != "," || WithoutSpaces(l[i + 3].after).rfind(",0,", 0) != 0)
      continue;
    rows.push_back({l[i + 1].text, l[i + 2].text});
  }
  return rows;
}

// Three descriptions of one descriptor: the dictionary that tells a host the
// keys and their types, the parameter table, and what Finish records.
TEST_F(Scripting, TheDictionaryTheParameterTableAndTheRecordingAgree) {
  // The dictionary's parameter rows: a Pascal-string name, the key and the
  // type (both written reversed), a description and the flags.
  const char* rc = CheckedTextOf("src/resources/terminology.rc");
  ASSERT_NE(rc, nullptr);
  const std::string text = rc;
  std::vector<std::pair<DescriptorKeyID, DescriptorTypeID>> dictionary;
  for (const DictionaryRow& r : DictionaryRows(text)) dictionary.push_back({ReversedCode(r.key), ReversedCode(r.type)});

  // Every scripted field holds a value of its own, so that a key written
  // from the wrong field shows.
  ParameterSet set = FACTORY_PARAMETER_SET;
  std::vector<const ParameterField*> scripted;
  for (const ParameterField& f : PARAMETER_TABLE) {
    if (f.key == 0) continue;
    scripted.push_back(&f);
    *ParameterFieldByIndex(&set, f.index) = static_cast<int16_t>(100 + f.offset);
  }
  ASSERT_EQ(WriteScriptingParameters(&record_, &set), 0);
  const Items& written = reinterpret_cast<FakeHandle*>(parameters_.descriptor)->items;

  ASSERT_EQ(dictionary.size(), scripted.size());
  ASSERT_EQ(written.size(), scripted.size());
  for (size_t i = 0; i < scripted.size(); ++i) {
    const ParameterField& f = *scripted[i];
    SCOPED_TRACE(f.name);
    EXPECT_EQ(dictionary[i].first, f.key);
    EXPECT_EQ(dictionary[i].second, ScriptTypeOf(f));
    EXPECT_EQ(written[i].key, f.key);
    if (dictionary[i].second == typeInteger) {
      EXPECT_EQ(written[i].type, typeInteger);
      EXPECT_EQ(written[i].integer, 100 + f.offset);
    } else {
      // 'doub' keys travel as numbers in their unit.
      EXPECT_EQ(dictionary[i].second, typeFloat);
      EXPECT_EQ(written[i].type, typeUnitFloat);
      EXPECT_EQ(written[i].unit, f.unit == UNIT_DEGREES ? FourCC("#Ang") : FourCC("#Prc"));
      EXPECT_EQ(written[i].number, 100 + f.offset);
    }
  }
}

TEST_F(Scripting, AFailedRecordingIsReportedAndKeepsTheHostsDescriptor) {
  Handle old = NewDescriptor({Integer("old!", 1)});
  parameters_.descriptor = old;
  host_.failPutAt = 3;
  EXPECT_EQ(WriteScriptingParameters(&record_, &current_), memFullErr);
  EXPECT_EQ(parameters_.descriptor, old);
  EXPECT_EQ(host_.disposed, 1) << "only the half-written descriptor went back";
  EXPECT_TRUE(Contains(TakeLog(), "'Scripting Error' - 'The Photoshop scripting parameters could not be saved.'"));

  // Hosts that cannot record at all are simply not written to.
  parameters_.writeDescriptorProcs = nullptr;
  EXPECT_EQ(WriteScriptingParameters(&record_, &current_), errPlugInHostInsufficient);
  record_.descriptorParameters = nullptr;
  EXPECT_EQ(WriteScriptingParameters(&record_, &current_), errPlugInHostInsufficient);
  record_.descriptorParameters = &parameters_;
  EXPECT_EQ(parameters_.descriptor, old);
}

TEST(HostExecutablePath, NamesThisProgram) {
  std::string path;
  ASSERT_TRUE(PlatformHostExecutablePath(&path));
  EXPECT_NE(path.find("unit_tests"), std::string::npos) << path;
  EXPECT_FALSE(PlatformHostExecutablePath(nullptr));
}

}  // namespace
