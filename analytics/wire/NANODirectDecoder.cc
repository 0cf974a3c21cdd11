#include "analytics/wire/NANODirectDecoder.h"

#include <cstring>
#include <limits>
#include <vector>

#include "analytics/wire/NANO.h"

namespace {

using namespace NANOFieldFlag;

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWireFixed64 = 1;
constexpr uint32_t kWireLengthDelimited = 2;
constexpr uint32_t kWireFixed32 = 5;

// Reads a varint in its shortest form, of at most 64 bits.
inline bool readVarint(const uint8_t*& p, const uint8_t* end, uint64_t* value) {
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
inline bool readLengthDelimited(const uint8_t*& p, const uint8_t* end, const uint8_t** begin, size_t* length) {
  uint64_t value = 0;
  if (!readVarint(p, end, &value) || value > static_cast<uint64_t>(end - p)) return false;
  *begin = p;
  *length = static_cast<size_t>(value);
  p += value;
  return true;
}

inline bool readKey(const uint8_t*& p, const uint8_t* end, uint32_t* key) {
  if (p != end && *p < 0x80) {
    *key = *p++;
    return *key >= 8;
  }
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

inline uint64_t readFixed(const uint8_t* p, int bytes) {
  uint64_t value = 0;
  std::memcpy(&value, p, static_cast<size_t>(bytes));  // little-endian, as the wire
  return value;
}

// The field with `tag`, searched from `hint` on: fields mostly arrive in tag
// order, so the next one is usually the one after the last.
inline const NANOWireField* findField(const NANOMessageType& type, uint32_t tag, uint32_t* hint) {
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

// A list item met while its message is read, kept until the message ends and
// its item arrays can be made at their exact size.
struct PendingItem {
  enum Kind : uint8_t { Varint, Bytes, Record };
  uint64_t value;   // the varint, the record, or the bytes' position in the input
  uint32_t length;  // of bytes
  uint16_t field;   // the list's index in its message
  Kind kind;
};

// The pending items of the decodes on this thread; each message uses the
// run above where its parent's items end.
thread_local std::vector<PendingItem> pendingItems;

class DirectDecoder {
 public:
  DirectDecoder(NANOArena* arena, std::vector<PendingItem>& pending) : arena_(arena), pending_(pending) {}

  // Decodes [p, end) into the fresh record `info` at nesting `depth`.
  bool decode(const NANOMessageType& type, const uint8_t* p, const uint8_t* end, NANOMessageInfo& info,
              uint32_t depth);

 private:
  NANOMessageInfo* newRecord(const NANOMessageType& type) {
    NANOMessageInfo* record = NANOAllocateRecord(type, arena_);
    type.initMessageInfo(record);
    return record;
  }
  void push(uint64_t value, uint32_t length, uint32_t field, PendingItem::Kind kind) {
    pending_.push_back(PendingItem{value, length, static_cast<uint16_t>(field), kind});
  }
  // Puts the items pending from `base` on into item arrays of `info`.
  bool finishLists(const NANOMessageType& type, NANOMessageInfo& info, size_t base);

  NANOArena* arena_;
  std::vector<PendingItem>& pending_;
};

bool DirectDecoder::finishLists(const NANOMessageType& type, NANOMessageInfo& info, size_t base) {
  size_t end = pending_.size();
  if (end == base) return true;
  uint32_t counts[NANOMaxFields];
  std::memset(counts, 0, sizeof(uint32_t) * type.fieldCount);
  for (size_t k = base; k < end; ++k) {
    uint32_t& count = counts[pending_[k].field];
    if (count == std::numeric_limits<uint32_t>::max()) return false;
    ++count;
  }
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    if (!counts[i]) continue;
    NANOArray* header = info.fields[i].array();
    if (!header) return false;
    header->items = NANONewItems(counts[i], arena_);
    header->capacity = counts[i];
    header->count = counts[i];
    header->filled = 0;
    header->allocated = true;
  }
  for (size_t k = base; k < end; ++k) {
    const PendingItem& pending = pending_[k];
    NANOArray* header = info.fields[pending.field].array();
    NANOSlot& item = header->items[header->filled++];
    switch (pending.kind) {
      case PendingItem::Varint:
        item.putCell(pending.value);
        break;
      case PendingItem::Record:
        item.putPointer(NANOSlotKind::Message, reinterpret_cast<const void*>(pending.value));
        break;
      case PendingItem::Bytes:
        item.assign(reinterpret_cast<const uint8_t*>(pending.value), pending.length, arena_);
        break;
    }
  }
  pending_.resize(base);
  return true;
}

bool DirectDecoder::decode(const NANOMessageType& type, const uint8_t* p, const uint8_t* end, NANOMessageInfo& info,
                           uint32_t depth) {
  if (info.fields.size() != type.fieldCount) return false;
  size_t base = pending_.size();
  NANOSlot* slots = info.fields.data();
  uint64_t present = info.present;
  uint32_t hint = 0;
  while (p != end) {
    uint32_t key = 0;
    if (!readKey(p, end, &key)) return false;
    const NANOWireField* wire = findField(type, key >> 3, &hint);
    if (!wire) {
      if (!skipValue(p, end, key & 7)) return false;
      continue;
    }
    NANOSlot& slot = slots[wire->index];
    if (wire->key != key) {
      // Integer lists also come packed: each value of the run is an item.
      if (wire->kind != NANOWireKind::RepeatedVarint || wire->key + kWireLengthDelimited != key) return false;
      const uint8_t* run = nullptr;
      size_t length = 0;
      if (!readLengthDelimited(p, end, &run, &length) || length == 0) return false;
      for (const uint8_t* q = run; q != run + length;) {
        uint64_t value = 0;
        if (!readVarint(q, run + length, &value)) return false;
        push(value, 0, wire->index, PendingItem::Varint);
      }
      continue;
    }
    uint64_t value = 0;
    const uint8_t* begin = nullptr;
    size_t length = 0;
    switch (wire->kind) {
      case NANOWireKind::Bool:
        if (!readVarint(p, end, &value) || value > 1) return false;
        slot.putCell(value);
        break;
      case NANOWireKind::SignedVarint32: {
        if (!readVarint(p, end, &value)) return false;
        auto signedValue = static_cast<int64_t>(value);
        if (signedValue < std::numeric_limits<int32_t>::min() || signedValue > std::numeric_limits<int32_t>::max()) {
          return false;
        }
        slot.putCell(static_cast<uint32_t>(static_cast<int32_t>(signedValue)));
        break;
      }
      case NANOWireKind::Varint32:
        if (!readVarint(p, end, &value) || value > std::numeric_limits<uint32_t>::max()) return false;
        slot.putCell(value);
        break;
      case NANOWireKind::Varint64:
        if (!readVarint(p, end, &value)) return false;
        slot.putCell(value);
        break;
      case NANOWireKind::Fixed32:
        if (end - p < 4) return false;
        slot.putCell(readFixed(p, 4));
        p += 4;
        break;
      case NANOWireKind::Fixed64:
        if (end - p < 8) return false;
        slot.putCell(readFixed(p, 8));
        p += 8;
        break;
      case NANOWireKind::Bytes:
        if (!readLengthDelimited(p, end, &begin, &length)) return false;
        // A value that occurs again keeps its first occurrence.
        if (slot.empty()) {
          if (length > NANOMaxDecodedBytes) return false;
          slot.assign(begin, length, arena_);
        } else if (!slot.held()) {
          return false;
        }
        break;
      case NANOWireKind::Message: {
        if (!wire->message || !slot.empty() || !readLengthDelimited(p, end, &begin, &length)) return false;
        // A singular sub-message is part of its parent: same nesting level.
        NANOMessageInfo* record = newRecord(*wire->message);
        slot.putPointer(NANOSlotKind::Message, record);
        present |= uint64_t{1} << wire->index;
        if (!decode(*wire->message, begin, begin + length, *record, depth)) {
          info.present = present;
          return false;
        }
        break;
      }
      case NANOWireKind::RepeatedMessage: {
        if (!wire->message || depth + 1 > wire->message->maxDepth) return false;
        if (!readLengthDelimited(p, end, &begin, &length)) return false;
        NANOMessageInfo* record = newRecord(*wire->message);
        push(reinterpret_cast<uint64_t>(record), 0, wire->index, PendingItem::Record);
        if (!decode(*wire->message, begin, begin + length, *record, depth + 1)) return false;
        continue;
      }
      case NANOWireKind::RepeatedBytes:
        if (!readLengthDelimited(p, end, &begin, &length) || length > NANOMaxDecodedBytes) return false;
        push(reinterpret_cast<uint64_t>(begin), static_cast<uint32_t>(length), wire->index, PendingItem::Bytes);
        continue;
      case NANOWireKind::RepeatedVarint:
        if (!readVarint(p, end, &value)) return false;
        push(value, 0, wire->index, PendingItem::Varint);
        continue;
    }
    present |= uint64_t{1} << wire->index;
  }
  info.present = present;
  return finishLists(type, info, base);
}

}  // namespace

bool NANODecodeDirect(const NANOMessageType& type, const uint8_t* bytes, size_t length, NANOMessageInfo* info) {
  if (!info || info->type != &type || type.maxDepth < 1) return false;
  if (!bytes) length = 0;
  std::vector<PendingItem>& pending = pendingItems;
  pending.clear();
  DirectDecoder decoder(info->arena, pending);
  bool decoded = decoder.decode(type, bytes, bytes + length, *info, 1);
  if (!decoded) {
    // Records not yet in a list belong to no tree: free them here.
    for (const PendingItem& item : pending) {
      if (item.kind == PendingItem::Record) NANOFreeRecord(reinterpret_cast<NANOMessageInfo*>(item.value));
    }
  }
  pending.clear();
  if (pending.capacity() > 65536) pending.shrink_to_fit();
  return decoded;
}

bool NANOIsFreshRecord(const NANOMessageType& type, const NANOMessageInfo& info) {
  if (info.type != &type || info.fields.size() != type.fieldCount || info.present != type.repeatedFields) return false;
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    const NANOSlot& slot = info.fields[i];
    if (type.fields[i].flags & Repeated) {
      const NANOArray* header = slot.array();
      if (!header || header->count != 0 || header->filled != 0 || header->allocated || header->items ||
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
  if (!info || info->type != &type) return;
  for (uint32_t i = 0; i < type.fieldCount; ++i) {
    NANOSlot& slot = info->fields[i];
    if (!(type.fields[i].flags & Repeated)) {
      slot.reset();
    } else if (NANOArray* header = slot.array()) {
      NANOEmptyArray(header);
      header->element = type.fields[i].message;
    } else {
      slot.setArray(NANONewArray(type.fields[i].message, info->arena));
    }
  }
}
