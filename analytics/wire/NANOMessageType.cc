#include "analytics/wire/NANOMessageType.h"

#include <pb.h>
#include <pb_decode.h>

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

// Nesting depth of the decodes running on this thread.
thread_local uint32_t decodeDepth = 0;

// The nanopb structs of the decodes running on this thread, one per nesting
// level, kept from one decode to the next: the elements of a list are decoded
// one after the other at the same level, into the same storage.
thread_local std::vector<std::vector<uint64_t>> decodeStructs;

// A zeroed nanopb struct of a message (every byte, padding included) for the
// decode at `depth`, on the heap so that nesting costs little stack. nanopb's
// structs hold nothing aligned beyond 8 bytes.
void* zeroedStruct(uint32_t depth, size_t size) {
  if (decodeStructs.size() < depth) decodeStructs.resize(depth);
  std::vector<uint64_t>& storage = decodeStructs[depth - 1];
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

// The element callback of a repeated message field. The first pass counts
// the elements; the second decodes each into a record of its own, in the
// element message's own passes.
bool decodeRepeated(pb_istream_t* stream, const pb_field_t*, void** arg) {
  auto* header = arg ? static_cast<NANOArray*>(*arg) : nullptr;
  if (!header || !header->element) {
    print("<ERROR> %s decoder failed: Invalid arg parameter", "(unknown)");
    return false;
  }
  const NANOMessageType* element = header->element;
  if (!header->allocated) {
    if (!pb_read(stream, nullptr, stream->bytes_left)) {
      print("<ERROR> %s decoder failed: %s", element->name, streamError(*stream));
      return false;
    }
    if (header->count == std::numeric_limits<uint32_t>::max()) return false;
    ++header->count;
    return true;
  }
  if (header->filled >= header->count || header->filled >= header->items.size()) {
    print("<ERROR> %s decoder failed: more elements than the %u counted", element->name, header->count);
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
      print("<ERROR> %s decoder failed: Unable to extract buffer from stream", element->name);
      return false;
    }
    bytes = copy.data();
  }
  std::unique_ptr<NANOMessageInfo> record = element->newMessageInfo();
  if (!record) {
    print("<ERROR> %s decoder failed: Unable to initialize MessageInfo", element->name);
    return false;
  }
  if (!element->decode(bytes, length, record.get())) {
    print("<ERROR> %s decoder failed: Unable to decode repeated %s", element->name, element->name);
    return false;
  }
  if (direct && !pb_read(stream, nullptr, length)) return false;
  header->items[header->filled++].value = std::move(record);
  return true;
}

// Copies one present cell, string, sub-message or list from `from` to `to`.
bool copySlot(const NANOFieldType& field, const NANOSlot& from, NANOSlot* to) {
  if (isRepeated(field)) {
    const NANOArray* source = from.array();
    NANOArray* target = to->array();
    if (!source || !target) return false;
    size_t count = std::min<size_t>(source->count, source->items.size());
    std::vector<NANOSlot> items(count);
    for (size_t i = 0; i < count; ++i) {
      const NANOSlot& item = source->items[i];
      if (item.empty()) continue;
      if (isMessage(field)) {
        std::unique_ptr<NANOMessageInfo> copy;
        if (!field.message || !field.message->copyMessageInfo(&copy, item.message())) return false;
        items[i].value = std::move(copy);
      } else if (const NANOBytes* bytes = item.bytes()) {
        items[i].value = *bytes;
      } else if (const uint64_t* cell = item.cell()) {
        // Items are copied whole (a 32-bit item read from the wire may hold a
        // wider varint), so that a copy encodes exactly as its original.
        items[i].value = *cell;
      }
    }
    target->items = std::move(items);
    target->count = static_cast<uint32_t>(count);
    target->filled = 0;
    target->allocated = count > 0;
    return true;
  }
  if (const NANOMessageInfo* record = from.message()) {
    std::unique_ptr<NANOMessageInfo> copy;
    if (!field.message || !field.message->copyMessageInfo(&copy, record)) return false;
    to->value = std::move(copy);
  } else if (const NANOBytes* bytes = from.bytes()) {
    to->value = *bytes;
  } else if (const uint64_t* cell = from.cell()) {
    to->value = *cell;
  }
  return true;
}

}  // namespace

