// NANOMessageInfo — the value record of one wire message, and the cells its
// slots hold.
//
// A record has one slot per field, addressed by the field's index in
// declaration order (never by its tag). A singular slot is empty while its
// field is absent; the slot of a repeated field always holds a NANOArray, from
// the record's initialisation until it is freed, so a repeated field never
// reads as absent. A record owns everything it holds; two records never share
// anything, and every value that crosses the accessors (NANO.h) is copied.
//
// Cells:
//   bool, enum, int32, uint32   uint64_t holding the value zero-extended from 32 bits
//   int64, uint64               uint64_t holding the 64-bit pattern
//   float                       uint64_t holding the float's bit pattern in its low 32 bits
//   double                      uint64_t holding the double's bit pattern
//   string, bytes               NANOBytes (present also when empty)
//   message                     the sub-message's own record
//   repeated, any type          NANOArray; its items are cells as above, except that integer
//                               items read from the wire hold the whole 64-bit varint
#pragma once

#include <cstdint>
#include <memory>
#include <variant>
#include <vector>

class NANOMessageType;
struct NANOMessageInfo;

// One 32-bit word per field: exactly one label bit and exactly one type bit.
using NANOFieldFlags = uint32_t;

namespace NANOFieldFlag {
inline constexpr NANOFieldFlags Singular = 0x2;
inline constexpr NANOFieldFlags Repeated = 0x8;
inline constexpr NANOFieldFlags Bool = 0x20;
inline constexpr NANOFieldFlags Enum = 0x40;
inline constexpr NANOFieldFlags Int32 = 0x80;
inline constexpr NANOFieldFlags UInt32 = 0x100;
inline constexpr NANOFieldFlags Int64 = 0x200;
inline constexpr NANOFieldFlags UInt64 = 0x400;
inline constexpr NANOFieldFlags Float = 0x800;
inline constexpr NANOFieldFlags Double = 0x1000;
inline constexpr NANOFieldFlags String = 0x2000;
inline constexpr NANOFieldFlags Message = 0x4000;
inline constexpr NANOFieldFlags Bytes = 0x8000;
// The accessors' integer classes.
inline constexpr NANOFieldFlags Class32 = Enum | Int32 | UInt32;  // 0x1C0
inline constexpr NANOFieldFlags Class64 = Int64 | UInt64;         // 0x600
inline constexpr NANOFieldFlags TypeMask = 0xFFE0;
}  // namespace NANOFieldFlag

// The value of one string or bytes field or item. Strings are UTF-8.
struct NANOBytes {
  std::vector<uint8_t> bytes;
};

struct NANOSlot;

// The header of a repeated field. Decoding runs in two passes: the first
// counts the items (`allocated` false, `count` growing), then the item array
// is allocated once at its exact size (`allocated` true, `filled` 0), and the
// second pass fills items 0 to count - 1, refusing any item beyond `count`.
struct NANOArray {
  uint32_t filled = 0;
  uint32_t count = 0;
  bool allocated = false;
  std::vector<NANOSlot> items;  // `count` items once allocated; an empty item holds no value
  // The element message of a repeated message field, else null.
  const NANOMessageType* element = nullptr;
};

// What a slot or an item holds: nothing, a scalar cell, a string or bytes
// value, a sub-message record or (slots of repeated fields only) an array.
struct NANOSlot {
  std::variant<std::monostate, uint64_t, NANOBytes, std::unique_ptr<NANOMessageInfo>, NANOArray> value;

  bool empty() const { return std::holds_alternative<std::monostate>(value); }
  uint64_t* cell() { return std::get_if<uint64_t>(&value); }
  const uint64_t* cell() const { return std::get_if<uint64_t>(&value); }
  NANOBytes* bytes() { return std::get_if<NANOBytes>(&value); }
  const NANOBytes* bytes() const { return std::get_if<NANOBytes>(&value); }
  NANOMessageInfo* message() {
    auto* p = std::get_if<std::unique_ptr<NANOMessageInfo>>(&value);
    return p ? p->get() : nullptr;
  }
  const NANOMessageInfo* message() const {
    auto* p = std::get_if<std::unique_ptr<NANOMessageInfo>>(&value);
    return p ? p->get() : nullptr;
  }
  NANOArray* array() { return std::get_if<NANOArray>(&value); }
  const NANOArray* array() const { return std::get_if<NANOArray>(&value); }
  void reset() { value = std::monostate{}; }
};

// The value record of one message. Made by NANOMessageType::initMessageInfo,
// owned by exactly one message object or by the record that holds it.
struct NANOMessageInfo {
  NANOMessageInfo() = default;
  // Frees the sub-records of any depth without recursion.
  ~NANOMessageInfo();
  NANOMessageInfo(const NANOMessageInfo&) = delete;
  NANOMessageInfo& operator=(const NANOMessageInfo&) = delete;

  std::vector<NANOSlot> fields;           // slot i holds the field with index i
  const NANOFieldFlags* flags = nullptr;  // the message's flags table, one word per index
  const char* name = nullptr;             // the message's name, such as "AdCampaignInfo"
  const NANOMessageType* type = nullptr;  // the message's tables and codec
};
