#include "analytics/wire/NANOMessageType.h"

#include <pb.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <bit>
#include <cstring>
#include <limits>

#include "analytics/wire/NANO.h"
#include "analytics/wire/NANODirectDecoder.h"
#include "analytics/wire/NANOLog.h"

using nano_log::print;

namespace {

using namespace NANOFieldFlag;

bool isRepeated(const NANOFieldType& field) { return field.flags & Repeated; }
bool isStringLike(const NANOFieldType& field) { return field.flags & (String | Bytes); }
bool isMessage(const NANOFieldType& field) { return field.flags & Message; }

pb_callback_t* callbackAt(void* pbStruct, const NANOFieldType& field) {
  return reinterpret_cast<pb_callback_t*>(static_cast<unsigned char*>(pbStruct) + field.dataOffset);
}
unsigned char* memberAt(void* pbStruct, uint32_t offset) { return static_cast<unsigned char*>(pbStruct) + offset; }
const unsigned char* memberAt(const void* pbStruct, uint32_t offset) {
  return static_cast<const unsigned char*>(pbStruct) + offset;
}

// Nesting depth of the nanopb decodes and encodes running on this thread.
thread_local uint32_t decodeDepth = 0;
thread_local uint32_t encodeDepth = 0;

// The nanopb structs of the decodes (or encodes) running on this thread, one
// per nesting level, kept from one use to the next: the elements of a list are
// handled one after the other at the same level, in the same storage.
thread_local std::vector<std::vector<uint64_t>> decodeStructs;
thread_local std::vector<std::vector<uint64_t>> encodeStructs;

// A zeroed nanopb struct of a message (every byte, padding included) for the
// level `depth`, on the heap so that nesting costs little stack. nanopb's
// structs hold nothing aligned beyond 8 bytes.
void* zeroedStruct(std::vector<std::vector<uint64_t>>& levels, uint32_t depth, size_t size) {
  if (levels.size() < depth) levels.resize(depth);
  std::vector<uint64_t>& storage = levels[depth - 1];
  storage.assign((size + sizeof(uint64_t) - 1) / sizeof(uint64_t) + 1, 0);
  return storage.data();
}

// Whether the first pass counted any list item in the record or in the
// sub-records of its singular sub-messages: only then has the second pass
// anything to fill.
bool countedItems(const NANOMessageType& type, const NANOMessageInfo& info) {
  for (uint32_t i = 0; i < type.fieldCount && i < info.fields.size(); ++i) {
    const NANOFieldType& f = type.fields[i];
    const NANOSlot& slot = info.fields[i];
    if (isRepeated(f)) {
      const NANOArray* header = slot.array();
      if (header && header->count > 0) return true;
    } else if (isMessage(f) && f.message && f.message->hasArrays) {
      const NANOMessageInfo* record = slot.message();
      if (record && countedItems(*f.message, *record)) return true;
    }
  }
  return false;
}

class DepthGuard {
 public:
  explicit DepthGuard(uint32_t& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  uint32_t depth() const { return depth_; }

 private:
  uint32_t& depth_;
};

const char* streamError(const pb_istream_t& stream) {
  const char* message = PB_GET_ERROR(&stream);
  return message && std::strcmp(message, "(none)") != 0 ? message : "(none)";
}

// Whether `stream` reads straight from memory, so that `state` is the
// position of its next byte (nanopb's buffer streams).
bool isBufferStream(const pb_istream_t* stream) {
  static const auto bufferCallback = pb_istream_from_buffer(nullptr, 0).callback;
  return stream->callback == bufferCallback && stream->state != nullptr;
}

// A new initialised record of `type` in `arena`, or null.
NANOMessageInfo* newRecord(const NANOMessageType& type, NANOArena* arena) {
  NANOMessageInfo* record = NANOAllocateRecord(type, arena);
  if (!type.initMessageInfo(record)) {
    NANOFreeRecord(record);
    return nullptr;
  }
  return record;
}

// Copies the items of one list into the fresh list `target` of a copy in `arena`.
bool copyItems(const NANOFieldType& field, const NANOArray& source, NANOArray* target, NANOArena* arena) {
  std::span<NANOSlot> items = source.itemSpan();
  auto count = static_cast<uint32_t>(items.size());
  target->items = NANONewItems(count, arena);
  target->capacity = count;
  target->count = count;
  target->allocated = count > 0;
  for (uint32_t i = 0; i < count; ++i) {
    const NANOSlot& item = items[i];
    NANOSlot& copy = target->items[i];
    if (const NANOMessageInfo* record = item.message()) {
      if (!field.message || record->type != field.message) return false;
      NANOMessageInfo* element = field.message->copyRecord(*record, arena);
      if (!element) return false;
      copy.putPointer(NANOSlotKind::Message, element);
    } else if (const NANOBytes* bytes = item.bytes()) {
      copy.assign(bytes->data(), bytes->size(), arena);
    } else if (const uint64_t* cell = item.cell()) {
      // Items are copied whole (a 32-bit item read from the wire may hold a
      // wider varint), so that a copy encodes exactly as its original.
      copy.putCell(*cell);
    }
  }
  return true;
}

}  // namespace

const NANOFieldType* NANOMessageType::field(int32_t index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= fieldCount) return nullptr;
  return &fields[index];
}

