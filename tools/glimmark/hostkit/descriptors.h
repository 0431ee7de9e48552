#pragma once
// The host's descriptors: an ordered list of keyed values. The same list
// backs the scripting descriptor handed to the module through
// descriptorParameters (stored, encoded, in a host handle) and the objects of
// the action descriptor suite. Readers and writers implement the semantics of
// the read/write descriptor procedures: keys handed out in order, the
// caller's key array marked as keys come, type coercion with a warning, and
// a sticky error that closing the reader returns.
#include <cstdint>
#include <string>
#include <vector>

#include "host_abi/host_interface.h"

namespace hostkit {

struct DescriptorItem {
  DescriptorKeyID key = 0;
  DescriptorTypeID type = typeNull;
  int32_t integer = 0;                 // typeInteger
  double number = 0.0;                 // typeFloat, typeUnitFloat
  DescriptorUnitID unit = 0;           // typeUnitFloat
  bool boolean = false;                // typeBoolean
  DescriptorEnumTypeID enumType = 0;   // typeEnumerated
  DescriptorEnumID enumValue = 0;      // typeEnumerated
  std::vector<uint8_t> data;           // typeRawData; text (typeChar) without terminator

  static DescriptorItem Integer(DescriptorKeyID key, int32_t value);
  static DescriptorItem Float(DescriptorKeyID key, double value);
  static DescriptorItem UnitFloat(DescriptorKeyID key, DescriptorUnitID unit, double value);
  static DescriptorItem Boolean(DescriptorKeyID key, bool value);
  static DescriptorItem Enumerated(DescriptorKeyID key, DescriptorEnumTypeID type, DescriptorEnumID value);
  static DescriptorItem RawData(DescriptorKeyID key, std::vector<uint8_t> bytes);

  bool operator==(const DescriptorItem& other) const;
  bool operator!=(const DescriptorItem& other) const { return !(*this == other); }
};

using DescriptorItems = std::vector<DescriptorItem>;

constexpr DescriptorTypeID typeText = FourCC("TEXT");

const DescriptorItem* FindItem(const DescriptorItems& items, DescriptorKeyID key);
// Replaces the item of the same key in place, or appends.
void PutItem(DescriptorItems* items, DescriptorItem item);
bool EraseItem(DescriptorItems* items, DescriptorKeyID key);

// The byte form kept in a descriptor handle (our own format; modules only
// pass the handle back to us). Decode rejects truncated or unknown data.
std::vector<uint8_t> EncodeDescriptor(const DescriptorItems& items);
bool DecodeDescriptor(const std::vector<uint8_t>& bytes, DescriptorItems* items);

// Folds a result into a sticky status: the first error wins over warnings,
// a warning (positive) is kept only while nothing worse was seen.
void MergeSticky(OSErr* sticky, OSErr result);

class DescriptorReader {
 public:
  // `keys`: the caller's 0-terminated key array, or null.
  DescriptorReader(DescriptorItems items, DescriptorKeyID* keys);

  bool NextKey(DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags);
  OSErr GetInteger(int32_t* value);
  OSErr GetFloat(double* value);
  OSErr GetUnitFloat(DescriptorUnitID* unit, double* value);
  OSErr GetBoolean(Boolean* value);
  OSErr GetEnumerated(DescriptorEnumID* value);
  OSErr GetPinnedInteger(int32_t min, int32_t max, int32_t* value);
  OSErr GetPinnedFloat(const double* min, const double* max, double* value);
  OSErr GetPinnedUnitFloat(const double* min, const double* max, DescriptorUnitID* unit, double* value);
  // For value kinds this host does not keep: a type mismatch.
  OSErr Unsupported();
  OSErr sticky() const { return sticky_; }

 private:
  const DescriptorItem* Current();
  OSErr Record(OSErr result);

  DescriptorItems items_;
  DescriptorKeyID* keys_;
  size_t next_ = 0;
  OSErr sticky_ = noErr;
};

class DescriptorWriter {
 public:
  OSErr Put(DescriptorItem item);
  OSErr Unsupported();
  const DescriptorItems& items() const { return items_; }
  OSErr sticky() const { return sticky_; }

 private:
  DescriptorItems items_;
  OSErr sticky_ = noErr;
};

}  // namespace hostkit
