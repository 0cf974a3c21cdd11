#include "analytics/wire/NANOTyped.h"

#include <bit>

namespace nano_typed {

namespace {
// The slot of a singular float field, or null for anything else.
NANOSlot* floatSlot(NANOMessageRef message, int32_t index) {
  NANOMessageInfo* info = message.get() ? message.get()->messageInfo() : nullptr;
  if (!info || !info->type) return nullptr;
  const NANOFieldType* field = info->type->field(index);
  if (!field || field->flags != (NANOFieldFlag::Singular | NANOFieldFlag::Float)) return nullptr;
  return &info->fields[static_cast<size_t>(index)];
}
}  // namespace

uint32_t listCount(const NANOMessageBase* message, int32_t index) {
  const NANOMessageInfo* info = message ? message->messageInfo() : nullptr;
  if (!info || index < 0 || static_cast<size_t>(index) >= info->fields.size()) return 0;
  const NANOArray* header = info->fields[static_cast<size_t>(index)].array();
  return header ? static_cast<uint32_t>(header->itemSpan().size()) : 0;
}

float getFloat(NANOMessageRef message, int32_t index) {
  const NANOSlot* slot = floatSlot(message, index);
  const uint64_t* cell = slot ? slot->cell() : nullptr;
  return cell ? std::bit_cast<float>(static_cast<uint32_t>(*cell)) : 0.0f;
}

void setFloat(NANOMessageRef message, int32_t index, float value) {
  if (NANOSlot* slot = floatSlot(message, index)) NANOSetFloatField(slot, value);
}

}  // namespace nano_typed