bool NANOMessageType::initMessageInfo(NANOMessageInfo* info) const {
  if (!info || info->slotCapacity < fieldCount || !info->fields.data()) return false;
  // A record that was filled before gives back what it held.
  if (info->type) {
    for (NANOSlot& slot : info->fields) slot.reset();
  }
  info->name = name;
  info->flags = flags;
  info->type = this;
  info->fields.size_ = fieldCount;
  for (uint32_t i = 0; i < fieldCount; ++i) info->fields[i].initialise(static_cast<uint8_t>(i));
  for (uint32_t i = 0; i < fieldCount; ++i) {
    if (isRepeated(fields[i])) info->fields[i].putPointer(NANOSlotKind::Array, NANONewArray(fields[i].message, info->arena));
  }
  info->present = repeatedFields;
  return true;
}

NANORecordPtr NANOMessageType::newMessageInfo(NANOArena* arena) const { return NANORecordPtr(newRecord(*this, arena)); }

bool NANOMessageType::allocateArrays(NANOMessageInfo* info) const {
  if (!info || info->type != this) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    NANOSlot& slot = info->fields[i];
    if (isRepeated(f)) {
      NANOArray* header = slot.array();
      if (!header) {
        print("<ERROR> Cannot allocate %s arrays. Missing params field (%s)", name, f.name);
        return false;
      }
      uint32_t count = header->count;
      header->count = 0;
      NANOEmptyArray(header);
      header->items = NANONewItems(count, header->arena);
      header->capacity = count;
      header->count = count;
      header->filled = 0;
      header->allocated = true;
    } else if (isMessage(f) && f.message && f.message->hasArrays) {
      if (NANOMessageInfo* record = slot.message()) f.message->allocateArrays(record);
    }
  }
  return true;
}

bool NANOMessageType::storeDecodedValues(const void* pbStruct, NANOMessageInfo* info) const {
  if (!pbStruct || !info || info->type != this) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    if (isRepeated(f) || isStringLike(f) || f.hasOffset < 0) continue;
    NANOSlot* slot = &info->fields[i];
    bool present = *reinterpret_cast<const bool*>(memberAt(pbStruct, static_cast<uint32_t>(f.hasOffset)));
    const unsigned char* member = memberAt(pbStruct, f.dataOffset);
    if (isMessage(f)) {
      if (!present || !f.message) {
        slot->reset();
        continue;
      }
      if (!slot->message()) slot->setMessage(newRecord(*f.message, info->arena));
      if (!slot->message() || !f.message->storeDecodedValues(member, slot->message())) return false;
    } else if (!present) {
      slot->reset();
    } else if (f.flags & Bool) {
      NANOSetBoolField(slot, *reinterpret_cast<const bool*>(member));
    } else if (f.flags & Class32) {
      uint32_t value;
      std::memcpy(&value, member, sizeof value);
      NANOSetUInt32Field(slot, value);
    } else if (f.flags & Class64) {
      uint64_t value;
      std::memcpy(&value, member, sizeof value);
      NANOSetUInt64Field(slot, value);
    } else if (f.flags & Float) {
      float value;
      std::memcpy(&value, member, sizeof value);
      NANOSetFloatField(slot, value);
    } else if (f.flags & Double) {
      double value;
      std::memcpy(&value, member, sizeof value);
      NANOSetDoubleField(slot, value);
    }
  }
  return true;
}

