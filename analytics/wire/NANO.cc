#include "analytics/wire/NANO.h"

#include <pb.h>
#include <pb_decode.h>
#include <pb_encode.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "analytics/wire/NANOLog.h"
#include "platform/text/Utf8.h"

using nano_log::print;
using nano_log::systemLog;

namespace {

// What an accessor accepts.
enum class Label { Singular, Repeated, Any };

struct Access {
  NANOMessageBase* object = nullptr;
  NANOMessageInfo* info = nullptr;
  const NANOFieldType* field = nullptr;
  NANOSlot* slot = nullptr;
};

const char* messageName(const NANOMessageInfo* info) { return info && info->name ? info->name : "(null)"; }

// Steps shared by every accessor: an initialised message, an index within its
// fields, and (unless `typeMask` is 0) a field of the accessor's types.
std::optional<Access> access(NANOMessageRef message, int32_t index, const char* operation, Label label,
                             NANOFieldFlags typeMask, const char* typeText) {
  NANOMessageBase* object = message.get();
  NANOMessageInfo* info = object ? object->messageInfo() : nullptr;
  if (!info || info->fields.empty() || !info->type) {
    if (std::strcmp(operation, "HasField") == 0) {
      systemLog("ProtocolBuffer message hasn't been initialized. HasField operation can't be performed. Message name %s",
                object ? object->messageID() : "(null)");
    } else {
      systemLog("ProtocolBuffer message hasn't been initialized. %s can't be performed", operation);
    }
    return std::nullopt;
  }
  const NANOFieldType* field = info->type->field(index);
  if (!field || static_cast<size_t>(index) >= info->fields.size()) {
    systemLog("<Nano/Failure> Field index is out of range. Message: %s, field ID: %d", messageName(info), index);
    return std::nullopt;
  }
  NANOFieldFlags flags = info->flags[index];
  bool labelOK = label == Label::Any || (label == Label::Singular && !(flags & NANOFieldFlag::Repeated)) ||
                 (label == Label::Repeated && (flags & NANOFieldFlag::Repeated));
  if (!labelOK || (typeMask && !(flags & typeMask))) {
    systemLog("<Nano/Failure> Field type isn't %s. Message: %s, field ID: %d", typeText, messageName(info), index);
    return std::nullopt;
  }
  return Access{object, info, field, &info->fields[static_cast<size_t>(index)]};
}

// Saturating conversion of a double to int64 (NaN gives 0).
int64_t saturate(double value) {
  if (std::isnan(value)) return 0;
  if (value <= -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  if (value >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  return static_cast<int64_t>(value);
}

// The 64-bit integer pattern of a number, or nullopt for a non-number.
std::optional<uint64_t> integerBits(const NANOValue& value) {
  if (auto* v = std::get_if<bool>(&value)) return *v ? 1 : 0;
  if (auto* v = std::get_if<int32_t>(&value)) return static_cast<uint64_t>(static_cast<int64_t>(*v));
  if (auto* v = std::get_if<uint32_t>(&value)) return *v;
  if (auto* v = std::get_if<int64_t>(&value)) return static_cast<uint64_t>(*v);
  if (auto* v = std::get_if<uint64_t>(&value)) return *v;
  if (auto* v = std::get_if<float>(&value)) return static_cast<uint64_t>(saturate(*v));
  if (auto* v = std::get_if<double>(&value)) return static_cast<uint64_t>(saturate(*v));
  return std::nullopt;
}

std::optional<double> floatingValue(const NANOValue& value) {
  if (auto* v = std::get_if<float>(&value)) return *v;
  if (auto* v = std::get_if<double>(&value)) return *v;
  if (auto* v = std::get_if<uint64_t>(&value)) return static_cast<double>(*v);
  if (auto* v = std::get_if<uint32_t>(&value)) return static_cast<double>(*v);
  if (auto bits = integerBits(value)) return static_cast<double>(static_cast<int64_t>(*bits));
  return std::nullopt;
}

// The class name of a value, for diagnostics.
std::string kindName(const NANOValue& value) {
  switch (value.index()) {
    case 0: return "bool";
    case 1: return "int32_t";
    case 2: return "uint32_t";
    case 3: return "int64_t";
    case 4: return "uint64_t";
    case 5: return "float";
    case 6: return "double";
    case 7: return "std::string";
    case 8: return "NANOData";
    default: {
      auto& message = std::get<std::shared_ptr<NANOMessageBase>>(value);
      return message ? message->messageType().className : "(null)";
    }
  }
}

// A deep copy of `value`'s record in `arena` (null: the heap), made by the
// value's own init and copy functions: the copy goes where the record it
// replaces came from. Null when the copy fails.
NANOMessageInfo* copyInto(const NANOMessageBase& value, NANOArena* arena) {
  NANOMessageInfo* record = nullptr;
  if (arena) {
    record = NANOAllocateRecord(value.messageType(), arena);
    if (!value.initMessageInfoFn()(record)) return nullptr;
  }
  if (!value.copyMessageInfoFn()(&record, value.messageInfo())) {
    NANOFreeRecord(record);
    return nullptr;
  }
  return record;
}

// Converts one element for NANOSetArray into the empty item `item`, taking
// its pieces from `arena` (null: the heap); logs and fails on an element of
// the wrong kind.
bool objectToValue(const NANOValue& value, NANOFieldFlags flags, const NANOFieldType& field, NANOSlot* item,
                   NANOArena* arena) {
  using namespace NANOFieldFlag;
  auto refuse = [&](const char* kind) {
    systemLog("<ERROR> Invalid object type. %s fields expect NSNumber. Type: %s", kind, kindName(value).c_str());
    return false;
  };
  if (flags & Bool) {
    auto bits = integerBits(value);
    if (!bits) return refuse("Boolean");
    NANOSetBoolField(item, *bits != 0);
  } else if (flags & (Int32 | UInt32)) {
    auto bits = integerBits(value);
    if (!bits) return refuse("Int32");
    NANOSetUInt32Field(item, static_cast<uint32_t>(*bits));
  } else if (flags & Enum) {
    auto bits = integerBits(value);
    if (!bits) return refuse("Enum");
    NANOSetUInt32Field(item, static_cast<uint32_t>(*bits));
  } else if (flags & Class64) {
    auto bits = integerBits(value);
    if (!bits) return refuse("Int64");
    NANOSetUInt64Field(item, *bits);
  } else if (flags & Float) {
    auto number = floatingValue(value);
    if (!number) return refuse("Float");
    NANOSetFloatField(item, static_cast<float>(*number));
  } else if (flags & Double) {
    auto number = floatingValue(value);
    if (!number) return refuse("Double");
    NANOSetDoubleField(item, *number);
  } else if (flags & String) {
    if (!NANOStringToBytes(&value, item, arena)) {
      auto* text = std::get_if<std::string>(&value);
      systemLog("<ERROR> Invalid object type. String fields expect NSString. Type: %s",
                text ? "std::string (invalid UTF-8)" : kindName(value).c_str());
      return false;
    }
  } else if (flags & Bytes) {
    if (!NANODataToBytes(&value, item, arena)) {
      systemLog("<ERROR> Invalid object type. Bytes fields expect NSData. Type: %s", kindName(value).c_str());
      return false;
    }
  } else if (flags & Message) {
    auto* message = std::get_if<std::shared_ptr<NANOMessageBase>>(&value);
    if (!message || !*message || !(*message)->messageInfo()) {
      systemLog("<ERROR> Invalid object type. Message fields expect NANOMessageBase. Type: %s",
                kindName(value).c_str());
      return false;
    }
    if (&(*message)->messageType() != field.message) {
      systemLog("<ERROR> Invalid object type. Message fields expect %s. Type: %s",
                field.message ? field.message->className : "(null)", kindName(value).c_str());
      return false;
    }
    NANOMessageInfo* copy = copyInto(**message, arena);
    if (!copy) return false;
    item->putPointer(NANOSlotKind::Message, copy);
  } else {
    systemLog("<ERROR> Unable to convert ObjC object to byte data. Unknown type. %d", static_cast<int>(flags));
    return false;
  }
  return true;
}

// Converts one item for NANOGetArray; nullopt skips it.
std::optional<NANOValue> valueToObject(const NANOSlot& item, NANOFieldFlags flags, const NANOMessageType* elementClass) {
  using namespace NANOFieldFlag;
  if (item.empty()) {
    systemLog("<ERROR> Unable to convert NULL data to an ObjC object");
    return std::nullopt;
  }
  const uint64_t* cell = item.cell();
  if (flags & (Bool | Class32 | Class64 | Float | Double)) {
    if (!cell) return std::nullopt;
    if (flags & Bool) return NANOValue(static_cast<bool>(*cell & 0xFF));
    if (flags & (Int32 | Enum)) return NANOValue(static_cast<int32_t>(static_cast<uint32_t>(*cell)));
    if (flags & UInt32) return NANOValue(static_cast<uint32_t>(*cell));
    if (flags & Int64) return NANOValue(static_cast<int64_t>(*cell));
    if (flags & UInt64) return NANOValue(*cell);
    if (flags & Float) return NANOValue(std::bit_cast<float>(static_cast<uint32_t>(*cell)));
    return NANOValue(std::bit_cast<double>(*cell));
  }
  if (flags & (String | Bytes)) {
    const NANOBytes* bytes = item.bytes();
    if (!bytes) return std::nullopt;
    if (flags & Bytes) return NANOValue(NANOData(bytes->span().begin(), bytes->span().end()));
    std::string text(bytes->view());
    if (!platform::utf8::isValid(text)) return std::nullopt;
    return NANOValue(std::move(text));
  }
  if (flags & Message) {
    if (!elementClass) {
      systemLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s", "(null)");
      return std::nullopt;
    }
    auto object = NANOMessageBase::initWithMessageInfo(*elementClass, item.message());
    if (!object) return std::nullopt;
    return NANOValue(std::move(object));
  }
  systemLog("<ERROR> Unable to convert byte data to an ObjC object. Unknown type. %d", static_cast<int>(flags));
  return std::nullopt;
}

}  // namespace

bool NANOHasField(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "HasField", Label::Any, 0, "");
  if (!target) return false;
  if (target->info->flags[index] & NANOFieldFlag::Repeated) return true;
  return !target->slot->empty();
}

void NANOClearField(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "ClearField", Label::Any, 0, "");
  if (!target) return;
  target->object->deallocMessageFieldFn()(target->info, index);
}

