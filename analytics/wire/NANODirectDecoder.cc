#include "analytics/wire/NANODirectDecoder.h"

#include <cstring>
#include <limits>
#include <memory>

#include "analytics/wire/NANO.h"

namespace {

using namespace NANOFieldFlag;

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireFixed64 = 1;
constexpr uint32_t kWireLengthDelimited = 2;
constexpr uint32_t kWireFixed32 = 5;

// Reads a varint in its shortest form, of at most 64 bits.
bool readVarint(const uint8_t*& p, const uint8_t* end, uint64_t* value) {
  if (p != end && *p < 0x80) {
    *value = *p++;
    return true;
  }
  uint64_t result = 0;
  for (int i = 0; i < 10; ++i) {
    if (p == end) return false;
    uint8_t byte = *p++;
    if (i == 9 && byte > 1) return false;
    result |= static_cast<uint64_t>(byte & 0x7F) << (7 * i);
    if (!(byte & 0x80)) {
      if (byte == 0) return false;  // a longer form than needed
      *value = result;
      return true;
    }
  }
  return false;
}

// Reads the length of a length-delimited value and gives its bytes.
bool readLengthDelimited(const uint8_t*& p, const uint8_t* end, const uint8_t** begin, size_t* length) {
  uint64_t value = 0;
  if (!readVarint(p, end, &value) || value > static_cast<uint64_t>(end - p)) return false;
  *begin = p;
  *length = static_cast<size_t>(value);
  p += value;
  return true;
}

bool readKey(const uint8_t*& p, const uint8_t* end, uint32_t* key) {
  uint64_t value = 0;
  if (!readVarint(p, end, &value) || value > std::numeric_limits<uint32_t>::max() || (value >> 3) == 0) return false;
  *key = static_cast<uint32_t>(value);
  return true;
}

bool skipValue(const uint8_t*& p, const uint8_t* end, uint32_t wireType) {
  uint64_t ignored = 0;
  const uint8_t* begin = nullptr;
  size_t length = 0;
  switch (wireType) {
    case kWireVarint:
      return readVarint(p, end, &ignored);
    case kWireFixed64:
      if (end - p < 8) return false;
      p += 8;
      return true;
    case kWireLengthDelimited:
      return readLengthDelimited(p, end, &begin, &length);
    case kWireFixed32:
      if (end - p < 4) return false;
      p += 4;
      return true;
    default:
      return false;
  }
}

uint64_t readFixed(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  return value;
}

// The field with `tag`, searched from `hint` on: fields mostly arrive in tag
// order, so the next one is usually the one after the last.
const NANOWireField* findField(const NANOMessageType& type, uint32_t tag, uint32_t* hint) {
  for (uint32_t n = 0; n < type.fieldCount; ++n) {
    uint32_t k = *hint + n;
    if (k >= type.fieldCount) k -= type.fieldCount;
    if ((type.wireOrder[k].key >> 3) == tag) {
      *hint = k + 1 < type.fieldCount ? k + 1 : 0;
      return &type.wireOrder[k];
    }
  }
  return nullptr;
}

bool storeBytes(NANOSlot* slot, const uint8_t* begin, size_t length) {
  if (length > NANOMaxDecodedBytes) return false;
  NANOBytes value;
  value.bytes.assign(begin, begin + length);
  slot->value = std::move(value);
  return true;
}

// The value of a singular scalar as its cell holds it, or false for a value
// nanopb should judge.
bool readScalar(const uint8_t*& p, const uint8_t* end, const NANOFieldType& field, const NANOWireField& wire,
                uint64_t* cell) {
  if (field.flags & Float) {
    if (end - p < 4) return false;
    *cell = readFixed(p, 4);
    p += 4;
    return true;
  }
  if (field.flags & Double) {
    if (end - p < 8) return false;
    *cell = readFixed(p, 8);
    p += 8;
    return true;
  }
  uint64_t value = 0;
  if (!readVarint(p, end, &value)) return false;
  if (field.flags & Bool) {
    if (value > 1) return false;
    *cell = value;
  } else if (field.flags & Class32) {
    if (wire.signedVarint) {
      auto signedValue = static_cast<int64_t>(value);
      if (signedValue < std::numeric_limits<int32_t>::min() || signedValue > std::numeric_limits<int32_t>::max()) {
        return false;
      }
      *cell = static_cast<uint32_t>(static_cast<int32_t>(signedValue));
    } else {
      if (value > std::numeric_limits<uint32_t>::max()) return false;
      *cell = value;
    }
  } else if (field.flags & Class64) {
    *cell = value;
  } else {
    return false;
  }
  return true;
}

// Whether `key` carries a packed run of integers for the list `field`.
bool isPackedRun(const NANOFieldType& field, const NANOWireField& wire, uint32_t key) {
  return (field.flags & Repeated) && (field.flags & (Bool | Class32 | Class64)) && wire.key + kWireLengthDelimited == key;
}

// Counts the varints of a packed run; an empty run is left to nanopb.
bool countPackedRun(const uint8_t* p, const uint8_t* end, uint64_t* count) {
  if (p == end) return false;
  uint64_t value = 0;
  for (*count = 0; p != end; ++*count) {
    if (!readVarint(p, end, &value)) return false;
  }
  return true;
}

class DirectDecoder {
 public:
  // Decodes [p, end) into the fresh record `info` at nesting `depth`.
  bool decode(const NANOMessageType& type, const uint8_t* p, const uint8_t* end, NANOMessageInfo& info,
              uint32_t depth);

