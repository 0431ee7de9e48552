#include "hostkit/descriptors.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace hostkit {

namespace {

constexpr uint32_t kEncodingMagic = FourCC("GmDs");
constexpr uint32_t kMaxItems = 1u << 16;

void AppendBytes(std::vector<uint8_t>* out, const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  out->insert(out->end(), bytes, bytes + size);
}

template <typename T>
void Append(std::vector<uint8_t>* out, T value) {
  AppendBytes(out, &value, sizeof value);
}

class Cursor {
 public:
  explicit Cursor(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  template <typename T>
  bool Take(T* value) {
    if (bytes_.size() - offset_ < sizeof(T)) return false;
    std::memcpy(value, bytes_.data() + offset_, sizeof(T));
    offset_ += sizeof(T);
    return true;
  }
  bool TakeBytes(uint32_t size, std::vector<uint8_t>* out) {
    if (bytes_.size() - offset_ < size) return false;
    out->assign(bytes_.begin() + static_cast<std::ptrdiff_t>(offset_),
                bytes_.begin() + static_cast<std::ptrdiff_t>(offset_ + size));
    offset_ += size;
    return true;
  }
  bool AtEnd() const { return offset_ == bytes_.size(); }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t offset_ = 0;
};

int32_t RoundToInt32(double value) {
  if (!(value == value)) return 0;  // NaN
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(std::lround(value));
}

}  // namespace

DescriptorItem DescriptorItem::Integer(DescriptorKeyID key, int32_t value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeInteger;
  item.integer = value;
  return item;
}

DescriptorItem DescriptorItem::Float(DescriptorKeyID key, double value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeFloat;
  item.number = value;
  return item;
}

DescriptorItem DescriptorItem::UnitFloat(DescriptorKeyID key, DescriptorUnitID unit, double value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeUnitFloat;
  item.unit = unit;
  item.number = value;
  return item;
}

DescriptorItem DescriptorItem::Boolean(DescriptorKeyID key, bool value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeBoolean;
  item.boolean = value;
  return item;
}

DescriptorItem DescriptorItem::Enumerated(DescriptorKeyID key, DescriptorEnumTypeID type, DescriptorEnumID value) {
  DescriptorItem item;
  item.key = key;
  item.type = typeEnumerated;
  item.enumType = type;
  item.enumValue = value;
  return item;
}

DescriptorItem DescriptorItem::RawData(DescriptorKeyID key, std::vector<uint8_t> bytes) {
  DescriptorItem item;
  item.key = key;
  item.type = typeRawData;
  item.data = std::move(bytes);
  return item;
}

bool DescriptorItem::operator==(const DescriptorItem& other) const {
  if (key != other.key || type != other.type) return false;
  switch (type) {
    case typeInteger: return integer == other.integer;
    case typeFloat: return number == other.number;
    case typeUnitFloat: return unit == other.unit && number == other.number;
    case typeBoolean: return boolean == other.boolean;
    case typeEnumerated: return enumType == other.enumType && enumValue == other.enumValue;
    case typeRawData:
    case typeText: return data == other.data;
    default: return true;
  }
}

const DescriptorItem* FindItem(const DescriptorItems& items, DescriptorKeyID key) {
  for (const DescriptorItem& item : items)
    if (item.key == key) return &item;
  return nullptr;
}

void PutItem(DescriptorItems* items, DescriptorItem item) {
  for (DescriptorItem& existing : *items) {
    if (existing.key == item.key) {
      existing = std::move(item);
      return;
    }
  }
  items->push_back(std::move(item));
}

bool EraseItem(DescriptorItems* items, DescriptorKeyID key) {
  for (auto it = items->begin(); it != items->end(); ++it) {
    if (it->key == key) {
      items->erase(it);
      return true;
    }
  }
  return false;
}

std::vector<uint8_t> EncodeDescriptor(const DescriptorItems& items) {
  std::vector<uint8_t> out;
  Append(&out, kEncodingMagic);
  Append(&out, static_cast<uint32_t>(items.size()));
  for (const DescriptorItem& item : items) {
    Append(&out, item.key);
    Append(&out, item.type);
    switch (item.type) {
      case typeInteger: Append(&out, item.integer); break;
      case typeFloat: Append(&out, item.number); break;
      case typeUnitFloat:
        Append(&out, item.unit);
        Append(&out, item.number);
        break;
      case typeBoolean: Append(&out, static_cast<uint8_t>(item.boolean ? 1 : 0)); break;
      case typeEnumerated:
        Append(&out, item.enumType);
        Append(&out, item.enumValue);
        break;
      case typeRawData:
      case typeText:
        Append(&out, static_cast<uint32_t>(item.data.size()));
        AppendBytes(&out, item.data.data(), item.data.size());
        break;
      default: break;
    }
  }
  return out;
}

bool DecodeDescriptor(const std::vector<uint8_t>& bytes, DescriptorItems* items) {
  Cursor cursor(bytes);
  uint32_t magic = 0, count = 0;
  if (!cursor.Take(&magic) || magic != kEncodingMagic || !cursor.Take(&count) || count > kMaxItems) return false;
  DescriptorItems result;
  for (uint32_t i = 0; i < count; ++i) {
    DescriptorItem item;
    if (!cursor.Take(&item.key) || !cursor.Take(&item.type)) return false;
    bool ok = true;
    switch (item.type) {
      case typeInteger: ok = cursor.Take(&item.integer); break;
      case typeFloat: ok = cursor.Take(&item.number); break;
      case typeUnitFloat: ok = cursor.Take(&item.unit) && cursor.Take(&item.number); break;
      case typeBoolean: {
        uint8_t flag = 0;
        ok = cursor.Take(&flag) && flag <= 1;
        item.boolean = flag != 0;
        break;
      }
      case typeEnumerated: ok = cursor.Take(&item.enumType) && cursor.Take(&item.enumValue); break;
      case typeRawData:
      case typeText: {
        uint32_t size = 0;
        ok = cursor.Take(&size) && cursor.TakeBytes(size, &item.data);
        break;
      }
      case typeNull: break;
      default: ok = false; break;
    }
    if (!ok) return false;
    result.push_back(std::move(item));
  }
  if (!cursor.AtEnd()) return false;
  *items = std::move(result);
  return true;
}

void MergeSticky(OSErr* sticky, OSErr result) {
  if (result == noErr) return;
  if (result < 0) {
    if (*sticky >= 0) *sticky = result;
  } else if (*sticky == noErr) {
    *sticky = result;
  }
}

DescriptorReader::DescriptorReader(DescriptorItems items, DescriptorKeyID* keys)
    : items_(std::move(items)), keys_(keys) {}

bool DescriptorReader::NextKey(DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
  if (next_ >= items_.size()) return false;
  const DescriptorItem& item = items_[next_++];
  if (key) *key = item.key;
  if (type) *type = item.type;
  if (flags) *flags = item.type == typeEnumerated ? actionEnumeratedParameter : actionSimpleParameter;
  // Mark the key as delivered in the caller's list, the way hosts let a
  // module find out which expected keys never came.
  if (keys_) {
    for (DescriptorKeyID* slot = keys_; *slot != 0; ++slot) {
      if (*slot == item.key) {
        *slot = typeNull;
        break;
      }
    }
  }
  return true;
}

const DescriptorItem* DescriptorReader::Current() {
  return next_ == 0 ? nullptr : &items_[next_ - 1];
}

OSErr DescriptorReader::Record(OSErr result) {
  MergeSticky(&sticky_, result);
  return result;
}

OSErr DescriptorReader::GetInteger(int32_t* value) {
  const DescriptorItem* item = Current();
  if (!item || !value) return Record(paramErr);
  switch (item->type) {
    case typeInteger: *value = item->integer; return noErr;
    case typeFloat:
    case typeUnitFloat: *value = RoundToInt32(item->number); return Record(coercedParamErr);
    default: return Record(paramErr);
  }
}

OSErr DescriptorReader::GetFloat(double* value) {
  const DescriptorItem* item = Current();
  if (!item || !value) return Record(paramErr);
  switch (item->type) {
    case typeFloat: *value = item->number; return noErr;
    case typeUnitFloat: *value = item->number; return Record(coercedParamErr);
    case typeInteger: *value = item->integer; return Record(coercedParamErr);
    default: return Record(paramErr);
  }
}

OSErr DescriptorReader::GetUnitFloat(DescriptorUnitID* unit, double* value) {
  const DescriptorItem* item = Current();
  if (!item || !value) return Record(paramErr);
  switch (item->type) {
    case typeUnitFloat:
      if (unit) *unit = item->unit;
      *value = item->number;
      return noErr;
    case typeFloat:
    case typeInteger:
      if (unit) *unit = unitNone;
      *value = item->type == typeFloat ? item->number : item->integer;
      return Record(coercedParamErr);
    default: return Record(paramErr);
  }
}

OSErr DescriptorReader::GetBoolean(Boolean* value) {
  const DescriptorItem* item = Current();
  if (!item || !value || item->type != typeBoolean) return Record(paramErr);
  *value = item->boolean ? 1 : 0;
  return noErr;
}

OSErr DescriptorReader::GetEnumerated(DescriptorEnumID* value) {
  const DescriptorItem* item = Current();
  if (!item || !value || item->type != typeEnumerated) return Record(paramErr);
  *value = item->enumValue;
  return noErr;
}

OSErr DescriptorReader::GetPinnedInteger(int32_t min, int32_t max, int32_t* value) {
  int32_t raw = 0;
  OSErr result = GetInteger(&raw);
  if (result < 0) return result;
  if (raw < min || raw > max) {
    raw = raw < min ? min : max;
    result = Record(coercedParamErr);
  }
  *value = raw;
  return result;
}

OSErr DescriptorReader::GetPinnedFloat(const double* min, const double* max, double* value) {
  double raw = 0.0;
  OSErr result = GetFloat(&raw);
  if (result < 0) return result;
  if ((min && raw < *min) || (max && raw > *max)) {
    raw = (min && raw < *min) ? *min : *max;
    result = Record(coercedParamErr);
  }
  *value = raw;
  return result;
}

OSErr DescriptorReader::GetPinnedUnitFloat(const double* min, const double* max, DescriptorUnitID* unit,
                                           double* value) {
  double raw = 0.0;
  OSErr result = GetUnitFloat(unit, &raw);
  if (result < 0) return result;
  if ((min && raw < *min) || (max && raw > *max)) {
    raw = (min && raw < *min) ? *min : *max;
    result = Record(coercedParamErr);
  }
  *value = raw;
  return result;
}

OSErr DescriptorReader::Unsupported() { return Record(paramErr); }

OSErr DescriptorWriter::Put(DescriptorItem item) {
  PutItem(&items_, std::move(item));
  return noErr;
}

OSErr DescriptorWriter::Unsupported() {
  MergeSticky(&sticky_, paramErr);
  return paramErr;
}

}  // namespace hostkit