bool NANOGetBool(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetBool", Label::Singular, NANOFieldFlag::Bool, "a scalar BOOL");
  if (!target) return false;
  const uint64_t* cell = target->slot->cell();
  return cell && (*cell & 0xFF) != 0;
}

void NANOSetBool(NANOMessageRef message, int32_t index, bool value) {
  auto target = access(message, index, "SetBool", Label::Singular, NANOFieldFlag::Bool, "a scalar BOOL");
  if (target) NANOSetUInt32Field(target->slot, value ? 1 : 0);
}

int32_t NANOGetInt32(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetInt32", Label::Singular, NANOFieldFlag::Class32, "a scalar INT32");
  if (!target) return 0;
  const uint64_t* cell = target->slot->cell();
  return cell ? static_cast<int32_t>(static_cast<uint32_t>(*cell)) : 0;
}

void NANOSetInt32(NANOMessageRef message, int32_t index, int32_t value) {
  auto target = access(message, index, "SetInt32", Label::Singular, NANOFieldFlag::Class32, "a scalar INT32");
  if (target) NANOSetUInt32Field(target->slot, static_cast<uint32_t>(value));
}

int64_t NANOGetInt64(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetInt64", Label::Singular, NANOFieldFlag::Class64, "a scalar INT64");
  if (!target) return 0;
  const uint64_t* cell = target->slot->cell();
  return cell ? static_cast<int64_t>(*cell) : 0;
}