const NANOFieldType* NANOMessageType::field(int32_t index) const {
  if (index < 0 || static_cast<uint32_t>(index) >= fieldCount) return nullptr;
  return &fields[index];
}

bool NANOMessageType::initMessageInfo(NANOMessageInfo* info) const {
  if (!info) return false;
  info->name = name;
  info->flags = flags;
  info->type = this;
  info->fields.clear();
  info->fields.resize(fieldCount);
  for (uint32_t i = 0; i < fieldCount; ++i) {
    if (isRepeated(fields[i])) {
      NANOArray header;
      header.element = fields[i].message;
      info->fields[i].value = std::move(header);
    }
  }
  return true;
}

std::unique_ptr<NANOMessageInfo> NANOMessageType::newMessageInfo() const {
  auto info = std::make_unique<NANOMessageInfo>();
  if (!initMessageInfo(info.get())) return nullptr;
  return info;
}

bool NANOMessageType::allocateArrays(NANOMessageInfo* info) const {
  if (!info || info->fields.size() != fieldCount) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    NANOSlot& slot = info->fields[i];
    if (isRepeated(f)) {
      NANOArray* header = slot.array();
      if (!header) {
        print("<ERROR> Cannot allocate %s arrays. Missing params field (%s)", name, f.name);
        return false;
      }
      header->items.clear();
      header->items.resize(header->count);
      header->filled = 0;
      header->allocated = true;
    } else if (isMessage(f) && f.message && f.message->hasArrays) {
      if (NANOMessageInfo* record = slot.message()) f.message->allocateArrays(record);
    }
  }
  return true;
}

bool NANOMessageType::storeDecodedValues(const void* pbStruct, NANOMessageInfo* info) const {
  if (!pbStruct || !info || info->fields.size() != fieldCount) return false;
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
      if (!slot->message()) slot->value = f.message->newMessageInfo();
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
    NANOInitArray(header);
  } else {
    slot.reset();
  }
  return true;
}

bool NANOMessageType::freeMessageInfo(std::unique_ptr<NANOMessageInfo>* info) const {
  if (!info || !*info) return false;
  info->reset();
  return true;
}

bool NANOMessageType::copyMessageInfo(std::unique_ptr<NANOMessageInfo>* destination,
                                      const NANOMessageInfo* source) const {
  if (!destination || !source || source->type != this || source->fields.size() != fieldCount) return false;
  std::unique_ptr<NANOMessageInfo> copy = newMessageInfo();
  if (!copy) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    if (!copySlot(fields[i], source->fields[i], &copy->fields[i])) return false;
  }
  // The destination is replaced only by a finished copy.
  *destination = std::move(copy);
  return true;
}

