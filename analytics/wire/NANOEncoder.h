// NANOEncoder — the encoder of every wire message, internal to the wire layer.
//
// Encoding is two walks over the record tree: a sizing walk that notes the
// size of every sub-message it meets, then one writing walk into a buffer of
// exact size, which meets the sub-messages in the same order and takes their
// sizes from the notes, so every byte is produced once, straight into its
// place. Each message's own walks are generated beside its class (straight-line
// code over the helpers below, one statement per field in ascending tag order,
// keys as constants) and reached through its NANOMessageType; they visit only
// the fields whose presence bit is set, and the lists, which are always there.
// Integers of lists are written unpacked, one key per value; a negative 32-bit
// value of a signed field goes out sign-extended to ten bytes.
//
// A damaged record (reachable through messageInfo()) fails to encode: a list
// without its header is reported; a list whose count exceeds its items, a
// list item or sub-message of another message or none fails silently; a list
// item without its value fails its message once the rest of that message has
// been walked, so that a fault reported further on is still reported.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "analytics/wire/NANOMessageInfo.h"
#include "analytics/wire/NANOMessageType.h"

class NANOEncoder {
 public:
  explicit NANOEncoder(std::vector<uint32_t>& sizes) : sizes_(sizes) {}

  // Sizes `info` as the body of one encoded message at `depth` (the
  // outermost message is at depth 1); reports nesting beyond the message's cap.
  bool measure(const NANOMessageType& type, const NANOMessageInfo& info, uint32_t depth, size_t* size) {
    if (depth > type.maxDepth) {
      reportTooDeep(type);
      return false;
    }
    // A list item without its value fails the message only once the walk of
    // its fields is over, so that a failure met later in that walk is still
    // the one reported.
    bool itemMissing = false;
    return type.measureFieldsFn(*this, info, depth, size, &itemMissing) && !itemMissing;
  }
  // Writes what measure sized; gives the end of the written bytes.
  uint8_t* write(const NANOMessageType& type, const NANOMessageInfo& info, uint8_t* out) {
    return type.writeFieldsFn(*this, info, out);
  }

  static size_t varintSize(uint64_t value) { return (static_cast<size_t>(std::bit_width(value | 1)) * 9 + 64) / 64; }
  static uint8_t* putVarint(uint8_t* out, uint64_t value) {
    while (value >= 0x80) {
      *out++ = static_cast<uint8_t>(value | 0x80);
      value >>= 7;
    }
    *out++ = static_cast<uint8_t>(value);
    return out;
  }
  template <uint32_t Key>
  static constexpr size_t keySize = (std::bit_width(Key | 1) + 6) / 7;
  template <uint32_t Key>
  static uint8_t* putKey(uint8_t* out) {
    uint32_t key = Key;
    for (size_t i = 0; i + 1 < keySize<Key>; ++i, key >>= 7) *out++ = static_cast<uint8_t>(key | 0x80);
    *out++ = static_cast<uint8_t>(key);
    return out;
  }