void NANOSetInt64(NANOMessageRef message, int32_t index, int64_t value) {
  auto target = access(message, index, "SetInt64", Label::Singular, NANOFieldFlag::Class64, "a scalar INT64");
  if (target) NANOSetUInt64Field(target->slot, static_cast<uint64_t>(value));
}

double NANOGetDouble(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetDouble", Label::Singular, NANOFieldFlag::Double, "a scalar DOUBLE");
  if (!target) return 0.0;
  const uint64_t* cell = target->slot->cell();
  return cell ? std::bit_cast<double>(*cell) : 0.0;
}

void NANOSetDouble(NANOMessageRef message, int32_t index, double value) {
  auto target = access(message, index, "SetDouble", Label::Singular, NANOFieldFlag::Double, "a scalar DOUBLE");
  if (target) NANOSetDoubleField(target->slot, value);
}

std::optional<std::string> NANOGetString(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetString", Label::Singular, NANOFieldFlag::String, "a scalar STRING");
  if (!target) return std::nullopt;
  const NANOBytes* bytes = target->slot->bytes();
  if (!bytes) return std::nullopt;
  std::string text(bytes->view());
  if (!platform::utf8::isValid(text)) return std::nullopt;
  return text;
}

void NANOSetString(NANOMessageRef message, int32_t index, std::optional<std::string_view> value) {
  auto target = access(message, index, "SetString", Label::Singular, NANOFieldFlag::String, "a scalar STRING");
  if (!target) return;
  if (!value) {
    target->object->deallocMessageFieldFn()(target->info, index);
    return;
  }
  if (!platform::utf8::isValid(*value)) {
    systemLog("<ERROR> Invalid string value. String fields expect UTF-8 text. Message: %s, field ID: %d",
              messageName(target->info), index);
    return;
  }
  NANOStringToBytes(*value, target->slot, target->info->arena);
  target->slot->updatePresence();
}