 private:
  bool countItems(const NANOMessageType& type, const uint8_t* p, const uint8_t* end, NANOMessageInfo& info);
};

// Counts the items of every list of the message and sizes their arrays once.
bool DirectDecoder::countItems(const NANOMessageType& type, const uint8_t* p, const uint8_t* end,
                               NANOMessageInfo& info) {
  uint32_t hint = 0;
  while (p != end) {
    uint32_t key = 0;
    if (!readKey(p, end, &key)) return false;
    const NANOWireField* wire = findField(type, key >> 3, &hint);
    NANOArray* header = wire ? info.fields[wire->index].array() : nullptr;
    uint64_t items = 0;
    if (header && isPackedRun(type.fields[wire->index], *wire, key)) {
      const uint8_t* run = nullptr;
      size_t length = 0;
      if (!readLengthDelimited(p, end, &run, &length) || !countPackedRun(run, run + length, &items)) return false;
    } else {
      if (header && wire->key == key) items = 1;
      if (!skipValue(p, end, key & 7)) return false;
    }
    if (items > 0) {
      if (items > std::numeric_limits<uint32_t>::max() - header->count) return false;
      header->count += static_cast<uint32_t>(items);
    }
  }
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (!(type.fields[i].flags & Repeated)) continue;
    NANOArray* header = info.fields[i].array();
    if (!header) return false;
    header->items.resize(header->count);
    header->filled = 0;
    header->allocated = true;
  }
  return true;
}