bool NANOMessageType::deallocMessageField(NANOMessageInfo* info, int32_t index) const {
  if (!info) return false;
  if (index < 0 || static_cast<uint32_t>(index) >= fieldCount || static_cast<size_t>(index) >= info->fields.size()) {
    print("<ERROR> %s: Cannot deallocate field %d: Unknown field", name, index);
    return false;
  }
  NANOSlot& slot = info->fields[static_cast<size_t>(index)];
  if (NANOArray* header = slot.array()) {
    NANOEmptyArray(header);
  } else {
    slot.reset();
  }
  return true;
}

bool NANOMessageType::freeMessageInfo(NANOMessageInfo* info) const {
  if (!info) return false;
  NANOFreeRecord(info);
  return true;
}

NANOMessageInfo* NANOMessageType::copyRecord(const NANOMessageInfo& source, NANOArena* arena) const {
  if (source.type != this || source.fields.size() != fieldCount) return nullptr;
  NANOMessageInfo* copy = newRecord(*this, arena);
  if (!copy) return nullptr;
  for (uint64_t bits = source.present; bits; bits &= bits - 1) {
    auto i = static_cast<uint32_t>(std::countr_zero(bits));
    const NANOFieldType& f = fields[i];
    const NANOSlot& from = source.fields[i];
    NANOSlot& to = copy->fields[i];
    bool copied = true;
    if (const NANOArray* list = from.array()) {
      copied = to.array() && copyItems(f, *list, to.array(), arena);
    } else if (const NANOMessageInfo* record = from.message()) {
      NANOMessageInfo* sub = f.message && record->type == f.message ? f.message->copyRecord(*record, arena) : nullptr;
      if (sub) to.putPointer(NANOSlotKind::Message, sub);
      copied = sub != nullptr;
    } else if (const NANOBytes* bytes = from.bytes()) {
      to.assign(bytes->data(), bytes->size(), arena);
    } else if (const uint64_t* cell = from.cell()) {
      to.putCell(*cell);
    } else {
      continue;
    }
    copy->present |= uint64_t{1} << i;
    if (!copied) {
      NANOFreeRecord(copy);
      return nullptr;
    }
  }
  return copy;
}

bool NANOMessageType::copyMessageInfo(NANOMessageInfo** destination, const NANOMessageInfo* source) const {
  if (!destination || !source || source->type != this || source->fields.size() != fieldCount) return false;
  // The copy is made in the allocator of the record it replaces, and the
  // destination is replaced only by a finished copy.
  NANOMessageInfo* copy = copyRecord(*source, *destination ? (*destination)->arena : nullptr);
  if (!copy) return false;
  NANOFreeRecord(*destination);
  *destination = copy;
  return true;
}

bool NANOMessageType::setDecoders(NANOMessageInfo* info, void* pbStruct) const {
  if (!info || !pbStruct || info->type != this) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    NANOSlot& slot = info->fields[i];
    if (isRepeated(f)) {
      NANOArray* header = slot.array();
      if (!header) return false;
      NANOInitArray(header);
      pb_callback_t* callback = callbackAt(pbStruct, f);
      if (isMessage(f)) {
        if (!f.message || !f.message->decodeRepeatedFn) return false;
        callback->funcs.decode = f.message->decodeRepeatedFn;
      } else if (isStringLike(f)) {
        callback->funcs.decode = NANODecodeRepeatedString;
      } else if (f.flags & (Bool | Class32 | Class64)) {
        callback->funcs.decode = NANODecodeRepeatedVarint;
      } else {
        return false;
      }
      callback->arg = header;
    } else if (isStringLike(f)) {
      pb_callback_t* callback = callbackAt(pbStruct, f);
      callback->funcs.decode = NANODecodeString;
      callback->arg = &slot;
    } else if (isMessage(f)) {
      if (!f.message) return false;
      slot.setMessage(newRecord(*f.message, info->arena));
      if (!slot.message()) return false;
      if (!f.message->setDecoders(slot.message(), memberAt(pbStruct, f.dataOffset))) return false;
    }
  }
  return true;
}