std::optional<NANOData> NANOGetBytes(NANOMessageRef message, int32_t index) {
  auto target = access(message, index, "GetBytes", Label::Singular, NANOFieldFlag::Bytes, "a scalar BYTES");
  if (!target) return std::nullopt;
  const NANOBytes* bytes = target->slot->bytes();
  if (!bytes) return std::nullopt;
  return NANOData(bytes->span().begin(), bytes->span().end());
}

void NANOSetBytes(NANOMessageRef message, int32_t index, std::optional<std::span<const uint8_t>> value) {
  auto target = access(message, index, "SetBytes", Label::Singular, NANOFieldFlag::Bytes, "a scalar BYTES");
  if (!target) return;
  if (!value) {
    target->object->deallocMessageFieldFn()(target->info, index);
    return;
  }
  NANODataToBytes(*value, target->slot, target->info->arena);
  target->slot->updatePresence();
}

std::shared_ptr<NANOMessageBase> NANOGetMessage(NANOMessageRef message, int32_t index,
                                                const NANOMessageType* messageClass) {
  auto target = access(message, index, "GetMessage", Label::Singular, NANOFieldFlag::Message, "a scalar MESSAGE");
  if (!target) return nullptr;
  const NANOMessageInfo* record = target->slot->message();
  if (!record) return nullptr;
  if (!messageClass) {
    systemLog("<ERROR> Provided class doesn't implement initWithMessageInfo: method. Class: %s", "(null)");
    return nullptr;
  }
  return NANOMessageBase::initWithMessageInfo(*messageClass, record);
}

void NANOSetMessage(NANOMessageRef message, int32_t index, NANOMessageRef value) {
  auto target = access(message, index, "SetMessage", Label::Singular, NANOFieldFlag::Message, "a scalar MESSAGE");
  if (!target) return;
  NANOMessageBase* object = value.get();
  if (!object) {
    target->object->deallocMessageFieldFn()(target->info, index);
    return;
  }
  const NANOMessageType* expected = target->field->message;
  if (&object->messageType() != expected || !object->messageInfo()) {
    systemLog("<Nano/Failure> Message class doesn't match the field. Message: %s, field ID: %d, class: %s",
              messageName(target->info), index, object->messageType().className);
    return;
  }
  // Copy first, then replace: the old value stays when the copy fails, and a
  // value that shares memory with the old one is copied before it is freed.
  NANOMessageInfo* copy = copyInto(*object, target->info->arena);
  if (!copy) return;
  target->slot->setMessage(copy);
}

std::optional<std::vector<NANOValue>> NANOGetArray(NANOMessageRef message, int32_t index,
                                                   const NANOMessageType* elementClass) {
  auto target = access(message, index, "GetArray", Label::Repeated, 0, "REPEATED");
  if (!target) return std::nullopt;
  const NANOArray* header = target->slot->array();
  if (!header) {
    systemLog("<ERROR> Repeated field should have been allocated");
    return std::nullopt;
  }
  std::vector<NANOValue> result;
  NANOFieldFlags flags = target->info->flags[index];
  std::span<NANOSlot> items = header->itemSpan();
  result.reserve(items.size());
  for (const NANOSlot& item : items) {
    if (auto value = valueToObject(item, flags, elementClass)) result.push_back(std::move(*value));
  }
  return result;
}

