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
// Layout. A record is one block: the NANOMessageInfo header followed by its
// slots. A slot is 16 bytes and holds its value in place:
//
//   bool, enum, int32, uint32   a 64-bit cell holding the value zero-extended from 32 bits
//   int64, uint64               a 64-bit cell holding the 64-bit pattern
//   float                       a 64-bit cell holding the float's bit pattern in its low 32 bits
//   double                      a 64-bit cell holding the double's bit pattern
//   string, bytes               a NANOBytes: up to 13 bytes inside the slot, longer values
//                               in a buffer of their own (present also when empty)
//   message                     a pointer to the sub-message's own record
//   repeated, any type          a pointer to a NANOArray whose items are slots as above,
//                               except that integer items read from the wire hold the
//                               whole 64-bit varint
//
// Each slot knows its index, so it finds its record: the record keeps a
// presence bit per field (`present`), set while the slot holds a value, which
// every store and reset keeps up to date; the encoder walks only those bits.
//
// Allocation. A record and everything it holds come from one allocator: the
// arena named by its `arena` (NANOArena.h), or the heap when that is null. A
// heap record frees each piece when it is replaced or cleared; an arena
// record frees nothing on its own (the arena goes in one step). Records are
// made by NANOAllocateRecord and freed by NANOFreeRecord (NANORecordPtr does
// that), never by new or delete.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

class NANOArena;
class NANOMessageType;
struct NANOMessageInfo;
struct NANOArray;

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

// The most fields a message may declare (one presence bit each).
inline constexpr uint32_t NANOMaxFields = 64;

// What a slot holds.
enum class NANOSlotKind : uint8_t {
  Empty = 0,
  Cell,         // a 64-bit cell
  InlineBytes,  // string or bytes held inside the slot
  ArenaBytes,   // string or bytes in a buffer of the record's arena
  HeapBytes,    // string or bytes in a heap buffer of their own
  Message,      // a sub-message record
  Array,        // a repeated field's NANOArray
};

// The value of one string or bytes field or item: its length and bytes, or no
// value. Strings are UTF-8. A value of at most kInlineCapacity bytes is kept
// inside; a longer one in a buffer from the arena or the heap. A standalone
// NANOBytes (not a slot of a record) is emptied with NANODeallocString.
class NANOBytes {
 public:
  static constexpr size_t kInlineCapacity = 13;

  NANOBytes() = default;
  NANOBytes(const NANOBytes&) = delete;
  NANOBytes& operator=(const NANOBytes&) = delete;

  // Whether a value is held (an empty one too).
  bool held() const {
    NANOSlotKind k = kindBits();
    return k == NANOSlotKind::InlineBytes || k == NANOSlotKind::ArenaBytes || k == NANOSlotKind::HeapBytes;
  }
  size_t size() const {
    switch (kindBits()) {
      case NANOSlotKind::InlineBytes:
        return static_cast<uint8_t>(word_[1] >> kInlineLengthShift);
      case NANOSlotKind::ArenaBytes:
      case NANOSlotKind::HeapBytes:
        return static_cast<uint32_t>(word_[1]);
      default:
        return 0;
    }
  }
  // The bytes; never null while a value is held, null otherwise.
  const uint8_t* data() const {
    switch (kindBits()) {
      case NANOSlotKind::InlineBytes:
        return storage();
      case NANOSlotKind::ArenaBytes:
      case NANOSlotKind::HeapBytes:
        return reinterpret_cast<const uint8_t*>(word_[0]);
      default:
        return nullptr;
    }
  }
  std::span<const uint8_t> span() const { return {data(), size()}; }
  // Whether the value is kept inside (data() is then this object's own storage).
  bool heldInside() const { return kindBits() == NANOSlotKind::InlineBytes; }
  // The length of a value kept inside.
  size_t insideSize() const { return static_cast<uint8_t>(word_[1] >> kInlineLengthShift); }
  // Whether a value is held in a buffer of its own, and that buffer and its length.
  bool heldOutside() const {
    NANOSlotKind k = kindBits();
    return k == NANOSlotKind::ArenaBytes || k == NANOSlotKind::HeapBytes;
  }
  const uint8_t* outsideData() const { return reinterpret_cast<const uint8_t*>(word_[0]); }
  size_t outsideSize() const { return static_cast<uint32_t>(word_[1]); }
  std::string_view view() const { return {reinterpret_cast<const char*>(data()), size()}; }