bool NANOMessageType::decode(const uint8_t* bytes, size_t length, NANOMessageInfo* info) const {
  // The outermost decode of a fresh record reads well-formed input directly;
  // whatever the direct decoder declines, nanopb decodes (and reports) anew.
  if (info && info->type == this && decodeDepth == 0 && NANOIsFreshRecord(*this, *info)) {
    if (NANODecodeDirect(*this, bytes, length, info)) return true;
    NANOResetRecord(*this, info);
  }
  return NANODecodeNanopb(*this, bytes, length, info);
}

bool NANODecodeNanopb(const NANOMessageType& type, const uint8_t* bytes, size_t length, NANOMessageInfo* info) {
  const char* name = type.name;
  if (!info) {
    print("<ERROR> %s decoder failed: message_info is NULL", name);
    return false;
  }
  if (info->type != &type) {
    print("<ERROR> %s decoder failed: the record belongs to another message", name);
    return false;
  }
  DepthGuard guard(decodeDepth);
  if (guard.depth() > type.maxDepth) {
    print("<ERROR> %s decoder failed: nested deeper than %u messages", name, type.maxDepth);
    return false;
  }
  if (!bytes) length = 0;
  void* pbStruct = zeroedStruct(decodeStructs, guard.depth(), type.structSize);
  if (!type.setDecoders(info, pbStruct)) {
    print("<ERROR> %s decoder failed: Unable to set decoders", name);
    return false;
  }
  pb_istream_t first = pb_istream_from_buffer(bytes, length);
  if (!pb_decode(&first, type.descriptor, pbStruct)) {
    print("<ERROR> %s decoder failed: %s", name, streamError(first));
    return false;
  }
  if (type.hasArrays) {
    if (!type.allocateArrays(info)) {
      print("<ERROR> %s decoder failed: Unable to allocate arrays", name);
      return false;
    }
    // With no item counted, a second pass would only read again what the
    // first one stored.
    if (countedItems(type, *info)) {
      pb_istream_t second = pb_istream_from_buffer(bytes, length);
      if (!pb_decode(&second, type.descriptor, pbStruct)) {
        print("<ERROR> %s decoder failed: %s", name, streamError(second));
        return false;
      }
    }
  }
  return type.storeDecodedValues(pbStruct, info);
}

bool NANOMessageType::decodeRepeated(pb_istream_t* stream, const pb_field_t*, void** arg) const {
  auto* header = arg ? static_cast<NANOArray*>(*arg) : nullptr;
  if (!header) {
    print("<ERROR> %s decoder failed: Invalid arg parameter", name);
    return false;
  }
  if (!header->allocated) {
    if (!pb_read(stream, nullptr, stream->bytes_left)) {
      print("<ERROR> %s decoder failed: %s", name, streamError(*stream));
      return false;
    }
    if (header->count == std::numeric_limits<uint32_t>::max()) return false;
    ++header->count;
    return true;
  }
  if (header->filled >= header->count || header->filled >= header->capacity) {
    print("<ERROR> %s decoder failed: more elements than the %u counted", name, header->count);
    return false;
  }
  size_t length = stream->bytes_left;
  std::vector<uint8_t> copy;
  const uint8_t* bytes = nullptr;
  bool direct = isBufferStream(stream);
  if (direct) {
    bytes = static_cast<const uint8_t*>(stream->state);
  } else {
    copy.resize(length);
    if (!pb_read(stream, copy.data(), length)) {
      print("<ERROR> %s decoder failed: Unable to extract buffer from stream", name);
      return false;
    }
    bytes = copy.data();
  }
  NANOMessageInfo* record = newRecord(*this, header->arena);
  if (!record) {
    print("<ERROR> %s decoder failed: Unable to initialize MessageInfo", name);
    return false;
  }
  if (!decode(bytes, length, record)) {
    print("<ERROR> %s decoder failed: Unable to decode repeated %s", name, name);
    NANOFreeRecord(record);
    return false;
  }
  if (direct && !pb_read(stream, nullptr, length)) {
    NANOFreeRecord(record);
    return false;
  }
  header->items[header->filled++].setMessage(record);
  return true;
}

