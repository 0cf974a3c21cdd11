#include "analytics/wire/NANOMessageBase.h"

#include <cstring>

namespace {
// The first arena block of a decoded message: its records take a few times
// the room of their encoding.
size_t arenaBlockForDecoding(size_t length) { return length * 6 + 512; }
constexpr size_t kArenaBlockForCopies = 256;
}  // namespace

NANOMessageBase::NANOMessageBase(const NANOMessageType& type, size_t arenaBlock) : type_(&type) {
  if (arenaBlock) arena_.emplace(arenaBlock);
}

NANOMessageBase::~NANOMessageBase() { NANOFreeRecord(info_); }

std::optional<std::vector<uint8_t>> NANOMessageBase::protoBuffer() const {
  if (!info_) return std::nullopt;
  std::vector<uint8_t> output;
  if (type_->encode(info_, &output) < 0) return std::nullopt;
  return output;
}

std::shared_ptr<NANOMessageBase> NANOMessageBase::initWithMessageInfo(const NANOMessageType& type,
                                                                      const NANOMessageInfo* info) {
  if (!type.wrap || !type.initMessageInfoFn || !type.copyMessageInfoFn) return nullptr;
  if (!info) {
    std::shared_ptr<NANOMessageBase> object = type.wrap(0);
    NANOMessageInfo* record = NANOAllocateRecord(type, nullptr);
    if (!type.initMessageInfoFn(record)) {
      NANOFreeRecord(record);
      return nullptr;
    }
    object->info_ = record;
    return object;
  }
  // Only a record of this very message is taken.
  if (!info->name || std::strcmp(info->name, type.name) != 0 || info->type != &type) return nullptr;
  std::shared_ptr<NANOMessageBase> object = type.wrap(kArenaBlockForCopies);
  // The copy goes into the allocator of the record it replaces: the object's arena.
  NANOMessageInfo* record = NANOAllocateRecord(type, &*object->arena_);
  if (!type.initMessageInfoFn(record) || !type.copyMessageInfoFn(&record, info)) return nullptr;
  object->info_ = record;
  return object;
}

std::shared_ptr<NANOMessageBase> NANOMessageBase::initWithBuffer(const NANOMessageType& type,
                                                                 std::optional<std::span<const uint8_t>> data) {
  if (!type.wrap || !type.initMessageInfoFn) return nullptr;
  const uint8_t* bytes = data ? data->data() : nullptr;
  size_t length = data ? data->size() : 0;
  std::shared_ptr<NANOMessageBase> object = type.wrap(arenaBlockForDecoding(length));
  NANOMessageInfo* record = NANOAllocateRecord(type, &*object->arena_);
  if (!type.initMessageInfoFn(record)) return nullptr;
  object->info_ = record;
  if (!type.decode(bytes, length, record)) return nullptr;
  return object;
}