  // Stores a copy of `length` bytes (which may lie in this value's own
  // buffer): inside when they fit, else in the arena (null: the heap). A
  // buffer of the heap that is long enough is reused.
  void assign(const uint8_t* bytes, size_t length, NANOArena* arena);
  // Frees a heap buffer and holds no value.
  void release();

  bool operator==(const NANOBytes& other) const;

 protected:
  // Storage: word 0 is the cell or a pointer; word 1 holds an out-of-line
  // value's length in its low 32 bits. An inline value uses bytes 0 to 12;
  // byte 13 is its length, byte 14 the slot's index, byte 15 the kind.
  static constexpr uint64_t kIndexShift = 48;
  static constexpr uint64_t kKindShift = 56;
  static constexpr uint64_t kInlineLengthShift = 40;
  static constexpr uint64_t kIndexBits = uint64_t{0xFF} << kIndexShift;

  NANOSlotKind kindBits() const { return static_cast<NANOSlotKind>(word_[1] >> kKindShift); }
  uint8_t indexBits() const { return static_cast<uint8_t>(word_[1] >> kIndexShift); }
  void setKindKeepingIndex(NANOSlotKind kind, uint64_t low) {
    word_[1] = (word_[1] & kIndexBits) | (uint64_t{static_cast<uint8_t>(kind)} << kKindShift) | low;
  }
  unsigned char* storage() { return reinterpret_cast<unsigned char*>(word_); }
  const unsigned char* storage() const { return reinterpret_cast<const unsigned char*>(word_); }

  uint64_t word_[2] = {0, uint64_t{0xFF} << kIndexShift};
};

// One slot of a record, or one item of a list: empty, a cell, bytes, a
// sub-message record or (record slots of repeated fields only) a list.
class NANOSlot : public NANOBytes {
 public:
  // The index byte of a list item (a slot that belongs to no record).
  static constexpr uint8_t kListItem = 0xFF;

  NANOSlotKind kind() const { return kindBits(); }
  bool empty() const { return kind() == NANOSlotKind::Empty; }
  uint64_t* cell() { return kind() == NANOSlotKind::Cell ? &word_[0] : nullptr; }
  const uint64_t* cell() const { return kind() == NANOSlotKind::Cell ? &word_[0] : nullptr; }
  NANOBytes* bytes() { return held() ? this : nullptr; }
  const NANOBytes* bytes() const { return held() ? this : nullptr; }
  NANOMessageInfo* message() const {
    return kind() == NANOSlotKind::Message ? reinterpret_cast<NANOMessageInfo*>(word_[0]) : nullptr;
  }
  NANOArray* array() const {
    return kind() == NANOSlotKind::Array ? reinterpret_cast<NANOArray*>(word_[0]) : nullptr;
  }

  // The record whose slot this is, or null for a list item.
  NANOMessageInfo* owner() const;

  // Empties the slot, freeing what it held when that came from the heap.
  void reset();
  // Stores a cell, a copy of bytes (from the owner's allocator, or `arena`
  // for a list item), a record or a list; what the slot held is freed first
  // when it came from the heap. A record or list passes into the slot's
  // ownership and must come from the same allocator as the slot's record.
  void setCell(uint64_t value);
  void setBytes(const uint8_t* bytes, size_t length, NANOArena* itemArena = nullptr);
  void setMessage(NANOMessageInfo* record);
  void setArray(NANOArray* array);
  // Brings the owner's presence bit in line with what the slot holds (after
  // filling it as a NANOBytes, which knows nothing of records).
  void updatePresence() const { notePresence(!empty()); }