bool NANOMessageType::setEncoders(const NANOMessageInfo* info, void* pbStruct) const {
  if (!info || !pbStruct || info->type != this) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    const NANOSlot& slot = info->fields[i];
    if (isRepeated(f)) {
      NANOArray* header = slot.array();
      if (!header) {
        print("<ERROR> %s Encoder: '%s' should have been allocated", name, f.name);
        return false;
      }
      if (header->count == 0) continue;
      pb_callback_t* callback = callbackAt(pbStruct, f);
      if (isMessage(f)) {
        if (!f.message || !f.message->encodeRepeatedFn) return false;
        callback->funcs.encode = f.message->encodeRepeatedFn;
      } else if (isStringLike(f)) {
        callback->funcs.encode = NANOEncodeRepeatedString;
      } else {
        callback->funcs.encode = NANOEncodeRepeatedVarint;
      }
      callback->arg = header;
    } else if (isStringLike(f)) {
      if (!slot.bytes()) continue;
      pb_callback_t* callback = callbackAt(pbStruct, f);
      callback->funcs.encode = NANOEncodeString;
      callback->arg = const_cast<NANOBytes*>(slot.bytes());
    } else if (f.hasOffset < 0) {
      continue;
    } else if (isMessage(f)) {
      const NANOMessageInfo* record = slot.message();
      if (!record || !f.message) continue;
      *reinterpret_cast<bool*>(memberAt(pbStruct, static_cast<uint32_t>(f.hasOffset))) = true;
      f.message->setEncoders(record, memberAt(pbStruct, f.dataOffset));
    } else if (const uint64_t* cell = slot.cell()) {
      *reinterpret_cast<bool*>(memberAt(pbStruct, static_cast<uint32_t>(f.hasOffset))) = true;
      unsigned char* member = memberAt(pbStruct, f.dataOffset);
      if (f.flags & Bool) {
        *reinterpret_cast<bool*>(member) = (*cell & 0xFF) != 0;
      } else if (f.flags & (Class32 | Float)) {
        auto value = static_cast<uint32_t>(*cell);
        std::memcpy(member, &value, sizeof value);
      } else {
        std::memcpy(member, cell, sizeof *cell);
      }
    }
  }
  return true;
}

bool NANOMessageType::encodeRepeated(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) const {
  const auto* header = arg ? static_cast<const NANOArray*>(*arg) : nullptr;
  if (!header) return false;
  DepthGuard guard(encodeDepth);
  if (guard.depth() > maxDepth) {
    print("<ERROR> %s Encoder: nested deeper than %u messages", name, maxDepth);
    return false;
  }
  for (const NANOSlot& item : header->itemSpan()) {
    const NANOMessageInfo* record = item.message();
    if (!record || record->type != this) return false;
    void* pbStruct = zeroedStruct(encodeStructs, guard.depth(), structSize);
    if (!setEncoders(record, pbStruct) || !pb_encode_tag_for_field(stream, field) ||
        !pb_encode_submessage(stream, descriptor, pbStruct)) {
      return false;
    }
  }
  return header->count <= header->capacity;
}

int32_t NANOMessageType::encodeWithNanopb(const NANOMessageInfo* info, std::vector<uint8_t>* output) const {
  if (!output) return -1;
  output->clear();
  if (!info || info->type != this) return -1;
  DepthGuard guard(encodeDepth);
  void* pbStruct = zeroedStruct(encodeStructs, guard.depth(), structSize);
  if (!setEncoders(info, pbStruct)) return -1;
  return NANOEncodeToBuffer(descriptor, pbStruct, output);
}
