#include "analytics/wire/NANOMessageBase.h"

#include <cstring>

NANOMessageBase::NANOMessageBase(const NANOMessageType& type, std::unique_ptr<NANOMessageInfo> info)
    : type_(&type), info_(std::move(info)) {}

NANOMessageBase::~NANOMessageBase() = default;

std::optional<std::vector<uint8_t>> NANOMessageBase::protoBuffer() const {
  if (!info_) return std::nullopt;
  std::vector<uint8_t> output;
  if (type_->encode(info_.get(), &output) < 0) return std::nullopt;
  return output;
}

std::shared_ptr<NANOMessageBase> NANOMessageBase::initWithMessageInfo(const NANOMessageType& type,
                                                                      const NANOMessageInfo* info) {
  if (!type.wrap) return nullptr;
  std::unique_ptr<NANOMessageInfo> record;
  if (!info) {
    record = type.newMessageInfo();
    if (!record) return nullptr;
  } else {
    // Only a record of this very message is taken.
    if (!info->name || std::strcmp(info->name, type.name) != 0 || info->type != &type) return nullptr;
    if (!type.copyMessageInfo(&record, info)) return nullptr;
  }
  return type.wrap(std::move(record));
}

std::shared_ptr<NANOMessageBase> NANOMessageBase::initWithBuffer(const NANOMessageType& type,
                                                                 std::optional<std::span<const uint8_t>> data) {
  if (!type.wrap) return nullptr;
  std::unique_ptr<NANOMessageInfo> record = type.newMessageInfo();
  if (!record) return nullptr;
  const uint8_t* bytes = data ? data->data() : nullptr;
  size_t length = data ? data->size() : 0;
  if (!type.decode(bytes, length, record.get())) return nullptr;
  return type.wrap(std::move(record));
}
