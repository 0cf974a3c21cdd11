#include "analytics/wire/NANOMessageInfo.h"

#include <bit>
#include <cstring>
#include <new>
#include <vector>

#include "analytics/wire/NANOArena.h"
#include "analytics/wire/NANOMessageType.h"

static_assert(std::endian::native == std::endian::little, "slots lay their bytes out little-endian");

namespace {

// The header of a record block; its slots follow at this distance.
constexpr size_t kHeaderBytes = (sizeof(NANOMessageInfo) + 7) & ~size_t{7};

void* allocateFrom(NANOArena* arena, size_t size) { return arena ? arena->allocate(size) : ::operator new(size); }

}  // namespace

void NANOBytes::assign(const uint8_t* bytes, size_t length, NANOArena* arena) {
  if (length == 0) bytes = nullptr;
  if (length <= kInlineCapacity) {
    unsigned char copy[16] = {};
    if (length) std::memmove(copy, bytes, length);
    release();
    uint64_t low = 0;
    std::memcpy(&word_[0], copy, 8);
    std::memcpy(&low, copy + 8, 8);
    low &= (uint64_t{1} << kInlineLengthShift) - 1;
    setKindKeepingIndex(NANOSlotKind::InlineBytes, low | (uint64_t{length} << kInlineLengthShift));
    return;
  }
  NANOSlotKind kind = arena ? NANOSlotKind::ArenaBytes : NANOSlotKind::HeapBytes;
  if (kindBits() == kind && length <= size()) {
    // The buffer is long enough: rewrite it in place.
    auto* buffer = reinterpret_cast<uint8_t*>(word_[0]);
    std::memmove(buffer, bytes, length);
    setKindKeepingIndex(kind, static_cast<uint32_t>(length));
    return;
  }
  auto* buffer = static_cast<uint8_t*>(allocateFrom(arena, length));
  std::memcpy(buffer, bytes, length);
  release();
  word_[0] = reinterpret_cast<uint64_t>(buffer);
  setKindKeepingIndex(kind, static_cast<uint32_t>(length));
}

void NANOBytes::release() {
  if (kindBits() == NANOSlotKind::HeapBytes) ::operator delete(reinterpret_cast<void*>(word_[0]));
  if (held()) {
    word_[0] = 0;
    word_[1] &= kIndexBits;
  }
}

bool NANOBytes::operator==(const NANOBytes& other) const {
  if (held() != other.held()) return false;
  if (!held()) return true;
  return size() == other.size() && (size() == 0 || std::memcmp(data(), other.data(), size()) == 0);
}

NANOMessageInfo* NANOSlot::owner() const {
  uint8_t index = indexBits();
  if (index == kListItem) return nullptr;
  const char* first = reinterpret_cast<const char*>(this - index);
  return reinterpret_cast<NANOMessageInfo*>(const_cast<char*>(first - kHeaderBytes));
}

void NANOSlot::notePresence(bool present) const {
  uint8_t index = indexBits();
  if (index == kListItem) return;
  NANOMessageInfo* record = owner();
  uint64_t bit = uint64_t{1} << index;
  record->present = present ? (record->present | bit) : (record->present & ~bit);
}

void NANOSlot::freeHeldValue() {
  switch (kind()) {
    case NANOSlotKind::HeapBytes:
      release();
      break;
    case NANOSlotKind::Message:
      NANOFreeRecord(message());
      break;
    case NANOSlotKind::Array: {
      NANOArray* header = array();
      if (header && !header->arena) {
        NANOEmptyArray(header);
        ::operator delete(header);
      }
      break;
    }
    default:
      break;
  }
  word_[0] = 0;
  word_[1] &= kIndexBits;
}

void NANOSlot::reset() {
  freeHeldValue();
  notePresence(false);
}

void NANOSlot::setCell(uint64_t value) {
  if (kind() != NANOSlotKind::Cell) freeHeldValue();
  putCell(value);
  notePresence(true);
}

void NANOSlot::setBytes(const uint8_t* bytes, size_t length, NANOArena* itemArena) {
  NANOMessageInfo* record = owner();
  NANOArena* arena = record ? record->arena : itemArena;
  if (!held()) freeHeldValue();
  assign(bytes, length, arena);
  notePresence(true);
}