void NANOSetArray(NANOMessageRef message, int32_t index, const std::optional<std::vector<NANOValue>>& values) {
  auto target = access(message, index, "SetArray", Label::Repeated, 0, "REPEATED");
  if (!target) return;
  NANOArray* header = target->slot->array();
  if (!header) {
    systemLog("<ERROR> Repeated field should have been allocated");
    return;
  }
  NANODeallocMessageFieldFn dealloc = target->object->deallocMessageFieldFn();
  if (!values || values->empty() || values->size() > std::numeric_limits<uint32_t>::max()) {
    dealloc(target->info, index);
    return;
  }
  // The new items are built in full, in a list of their own, before they
  // replace the old ones.
  NANOArena* arena = target->info->arena;
  NANOArray built;
  built.arena = arena;
  built.count = built.capacity = static_cast<uint32_t>(values->size());
  built.items = NANONewItems(built.count, arena);
  NANOFieldFlags flags = target->info->flags[index];
  for (size_t i = 0; i < values->size(); ++i) {
    if (!objectToValue((*values)[i], flags, *target->field, &built.items[i], arena)) {
      NANOEmptyArray(&built);
      dealloc(target->info, index);
      return;
    }
  }
  NANOEmptyArray(header);
  header->items = built.items;
  header->count = built.count;
  header->capacity = built.capacity;
  header->filled = 0;
  header->allocated = true;
}

void NANOSetBoolField(NANOSlot* slot, bool value) {
  if (!slot) {
    print("<ERROR> Unable to set bool. Destination pointer is NULL");
    return;
  }
  slot->setCell(value ? 1u : 0u);
}

void NANOSetUInt32Field(NANOSlot* slot, uint32_t value) {
  if (!slot) {
    print("<ERROR> Unable to set uint32. Destination pointer is NULL");
    return;
  }
  slot->setCell(value);
}

void NANOSetUInt64Field(NANOSlot* slot, uint64_t value) {
  if (!slot) {
    print("<ERROR> Unable to set uint64. Destination pointer is NULL");
    return;
  }
  slot->setCell(value);
}

void NANOSetFloatField(NANOSlot* slot, float value) {
  if (!slot) {
    print("<ERROR> Unable to set float. Destination pointer is NULL");
    return;
  }
  slot->setCell(std::bit_cast<uint32_t>(value));
}

void NANOSetDoubleField(NANOSlot* slot, double value) {
  if (!slot) {
    print("<ERROR> Unable to set double. Destination pointer is NULL");
    return;
  }
  slot->setCell(std::bit_cast<uint64_t>(value));
}

void NANOSetStringField(NANOSlot* slot, const uint8_t* bytes, size_t length) {
  if (!slot) {
    print("<ERROR> Unable to set string. Destination array is NULL");
    return;
  }
  slot->setBytes(bytes, length);
}

void NANOSetBytesField(NANOSlot* slot, const uint8_t* bytes, size_t length) { NANOSetStringField(slot, bytes, length); }

void NANOInitArray(NANOArray* header) {
  if (!header) {
    print("<ERROR> Unable to initialize the array. Array pointer is NULL");
    return;
  }
  NANOEmptyArray(header);
}

void NANODeallocString(NANOBytes* value) {
  if (!value) {
    print("<ERROR> Unable to dealloc string field. String struct is NULL");
    return;
  }
  value->release();
}

bool NANOStringToBytes(const NANOValue* object, NANOBytes* bytes, NANOArena* arena) {
  if (!object) return true;
  const auto* text = std::get_if<std::string>(object);
  return text && bytes && NANOStringToBytes(std::string_view(*text), bytes, arena);
}

bool NANOStringToBytes(std::string_view text, NANOBytes* bytes, NANOArena* arena) {
  if (!bytes || !platform::utf8::isValid(text)) return false;
  bytes->assign(reinterpret_cast<const uint8_t*>(text.data()), text.size(), arena);
  return true;
}

bool NANODataToBytes(const NANOValue* object, NANOBytes* bytes, NANOArena* arena) {
  if (!object) return true;
  const auto* data = std::get_if<NANOData>(object);
  return data && bytes && NANODataToBytes(std::span<const uint8_t>(*data), bytes, arena);
}

bool NANODataToBytes(std::span<const uint8_t> data, NANOBytes* bytes, NANOArena* arena) {
  if (!bytes) return false;
  bytes->assign(data.data(), data.size(), arena);
  return true;
}

