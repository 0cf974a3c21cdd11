// NANOTyped — what the typed accessors of the generated message classes stand
// on.
//
// Every generated class has, for each field `foo_bar`, accessors whose C++
// types are the field's own:
//
//   singular scalar   T fooBar() const; void setFooBar(V); bool hasFooBar() const; void clearFooBar();
//   singular string   std::optional<std::string> fooBar() const; void setFooBar(std::string_view); has, clear
//   singular bytes    std::optional<NANOData> fooBar() const; void setFooBar(std::span<const uint8_t>); has, clear
//   singular message  std::shared_ptr<Sub> fooBar() const; void setFooBar(const Sub&); has, clear
//   list              std::vector<Item> fooBar() const; void setFooBar(std::span<const Item>);
//                     uint32_t fooBarCount() const; void clearFooBar();
//
// where T is bool, int32_t (int32 and enum fields), uint32_t, int64_t,
// uint64_t, float or double, and Item is T, std::string, NANOData or
// std::shared_ptr<Sub>. A scalar setter takes a value of the field's type, or
// of an integer type whose every value that type holds (int for an int64
// field, not int64_t for an int32 field; bool and characters only where the
// field is bool); anything else, a field of another message included, does
// not compile. The accessors run the NANO.h accessors of the field's index,
// with their copies, logs and refusals.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "analytics/wire/NANO.h"

// An integer argument that every value of which fits `Field`, an integer type.
template <class V, class Field>
concept NANOIntegerFits =
    std::integral<V> && !std::same_as<V, bool> && !std::same_as<V, char> && !std::same_as<V, wchar_t> &&
    !std::same_as<V, char8_t> && !std::same_as<V, char16_t> && !std::same_as<V, char32_t> &&
    (std::is_signed_v<V> == std::is_signed_v<Field> ? sizeof(V) <= sizeof(Field)
                                                    : std::is_unsigned_v<V> && sizeof(V) < sizeof(Field));

// What a setter of a field of C++ type `Field` accepts.
template <class V, class Field>
concept NANOArgumentFor =
    std::same_as<V, Field> ||
    (std::same_as<Field, double> && std::same_as<V, float>) ||
    (std::integral<Field> && !std::same_as<Field, bool> && NANOIntegerFits<V, Field>);

namespace nano_typed {

// The runtime's accessors take a mutable message; the typed getters only read.
inline NANOMessageRef self(const NANOMessageBase* message) { return NANOMessageRef(const_cast<NANOMessageBase*>(message)); }

// The number of items of a list (0 when the message or the list is damaged).
uint32_t listCount(const NANOMessageBase* message, int32_t index);

// Float fields have no NANO.h accessor; these read and write their cells.
float getFloat(NANOMessageRef message, int32_t index);
void setFloat(NANOMessageRef message, int32_t index, float value);

template <class T>
std::vector<T> getList(const NANOMessageBase* message, int32_t index) {
  std::vector<T> result;
  std::optional<std::vector<NANOValue>> values = NANOGetArray(self(message), index);
  if (!values) return result;
  result.reserve(values->size());
  for (NANOValue& value : *values) {
    if (T* item = std::get_if<T>(&value)) result.push_back(std::move(*item));
  }
  return result;
}

template <class Range>
void setList(NANOMessageBase* message, int32_t index, const Range& values) {
  std::vector<NANOValue> items;
  items.reserve(values.size());
  for (const auto& value : values) items.emplace_back(value);
  NANOSetArray(message, index, items);
}

template <class M>
void setMessageList(NANOMessageBase* message, int32_t index, std::span<const std::shared_ptr<M>> values) {
  std::vector<NANOValue> items;
  items.reserve(values.size());
  for (const std::shared_ptr<M>& value : values) items.emplace_back(std::shared_ptr<NANOMessageBase>(value));
  NANOSetArray(message, index, items);
}

}  // namespace nano_typed
