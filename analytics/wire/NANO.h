// NANO — the nano message runtime: field access by index, the store
// functions and nanopb callbacks of the codec, and the exact-size encoder.
//
// Field accessors. Each takes a message object (a missing one counts as a
// message that hasn't been initialised) and a field index in declaration
// order. Every accessor checks the index against the message's fields and the
// field's flags word against the accessor's types; a mismatch logs a line and
// answers 0, false, nullopt or nothing, changing nothing. Getters return deep
// copies; setters store deep copies. Absent and zero are distinct:
//
//   NANOSetInt64(bundle, GWLPBMeasurementBundle::Field::end_timestamp, 0);
//   NANOHasField(bundle, GWLPBMeasurementBundle::Field::end_timestamp);   // true
//   NANOClearField(bundle, GWLPBMeasurementBundle::Field::end_timestamp); // absent again, reads 0
//
// Types accepted:
//   NANOGetBool / NANOSetBool          singular bool
//   NANOGetInt32 / NANOSetInt32        singular enum, int32, uint32 (the 32-bit pattern is kept: -1 reads -1)
//   NANOGetInt64 / NANOSetInt64        singular int64, uint64
//   NANOGetDouble / NANOSetDouble      singular double
//   NANOGetString / NANOSetString      singular string (UTF-8; nullopt clears; invalid UTF-8 is refused)
//   NANOGetBytes / NANOSetBytes        singular bytes (nullopt clears)
//   NANOGetMessage / NANOSetMessage    singular message of the field's own message class (nullptr clears)
//   NANOGetArray / NANOSetArray        repeated fields (a repeated field is always present)
// Float fields have no accessor: they are only decoded, copied and encoded.
//
// A repeated field is read and written as a list of NANOValue: numbers for
// integer lists (uint64 lists give uint64_t values), std::string for strings,
// NANOData for bytes, and message objects of the element class for message
// lists. NANOSetArray refuses an element of the wrong kind: it logs, and the
// field is left empty. Strings and data reach a record through
// NANOStringToBytes and NANODataToBytes; a message reaches the functions of
// its own message (clearing a field, copying a value in) through its
// initMessageInfoFn, deallocMessageFieldFn and copyMessageInfoFn.
//
// The generated classes also have typed accessors per field (NANOTyped.h),
// which run these functions with the field's index and type fixed at compile
// time.
//
// The runtime and the codec log through platform::log (subsystem "NANO") with
// the texts given next to each function; nothing throws or stops the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "analytics/wire/NANOMessageBase.h"
#include "analytics/wire/NANOMessageInfo.h"
#include "analytics/wire/NANOMessageType.h"

struct pb_istream_s;
struct pb_ostream_s;
struct pb_field_iter_s;
struct pb_msgdesc_s;

// A data value (the contents of a bytes field or item).
using NANOData = std::vector<uint8_t>;

// One item of a repeated field as the accessors hand it over.
using NANOValue = std::variant<bool, int32_t, uint32_t, int64_t, uint64_t, float, double, std::string, NANOData,
                               std::shared_ptr<NANOMessageBase>>;

// Any form in which a caller holds a message object; may be null.
class NANOMessageRef {
 public:
  NANOMessageRef(std::nullptr_t) {}
  NANOMessageRef(NANOMessageBase* message) : message_(message) {}
  NANOMessageRef(NANOMessageBase& message) : message_(&message) {}
  template <class M, std::enable_if_t<std::is_base_of_v<NANOMessageBase, M>, int> = 0>
  NANOMessageRef(const std::shared_ptr<M>& message) : message_(message.get()) {}
  NANOMessageBase* get() const { return message_; }

 private:
  NANOMessageBase* message_ = nullptr;
};

bool NANOHasField(NANOMessageRef message, int32_t index);
void NANOClearField(NANOMessageRef message, int32_t index);

bool NANOGetBool(NANOMessageRef message, int32_t index);
void NANOSetBool(NANOMessageRef message, int32_t index, bool value);
int32_t NANOGetInt32(NANOMessageRef message, int32_t index);
void NANOSetInt32(NANOMessageRef message, int32_t index, int32_t value);
int64_t NANOGetInt64(NANOMessageRef message, int32_t index);
void NANOSetInt64(NANOMessageRef message, int32_t index, int64_t value);
double NANOGetDouble(NANOMessageRef message, int32_t index);
void NANOSetDouble(NANOMessageRef message, int32_t index, double value);

std::optional<std::string> NANOGetString(NANOMessageRef message, int32_t index);
void NANOSetString(NANOMessageRef message, int32_t index, std::optional<std::string_view> value);
std::optional<NANOData> NANOGetBytes(NANOMessageRef message, int32_t index);
void NANOSetBytes(NANOMessageRef message, int32_t index, std::optional<std::span<const uint8_t>> value);