void NANOSlot::setPointer(NANOSlotKind kind, const void* pointer) {
  freeHeldValue();
  if (pointer) putPointer(kind, pointer);
  notePresence(pointer != nullptr);
}

void NANOSlot::setMessage(NANOMessageInfo* record) { setPointer(NANOSlotKind::Message, record); }

void NANOSlot::setArray(NANOArray* header) { setPointer(NANOSlotKind::Array, header); }

NANOMessageInfo* NANOAllocateRecord(const NANOMessageType& type, NANOArena* arena) {
  uint32_t slots = type.fieldCount;
  void* block = allocateFrom(arena, kHeaderBytes + slots * sizeof(NANOSlot));
  auto* record = new (block) NANOMessageInfo();
  record->arena = arena;
  record->slotCapacity = slots;
  auto* first = reinterpret_cast<NANOSlot*>(static_cast<char*>(block) + kHeaderBytes);
  for (uint32_t i = 0; i < slots; ++i) new (first + i) NANOSlot();
  record->fields.data_ = first;
  record->fields.size_ = 0;
  return record;
}

NANOArray* NANONewArray(const NANOMessageType* element, NANOArena* arena) {
  auto* header = new (allocateFrom(arena, sizeof(NANOArray))) NANOArray();
  header->element = element;
  header->arena = arena;
  return header;
}

NANOSlot* NANONewItems(uint32_t count, NANOArena* arena) {
  if (count == 0) return nullptr;
  auto* items = static_cast<NANOSlot*>(allocateFrom(arena, size_t{count} * sizeof(NANOSlot)));
  for (uint32_t i = 0; i < count; ++i) new (items + i) NANOSlot();
  return items;
}

namespace {
// Frees the heap pieces of one list's items; the records among them go to
// `pending` rather than being freed by recursion.
void releaseItems(NANOArray* header, std::vector<NANOMessageInfo*>* pending) {
  for (uint32_t i = 0; i < header->capacity; ++i) {
    NANOSlot& item = header->items[i];
    if (NANOMessageInfo* record = item.message()) {
      if (!record->arena) pending->push_back(record);
      item.putPointer(NANOSlotKind::Empty, nullptr);
    } else {
      item.release();
    }
  }
  ::operator delete(header->items);
}

// Frees the heap pieces held by the slots of `record`; its sub-records go to `pending`.
void releaseSlots(NANOMessageInfo* record, std::vector<NANOMessageInfo*>* pending) {
  for (uint32_t i = 0; i < record->slotCapacity; ++i) {
    NANOSlot& slot = record->fields.data()[i];
    if (NANOMessageInfo* sub = slot.message()) {
      if (!sub->arena) pending->push_back(sub);
    } else if (NANOArray* header = slot.array()) {
      if (!header->arena) {
        if (header->items) releaseItems(header, pending);
        ::operator delete(header);
      }
    } else {
      slot.release();
    }
  }
}
}  // namespace

void NANOEmptyArray(NANOArray* header) {
  if (!header) return;
  if (!header->arena && header->items) {
    std::vector<NANOMessageInfo*> pending;
    releaseItems(header, &pending);
    while (!pending.empty()) {
      NANOMessageInfo* next = pending.back();
      pending.pop_back();
      releaseSlots(next, &pending);
      ::operator delete(next);
    }
  }
  header->items = nullptr;
  header->count = 0;
  header->capacity = 0;
  header->filled = 0;
  header->allocated = false;
}

void NANOFreeRecord(NANOMessageInfo* record) {
  if (!record || record->arena) return;
  // Each record is emptied of its sub-records before it is freed, so a deeply
  // nested tree is freed level by level instead of by recursion (a record
  // without sub-records needs no list).
  std::vector<NANOMessageInfo*> pending;
  releaseSlots(record, &pending);
  ::operator delete(record);
  while (!pending.empty()) {
    NANOMessageInfo* next = pending.back();
    pending.pop_back();
    releaseSlots(next, &pending);
    ::operator delete(next);
  }
}