namespace {
// Reads one string or bytes value of `stream` into the empty `slot`, from `arena`.
bool readBytes(pb_istream_t* stream, NANOSlot* slot, NANOArena* arena) {
  size_t length = stream->bytes_left;
  if (length > NANOMaxDecodedBytes) {
    print("Unable to process proto stream. Buffer is too big. %zu > %d", length, static_cast<int>(NANOMaxDecodedBytes));
    return false;
  }
  std::vector<uint8_t> value(length);
  if (!pb_read(stream, value.data(), length)) return false;
  slot->setBytes(value.data(), length, arena);
  return true;
}

// The next item of a header in its filling pass, or null (logged) when the
// second pass meets more items than the first one counted.
NANOSlot* nextItem(NANOArray* header) {
  if (header->filled >= header->count || header->filled >= header->capacity) {
    print("<ERROR> Repeated field decoder failed: more items than the %u counted", header->count);
    return nullptr;
  }
  return &header->items[header->filled++];
}

bool countItem(NANOArray* header) {
  if (header->count == std::numeric_limits<uint32_t>::max()) {
    print("<ERROR> Repeated field decoder failed: too many items");
    return false;
  }
  ++header->count;
  return true;
}
}  // namespace

bool NANODecodeString(pb_istream_t* stream, const pb_field_t*, void** arg) {
  if (!arg || !*arg) return false;
  auto* slot = static_cast<NANOSlot*>(*arg);
  if (slot->empty()) return readBytes(stream, slot, nullptr);
  if (slot->bytes()) {
    // A field that occurs again keeps its first value.
    return pb_read(stream, nullptr, stream->bytes_left);
  }
  print("<ERROR> String decoder failed: string data is NULL");
  return false;
}

bool NANODecodeRepeatedString(pb_istream_t* stream, const pb_field_t*, void** arg) {
  if (!arg || !*arg) return false;
  auto* header = static_cast<NANOArray*>(*arg);
  if (!header->allocated) {
    if (!pb_read(stream, nullptr, stream->bytes_left)) return false;
    return countItem(header);
  }
  NANOSlot* item = nextItem(header);
  return item && readBytes(stream, item, header->arena);
}

bool NANODecodeRepeatedVarint(pb_istream_t* stream, const pb_field_t*, void** arg) {
  if (!arg || !*arg) return false;
  auto* header = static_cast<NANOArray*>(*arg);
  uint64_t value = 0;
  if (!pb_decode_varint(stream, &value)) return false;
  if (!header->allocated) return countItem(header);
  NANOSlot* item = nextItem(header);
  if (!item) return false;
  NANOSetUInt64Field(item, value);
  return true;
}

bool NANOEncodeString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (!arg || !*arg) return false;
  const auto* value = static_cast<const NANOBytes*>(*arg);
  if (!value->held()) return false;
  return pb_encode_tag_for_field(stream, field) && pb_encode_string(stream, value->data(), value->size());
}

bool NANOEncodeRepeatedString(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (!arg || !*arg) return false;
  const auto* header = static_cast<const NANOArray*>(*arg);
  if (header->count > header->capacity || (header->count && !header->items)) return false;
  for (const NANOSlot& item : header->itemSpan()) {
    void* itemArg = const_cast<NANOSlot*>(&item);
    if (!NANOEncodeString(stream, field, &itemArg)) return false;
  }
  return true;
}

bool NANOEncodeRepeatedVarint(pb_ostream_t* stream, const pb_field_t* field, void* const* arg) {
  if (!arg || !*arg) return false;
  const auto* header = static_cast<const NANOArray*>(*arg);
  if (header->count > header->capacity || (header->count && !header->items)) return false;
  for (const NANOSlot& item : header->itemSpan()) {
    const uint64_t* cell = item.cell();
    if (!cell) return false;
    if (!pb_encode_tag_for_field(stream, field) || !pb_encode_varint(stream, *cell)) return false;
  }
  return true;
}

int32_t NANOEncodeToBuffer(const pb_msgdesc_t* descriptor, const void* pbStruct, std::vector<uint8_t>* output) {
  if (!output) return -1;
  output->clear();
  if (!descriptor || !pbStruct) return -1;
  pb_ostream_t sizing = PB_OSTREAM_SIZING;
  pb_encode(&sizing, descriptor, pbStruct);
  if (sizing.bytes_written > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return -1;
  output->assign(sizing.bytes_written, 0);
  pb_ostream_t stream = pb_ostream_from_buffer(output->data(), output->size());
  if (!pb_encode(&stream, descriptor, pbStruct)) {
    output->clear();
    return -1;
  }
  output->resize(stream.bytes_written);
  return static_cast<int32_t>(stream.bytes_written);
}