// A deep copy of the sub-message, or null when it is absent or `messageClass`
// is not the field's message class.
std::shared_ptr<NANOMessageBase> NANOGetMessage(NANOMessageRef message, int32_t index,
                                                const NANOMessageType* messageClass);
template <class M>
std::shared_ptr<M> NANOGetMessage(NANOMessageRef message, int32_t index) {
  return std::static_pointer_cast<M>(NANOGetMessage(message, index, &M::type()));
}
// Stores a deep copy of `value` (null: the field becomes absent). A value of
// another message class than the field's is refused with a log and the field
// keeps its value. The old value is replaced only once the copy is made.
void NANOSetMessage(NANOMessageRef message, int32_t index, NANOMessageRef value);

// The items of a repeated field, in order (an empty list when it has none);
// nullopt on failure. `elementClass` is used for message lists only.
std::optional<std::vector<NANOValue>> NANOGetArray(NANOMessageRef message, int32_t index,
                                                   const NANOMessageType* elementClass = nullptr);
template <class M>
std::optional<std::vector<std::shared_ptr<M>>> NANOGetMessageArray(NANOMessageRef message, int32_t index) {
  auto values = NANOGetArray(message, index, &M::type());
  if (!values) return std::nullopt;
  std::vector<std::shared_ptr<M>> result;
  result.reserve(values->size());
  for (auto& value : *values) {
    if (auto* item = std::get_if<std::shared_ptr<NANOMessageBase>>(&value)) {
      result.push_back(std::static_pointer_cast<M>(*item));
    }
  }
  return result;
}
// Replaces the items of a repeated field with copies of `values` (nullopt or
// empty: no items). Built in full before it replaces the old items; on the
// first element of the wrong kind it logs and leaves the field empty.
void NANOSetArray(NANOMessageRef message, int32_t index, const std::optional<std::vector<NANOValue>>& values);

// Fills `bytes` from a string object: none (a null object) succeeds and
// stores nothing; a string (std::string of well-formed UTF-8) succeeds after
// storing exactly its UTF-8 bytes; any other object fails and stores nothing.
// The bytes go inside when short, else into `arena` (null: the heap).
bool NANOStringToBytes(const NANOValue* object, NANOBytes* bytes, NANOArena* arena = nullptr);
bool NANOStringToBytes(std::string_view text, NANOBytes* bytes, NANOArena* arena = nullptr);
// Fills `bytes` from a data object (NANOData): none succeeds and stores
// nothing; data succeeds after storing a copy of its bytes; any other object fails.
bool NANODataToBytes(const NANOValue* object, NANOBytes* bytes, NANOArena* arena = nullptr);
bool NANODataToBytes(std::span<const uint8_t> data, NANOBytes* bytes, NANOArena* arena = nullptr);

// Store functions of the codec. Each takes the address of a slot or item; a
// null address prints its text and stores nothing. A record's slot takes its
// bytes from the record's allocator; a list item from the heap.
void NANOSetBoolField(NANOSlot* slot, bool value);
void NANOSetUInt32Field(NANOSlot* slot, uint32_t value);  // enum, int32, uint32 and bool values
void NANOSetUInt64Field(NANOSlot* slot, uint64_t value);  // int64 and uint64
void NANOSetFloatField(NANOSlot* slot, float value);
void NANOSetDoubleField(NANOSlot* slot, double value);
void NANOSetStringField(NANOSlot* slot, const uint8_t* bytes, size_t length);
void NANOSetBytesField(NANOSlot* slot, const uint8_t* bytes, size_t length);
// Empties a repeated field's header (its items are freed with it).
void NANOInitArray(NANOArray* header);
// Frees the bytes of a value and leaves it holding none.
void NANODeallocString(NANOBytes* value);

// nanopb callbacks. The argument of NANODecodeString is a NANOSlot, that of
// NANOEncodeString a NANOBytes, that of the repeated ones the field's NANOArray.
bool NANODecodeString(pb_istream_s* stream, const pb_field_iter_s* field, void** arg);
bool NANODecodeRepeatedString(pb_istream_s* stream, const pb_field_iter_s* field, void** arg);
bool NANODecodeRepeatedVarint(pb_istream_s* stream, const pb_field_iter_s* field, void** arg);
bool NANOEncodeString(pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg);
bool NANOEncodeRepeatedString(pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg);
bool NANOEncodeRepeatedVarint(pb_ostream_s* stream, const pb_field_iter_s* field, void* const* arg);

// The largest string or bytes value accepted when decoding.
inline constexpr size_t NANOMaxDecodedBytes = 1048576;

// Encodes a filled nanopb struct into `output`, sized exactly; gives the
// number of bytes written, or -1 (and an empty `output`).
int32_t NANOEncodeToBuffer(const pb_msgdesc_s* descriptor, const void* pbStruct, std::vector<uint8_t>* output);