bool NANOMessageType::setDecoders(NANOMessageInfo* info, void* pbStruct) const {
  if (!info || !pbStruct || info->fields.size() != fieldCount) return false;
  for (uint32_t i = 0; i < fieldCount; ++i) {
    const NANOFieldType& f = fields[i];
    NANOSlot& slot = info->fields[i];
    if (isRepeated(f)) {
      NANOArray* header = slot.array();
      if (!header) return false;
      NANOInitArray(header);
      pb_callback_t* callback = callbackAt(pbStruct, f);
      if (isMessage(f)) {
        callback->funcs.decode = decodeRepeated;
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
      slot.value = f.message->newMessageInfo();
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
  void* pbStruct = zeroedStruct(guard.depth(), type.structSize);
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

namespace {

// The encoder: a sizing walk over the record tree that notes the size of every
// sub-message it meets, then one writing walk into a buffer of exact size. The
// writing walk meets the sub-messages in the same order and takes their sizes
// from the notes, so every byte is produced once, straight into its place.
// Fields go out in ascending tag order; integers of lists are written
// unpacked, one key per value; a negative 32-bit value of a signed field goes
// out sign-extended to ten bytes.
class Encoder {
 public:
  // Sizes `info` as the body of one encoded message at `depth` (the
  // outermost message is at depth 1). A failure that the caller should know
  // about is printed; the others fail silently.
  bool measure(const NANOMessageType& type, const NANOMessageInfo& info, uint32_t depth, size_t* size) {
    if (depth > type.maxDepth) {
      print("<ERROR> %s Encoder: nested deeper than %u messages", type.name, type.maxDepth);
      return false;
    }
    // A list item without its value fails the message only once the walk of
    // its fields is over, so that a failure met later in that walk is still
    // the one reported.
    bool itemMissing = false;
    return measureFields(type, info, depth, size, &itemMissing) && !itemMissing;
  }

  // Writes what measure sized; gives the end of the written bytes.
  uint8_t* write(const NANOMessageType& type, const NANOMessageInfo& info, uint8_t* out);

 private:
  bool measureFields(const NANOMessageType& type, const NANOMessageInfo& info, uint32_t depth, size_t* size,
                     bool* itemMissing);

  std::vector<size_t> sizes_;  // of the sub-messages, in the order both walks meet them
  size_t next_ = 0;            // the writing walk's position in sizes_
};

size_t varintSize(uint64_t value) { return static_cast<size_t>(std::bit_width(value | 1) + 6) / 7; }

uint8_t* putVarint(uint8_t* out, uint64_t value) {
  while (value >= 0x80) {
    *out++ = static_cast<uint8_t>(value | 0x80);
    value >>= 7;
  }
  *out++ = static_cast<uint8_t>(value);
  return out;
}

uint8_t* putFixed(uint8_t* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
  return out + bytes;
}

uint8_t* putBytes(uint8_t* out, uint32_t key, const std::vector<uint8_t>& bytes) {
  out = putVarint(out, key);
  out = putVarint(out, bytes.size());
  if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
  return out + bytes.size();
}

// The varint a singular or listed integer cell goes out as.
uint64_t varintOf(NANOFieldFlags flags, bool signedVarint, uint64_t cell) {
  if (flags & Bool) return (cell & 0xFF) != 0;
  if (flags & Class32) {
    auto value = static_cast<uint32_t>(cell);
    return signedVarint ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(value))) : value;
  }
  return cell;
}

bool Encoder::measureFields(const NANOMessageType& type, const NANOMessageInfo& info, uint32_t depth, size_t* size,
                            bool* itemMissing) {
  if (info.fields.size() != type.fieldCount) return false;
  size_t total = 0;
  for (uint32_t k = 0; k < type.fieldCount; ++k) {
    const NANOWireField& wire = type.wireOrder[k];
    const NANOFieldType& f = type.fields[wire.index];
    const NANOSlot& slot = info.fields[wire.index];
    size_t keySize = varintSize(wire.key);
    if (isRepeated(f)) {
      const NANOArray* header = slot.array();
      if (!header) {
        print("<ERROR> %s Encoder: '%s' should have been allocated", type.name, f.name);
        return false;
      }
      if (header->count == 0) continue;
      if (header->count > header->items.size()) return false;
      if (isMessage(f)) {
        if (!f.message) return false;
        for (uint32_t i = 0; i < header->count; ++i) {
          const NANOMessageInfo* record = header->items[i].message();
          if (!record || record->type != f.message) return false;
          size_t at = sizes_.size();
          sizes_.push_back(0);
          size_t itemSize = 0;
          if (!measure(*f.message, *record, depth + 1, &itemSize)) return false;
          sizes_[at] = itemSize;
          total += keySize + varintSize(itemSize) + itemSize;
        }
      } else if (isStringLike(f)) {
        for (uint32_t i = 0; i < header->count; ++i) {
          const NANOBytes* bytes = header->items[i].bytes();
          if (!bytes) {
            *itemMissing = true;
            continue;
          }
          total += keySize + varintSize(bytes->bytes.size()) + bytes->bytes.size();
        }
      } else if (f.flags & (Bool | Class32 | Class64)) {
        // List items are written whole, as they were read.
        for (uint32_t i = 0; i < header->count; ++i) {
          const uint64_t* cell = header->items[i].cell();
          if (!cell) {
            *itemMissing = true;
            continue;
          }
          total += keySize + varintSize(*cell);
        }
      } else {
        return false;
      }
    } else if (isStringLike(f)) {
      if (const NANOBytes* bytes = slot.bytes()) total += keySize + varintSize(bytes->bytes.size()) + bytes->bytes.size();
    } else if (f.hasOffset < 0) {
      continue;
    } else if (isMessage(f)) {
      const NANOMessageInfo* record = slot.message();
      if (!record) continue;
      if (!f.message) return false;
      size_t at = sizes_.size();
      sizes_.push_back(0);
      size_t subSize = 0;
      if (!measureFields(*f.message, *record, depth, &subSize, itemMissing)) return false;
      sizes_[at] = subSize;
      total += keySize + varintSize(subSize) + subSize;
    } else if (const uint64_t* cell = slot.cell()) {
      if (f.flags & Float) {
        total += keySize + 4;
      } else if (f.flags & Double) {
        total += keySize + 8;
      } else if (f.flags & (Bool | Class32 | Class64)) {
        total += keySize + varintSize(varintOf(f.flags, wire.signedVarint, *cell));
      }
    }
  }
  *size = total;
  return true;
}

uint8_t* Encoder::write(const NANOMessageType& type, const NANOMessageInfo& info, uint8_t* out) {
  for (uint32_t k = 0; k < type.fieldCount; ++k) {
    const NANOWireField& wire = type.wireOrder[k];
    const NANOFieldType& f = type.fields[wire.index];
    const NANOSlot& slot = info.fields[wire.index];
    if (isRepeated(f)) {
      const NANOArray* header = slot.array();
      for (uint32_t i = 0; i < header->count; ++i) {
        const NANOSlot& item = header->items[i];
        if (isMessage(f)) {
          out = putVarint(out, wire.key);
          out = putVarint(out, sizes_[next_++]);
          out = write(*f.message, *item.message(), out);
        } else if (isStringLike(f)) {
          out = putBytes(out, wire.key, item.bytes()->bytes);
        } else {
          out = putVarint(out, wire.key);
          out = putVarint(out, *item.cell());
        }
      }
    } else if (isStringLike(f)) {
      if (const NANOBytes* bytes = slot.bytes()) out = putBytes(out, wire.key, bytes->bytes);
    } else if (f.hasOffset < 0) {
      continue;
    } else if (isMessage(f)) {
      if (const NANOMessageInfo* record = slot.message()) {
        out = putVarint(out, wire.key);
        out = putVarint(out, sizes_[next_++]);
        out = write(*f.message, *record, out);
      }
    } else if (const uint64_t* cell = slot.cell()) {
      if (f.flags & Float) {
        out = putFixed(putVarint(out, wire.key), *cell & 0xFFFFFFFFu, 4);
      } else if (f.flags & Double) {
        out = putFixed(putVarint(out, wire.key), *cell, 8);
      } else if (f.flags & (Bool | Class32 | Class64)) {
        out = putVarint(putVarint(out, wire.key), varintOf(f.flags, wire.signedVarint, *cell));
      }
    }
  }
  return out;
}

}  // namespace

int32_t NANOMessageType::encode(const NANOMessageInfo* info, std::vector<uint8_t>* output) const {
  if (!output) return -1;
  output->clear();
  if (!info || info->type != this) return -1;
  Encoder encoder;
  size_t size = 0;
  if (!encoder.measure(*this, *info, 1, &size)) return -1;
  if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return -1;
  output->resize(size);
  uint8_t* end = encoder.write(*this, *info, output->data());
  if (end != output->data() + size) {
    output->clear();
    return -1;
  }
  return static_cast<int32_t>(size);
}