  // For the codecs, which keep the record's presence bits themselves: stores
  // into a slot known to hold nothing that needs freeing.
  void putCell(uint64_t value) {
    word_[0] = value;
    setKindKeepingIndex(NANOSlotKind::Cell, 0);
  }
  void putPointer(NANOSlotKind kind, const void* pointer) {
    word_[0] = reinterpret_cast<uint64_t>(pointer);
    setKindKeepingIndex(kind, 0);
  }
  // Makes this an empty slot with `index` (kListItem for a list item).
  void initialise(uint8_t index) {
    word_[0] = 0;
    word_[1] = uint64_t{index} << kIndexShift;
  }
  // Moves the value of `from` here (this slot held nothing that needs
  // freeing); `from` is left empty. Neither slot's presence bit changes.
  void takeValue(NANOSlot& from) {
    word_[0] = from.word_[0];
    word_[1] = (word_[1] & kIndexBits) | (from.word_[1] & ~kIndexBits);
    from.word_[0] = 0;
    from.word_[1] &= kIndexBits;
  }

 private:
  friend struct NANOMessageInfo;
  void notePresence(bool present) const;
  void freeHeldValue();
  void setPointer(NANOSlotKind kind, const void* pointer);
};

static_assert(sizeof(NANOSlot) == 16);

// The header of a repeated field: `count` items in an array of `capacity`
// slots, from the allocator named by `arena` (null: the heap). The nanopb
// decoder fills it in two passes: the first counts the items (`allocated`
// false, `count` growing), then the item array is allocated once at its exact
// size (`allocated` true, `filled` 0), and the second pass fills items 0 to
// count - 1, refusing any item beyond `count`.
struct NANOArray {
  uint32_t filled = 0;
  uint32_t count = 0;
  NANOSlot* items = nullptr;
  uint32_t capacity = 0;
  bool allocated = false;
  // The element message of a repeated message field, else null.
  const NANOMessageType* element = nullptr;
  NANOArena* arena = nullptr;

  std::span<NANOSlot> itemSpan() const { return {items, count <= capacity ? count : capacity}; }
};

// The slots of a record, in index order.
class NANOFieldSlots {
 public:
  NANOSlot& operator[](size_t index) const { return data_[index]; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  NANOSlot* begin() const { return data_; }
  NANOSlot* end() const { return data_ + size_; }
  NANOSlot* data() const { return data_; }

 private:
  friend class NANOMessageType;
  friend NANOMessageInfo* NANOAllocateRecord(const NANOMessageType&, NANOArena*);
  NANOSlot* data_ = nullptr;
  uint32_t size_ = 0;
};

// The value record of one message.
struct NANOMessageInfo {
  NANOFieldSlots fields;                  // slot i holds the field with index i
  const NANOFieldFlags* flags = nullptr;  // the message's flags table, one word per index
  const char* name = nullptr;             // the message's name, such as "AdCampaignInfo"
  const NANOMessageType* type = nullptr;  // the message's tables and codec
  NANOArena* arena = nullptr;             // where its pieces come from; null: the heap
  uint64_t present = 0;                   // bit i: slot i holds a value
  uint32_t slotCapacity = 0;              // slots in the block after the header

  bool has(uint32_t index) const { return (present >> index) & 1; }
};

// A zeroed record with room for the slots of `type`, from `arena` (null: the
// heap); the message's InitMessageInfo fills it. Its slots follow the header.
NANOMessageInfo* NANOAllocateRecord(const NANOMessageType& type, NANOArena* arena);
// Frees a heap record with everything it holds, without recursion; a record
// of an arena is left to its arena. Null is ignored.
void NANOFreeRecord(NANOMessageInfo* record);

struct NANORecordDeleter {
  void operator()(NANOMessageInfo* record) const { NANOFreeRecord(record); }
};
using NANORecordPtr = std::unique_ptr<NANOMessageInfo, NANORecordDeleter>;

// A new empty list header for items of `element` (null for non-message
// lists), from `arena` (null: the heap).
NANOArray* NANONewArray(const NANOMessageType* element, NANOArena* arena);
// `count` empty list items from `arena` (null: the heap); null for 0.
NANOSlot* NANONewItems(uint32_t count, NANOArena* arena);
// Frees the items of a heap list and empties it (an arena list is only emptied).
void NANOEmptyArray(NANOArray* array);