  // The varint a singular integer cell goes out as.
  template <NANOWireKind Kind>
  static uint64_t varintOf(uint64_t cell) {
    if constexpr (Kind == NANOWireKind::Bool) return (cell & 0xFF) != 0;
    if constexpr (Kind == NANOWireKind::SignedVarint32) {
      return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(cell))));
    }
    if constexpr (Kind == NANOWireKind::Varint32) return static_cast<uint32_t>(cell);
    return cell;
  }

  // Sizing, one helper per kind of field; each adds to `total`.
  template <uint32_t Key, NANOWireKind Kind>
  static void sizeVarint(const NANOSlot& slot, size_t& total) {
    if (const uint64_t* cell = slot.cell()) total += keySize<Key> + varintSize(varintOf<Kind>(*cell));
  }
  template <uint32_t Key, size_t Bytes>
  static void sizeFixed(const NANOSlot& slot, size_t& total) {
    if (slot.cell()) total += keySize<Key> + Bytes;
  }
  template <uint32_t Key>
  static void sizeBytes(const NANOBytes& bytes, size_t& total) {
    if (bytes.heldInside()) {
      total += keySize<Key> + 1 + bytes.insideSize();
    } else if (bytes.heldOutside()) {
      total += keySize<Key> + varintSize(bytes.outsideSize()) + bytes.outsideSize();
    }
  }
  // A singular sub-message: part of its parent, at the same nesting level.
  template <uint32_t Key>
  bool sizeMessage(const NANOSlot& slot, const NANOMessageType& sub, uint32_t depth, bool* itemMissing,
                   size_t& total) {
    const NANOMessageInfo* record = slot.message();
    if (!record) return true;
    if (record->type != &sub) return false;
    size_t at = reserveSize();
    size_t size = 0;
    if (!sub.measureFieldsFn(*this, *record, depth, &size, itemMissing)) return false;
    return noteSize<Key>(at, size, total);
  }
  template <uint32_t Key>
  bool sizeMessageList(const NANOSlot& slot, const NANOMessageType& element, uint32_t depth, const char* message,
                       const char* field, size_t& total) {
    const NANOArray* header = listOf(slot, message, field);
    if (!header) return false;
    for (uint32_t i = 0; i < header->count; ++i) {
      const NANOMessageInfo* record = header->items[i].message();
      if (!record || record->type != &element) return false;
      size_t at = reserveSize();
      size_t size = 0;
      if (!measure(element, *record, depth + 1, &size)) return false;
      if (!noteSize<Key>(at, size, total)) return false;
    }
    return true;
  }
  template <uint32_t Key>
  bool sizeBytesList(const NANOSlot& slot, const char* message, const char* field, bool* itemMissing, size_t& total) {
    const NANOArray* header = listOf(slot, message, field);
    if (!header) return false;
    for (uint32_t i = 0; i < header->count; ++i) {
      const NANOSlot& item = header->items[i];
      if (!item.held()) *itemMissing = true;
      sizeBytes<Key>(item, total);
    }
    return true;
  }
  // List items are written whole, as they were read.
  template <uint32_t Key>
  bool sizeVarintList(const NANOSlot& slot, const char* message, const char* field, bool* itemMissing, size_t& total) {
    const NANOArray* header = listOf(slot, message, field);
    if (!header) return false;
    for (uint32_t i = 0; i < header->count; ++i) {
      const uint64_t* cell = header->items[i].cell();
      if (!cell) {
        *itemMissing = true;
        continue;
      }
      total += keySize<Key> + varintSize(*cell);
    }
    return true;
  }

  // Writing, one helper per kind of field, in step with the sizing helpers.
  template <uint32_t Key, NANOWireKind Kind>
  static uint8_t* putVarintField(uint8_t* out, const NANOSlot& slot) {
    const uint64_t* cell = slot.cell();
    return cell ? putVarint(putKey<Key>(out), varintOf<Kind>(*cell)) : out;
  }
  template <uint32_t Key, size_t Bytes>
  static uint8_t* putFixedField(uint8_t* out, const NANOSlot& slot) {
    const uint64_t* cell = slot.cell();
    if (!cell) return out;
    out = putKey<Key>(out);
    std::memcpy(out, cell, Bytes);  // little-endian, as the wire
    return out + Bytes;
  }
  // A value held inside is copied as the whole 16 bytes of its slot: the
  // output has kSlack bytes beyond its end for that.
  static constexpr size_t kSlack = 16;
  template <uint32_t Key>
  static uint8_t* putBytesField(uint8_t* out, const NANOBytes& bytes) {
    if (bytes.heldInside()) {
      out = putKey<Key>(out);
      size_t size = bytes.insideSize();
      *out++ = static_cast<uint8_t>(size);
      std::memcpy(out, bytes.data(), kSlack);
      return out + size;
    }
    if (!bytes.heldOutside()) return out;
    out = putKey<Key>(out);
    size_t size = bytes.outsideSize();
    out = putVarint(out, size);
    std::memcpy(out, bytes.outsideData(), size);
    return out + size;
  }
  template <uint32_t Key>
  uint8_t* putMessageField(uint8_t* out, const NANOSlot& slot, const NANOMessageType& sub) {
    const NANOMessageInfo* record = slot.message();
    if (!record) return out;
    out = putVarint(putKey<Key>(out), sizes_[next_++]);
    return sub.writeFieldsFn(*this, *record, out);
  }
  template <uint32_t Key>
  uint8_t* putMessageList(uint8_t* out, const NANOSlot& slot, const NANOMessageType& element) {
    const NANOArray* header = slot.array();
    for (uint32_t i = 0; i < header->count; ++i) {
      out = putVarint(putKey<Key>(out), sizes_[next_++]);
      out = element.writeFieldsFn(*this, *header->items[i].message(), out);
    }
    return out;
  }
  template <uint32_t Key>
  static uint8_t* putBytesList(uint8_t* out, const NANOSlot& slot) {
    const NANOArray* header = slot.array();
    for (uint32_t i = 0; i < header->count; ++i) out = putBytesField<Key>(out, header->items[i]);
    return out;
  }
  template <uint32_t Key>
  static uint8_t* putVarintList(uint8_t* out, const NANOSlot& slot) {
    const NANOArray* header = slot.array();
    for (uint32_t i = 0; i < header->count; ++i) out = putVarint(putKey<Key>(out), *header->items[i].cell());
    return out;
  }

 private:
  // The list of a repeated field's slot, ready to walk; null (reported when
  // the header is missing) when it cannot be walked.
  static const NANOArray* listOf(const NANOSlot& slot, const char* message, const char* field) {
    const NANOArray* header = slot.array();
    if (!header) {
      reportMissingList(message, field);
      return nullptr;
    }
    if (header->count > header->capacity || (header->count && !header->items)) return nullptr;
    return header;
  }
  static void reportMissingList(const char* message, const char* field);
  static void reportTooDeep(const NANOMessageType& type);
  size_t reserveSize() {
    sizes_.push_back(0);
    return sizes_.size() - 1;
  }
  template <uint32_t Key>
  bool noteSize(size_t at, size_t size, size_t& total) {
    if (size > std::numeric_limits<uint32_t>::max()) return false;
    sizes_[at] = static_cast<uint32_t>(size);
    total += keySize<Key> + varintSize(size) + size;
    return true;
  }

  std::vector<uint32_t>& sizes_;
  size_t next_ = 0;  // the writing walk's position in sizes_
};