bool DirectDecoder::decode(const NANOMessageType& type, const uint8_t* p, const uint8_t* end, NANOMessageInfo& info,
                           uint32_t depth) {
  if (info.fields.size() != type.fieldCount) return false;
  if (type.hasArrays && !countItems(type, p, end, info)) return false;
  uint32_t hint = 0;
  while (p != end) {
    uint32_t key = 0;
    if (!readKey(p, end, &key)) return false;
    const NANOWireField* wire = findField(type, key >> 3, &hint);
    if (!wire) {
      if (!skipValue(p, end, key & 7)) return false;
      continue;
    }
    const NANOFieldType& f = type.fields[wire->index];
    NANOSlot& slot = info.fields[wire->index];
    if (wire->key != key) {
      // Integer lists also come packed: each value of the run is an item.
      if (!isPackedRun(f, *wire, key)) return false;
      NANOArray* header = slot.array();
      const uint8_t* run = nullptr;
      size_t length = 0;
      if (!header || !readLengthDelimited(p, end, &run, &length)) return false;
      for (const uint8_t* q = run; q != run + length;) {
        uint64_t value = 0;
        if (header->filled >= header->count || header->filled >= header->items.size() ||
            !readVarint(q, run + length, &value)) {
          return false;
        }
        header->items[header->filled++].value = value;
      }
      continue;
    }
    if (f.flags & Repeated) {
      NANOArray* header = slot.array();
      if (!header || header->filled >= header->count || header->filled >= header->items.size()) return false;
      NANOSlot& item = header->items[header->filled];
      if (f.flags & Message) {
        const uint8_t* begin = nullptr;
        size_t length = 0;
        if (!f.message || !readLengthDelimited(p, end, &begin, &length)) return false;
        if (depth + 1 > f.message->maxDepth) return false;
        std::unique_ptr<NANOMessageInfo> record = f.message->newMessageInfo();
        if (!record || !decode(*f.message, begin, begin + length, *record, depth + 1)) return false;
        item.value = std::move(record);
      } else if (f.flags & (String | Bytes)) {
        const uint8_t* begin = nullptr;
        size_t length = 0;
        if (!readLengthDelimited(p, end, &begin, &length) || !storeBytes(&item, begin, length)) return false;
      } else if (f.flags & (Bool | Class32 | Class64)) {
        // Items hold the whole varint, as read.
        uint64_t value = 0;
        if (!readVarint(p, end, &value)) return false;
        item.value = value;
      } else {
        return false;
      }
      ++header->filled;
    } else if (f.flags & (String | Bytes)) {
      const uint8_t* begin = nullptr;
      size_t length = 0;
      if (!readLengthDelimited(p, end, &begin, &length)) return false;
      // A value that occurs again keeps its first occurrence.
      if (slot.empty()) {
        if (!storeBytes(&slot, begin, length)) return false;
      } else if (!slot.bytes()) {
        return false;
      }
    } else if (f.flags & Message) {
      const uint8_t* begin = nullptr;
      size_t length = 0;
      if (!f.message || !slot.empty() || !readLengthDelimited(p, end, &begin, &length)) return false;
      // A singular sub-message is part of its parent: same nesting level.
      std::unique_ptr<NANOMessageInfo> record = f.message->newMessageInfo();
      if (!record || !decode(*f.message, begin, begin + length, *record, depth)) return false;
      slot.value = std::move(record);
    } else {
      uint64_t cell = 0;
      if (!readScalar(p, end, f, *wire, &cell)) return false;
      slot.value = cell;
    }
  }
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (!(type.fields[i].flags & Repeated)) continue;
    const NANOArray* header = info.fields[i].array();
    if (!header || header->filled != header->count) return false;
  }
  return true;
}

}  // namespace

bool NANODecodeDirect(const NANOMessageType& type, const uint8_t* bytes, size_t length, NANOMessageInfo* info) {
  if (!info || info->type != &type || type.maxDepth < 1) return false;
  if (!bytes) length = 0;
  DirectDecoder decoder;
  return decoder.decode(type, bytes, bytes + length, *info, 1);
}

bool NANOIsFreshRecord(const NANOMessageType& type, const NANOMessageInfo& info) {
  if (info.type != &type || info.fields.size() != type.fieldCount) return false;
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const NANOSlot& slot = info.fields[i];
    if (type.fields[i].flags & Repeated) {
      const NANOArray* header = slot.array();
      if (!header || header->count != 0 || header->filled != 0 || header->allocated || !header->items.empty() ||
          header->element != type.fields[i].message) {
        return false;
      }
    } else if (!slot.empty()) {
      return false;
    }
  }
  return true;
}

void NANOResetRecord(const NANOMessageType& type, NANOMessageInfo* info) {
  if (!info) return;
  info->fields.resize(type.fieldCount);
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (type.fields[i].flags & Repeated) {
      NANOArray header;
      header.element = type.fields[i].message;
      info->fields[i].value = std::move(header);
    } else {
      info->fields[i].reset();
    }
  }
}
