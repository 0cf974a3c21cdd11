#include "platform/text/Utf8Object.h"

#include "platform/text/Utf8.h"

namespace platform::utf8 {

Object objectReplacingInvalid(const Object& object) {
  if (const std::string* text = object.stringValue()) {
    return isValid(*text) ? object : Object(replacingInvalid(*text));
  }
  if (const Array* array = object.arrayValue()) {
    Array cleaned;
    cleaned.reserve(array->size());
    for (const Object& element : *array) cleaned.push_back(objectReplacingInvalid(element));
    return Object(std::move(cleaned));
  }
  if (const Dictionary* dictionary = object.dictionaryValue()) return Object(dictionaryReplacingInvalid(*dictionary));
  return object;
}

Dictionary dictionaryReplacingInvalid(const Dictionary& dictionary) {
  Dictionary cleaned;
  for (const auto& [key, value] : dictionary) {
    cleaned.emplace(isValid(key) ? key : replacingInvalid(key), objectReplacingInvalid(value));
  }
  return cleaned;
}

bool isValidObject(const Object& object) {
  if (const std::string* text = object.stringValue()) return isValid(*text);
  if (const Array* array = object.arrayValue()) {
    for (const Object& element : *array) {
      if (!isValidObject(element)) return false;
    }
    return true;
  }
  if (const Dictionary* dictionary = object.dictionaryValue()) {
    for (const auto& [key, value] : *dictionary) {
      if (!isValid(key) || !isValidObject(value)) return false;
    }
  }
  return true;
}

}  // namespace platform::utf8
