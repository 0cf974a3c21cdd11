#include "analytics/wire/GWLPBFlagFunctions.h"

#include <string>

#include "analytics/wire/GWLPBFlagLogSink.h"
#include "analytics/wire/NANO.h"
#include "platform/text/Utf8.h"

namespace {

using F = GWLPBFlag::Field;

// The kind of a refused argument, as the report's context.
std::optional<std::string> kindOf(const platform::Object& object) {
  if (object.isNull()) return std::nullopt;
  if (const std::string* text = object.stringValue(); text && !platform::utf8::isValid(*text)) {
    return std::string("string (invalid UTF-8)");
  }
  return std::string(platform::typeName(object.type()));
}

bool isUTF8Text(const platform::Object& object) {
  const std::string* text = object.stringValue();
  return text && platform::utf8::isValid(*text);
}

}  // namespace

platform::Object GWLPBFlagGetValue(const GWLPBFlag* flag) {
  if (!flag) return {};
  // The getters only read; the accessors take a mutable reference for both.
  NANOMessageRef ref(const_cast<GWLPBFlag*>(flag));
  if (NANOHasField(ref, F::int_value)) return NANOGetInt64(ref, F::int_value);
  if (NANOHasField(ref, F::double_value)) return NANOGetDouble(ref, F::double_value);
  if (NANOHasField(ref, F::string_value)) {
    std::optional<std::string> text = NANOGetString(ref, F::string_value);
    if (!text) return {};
    return std::move(*text);
  }
  if (NANOHasField(ref, F::bool_value)) return NANOGetBool(ref, F::bool_value);
  return {};
}

std::shared_ptr<GWLPBFlag> GWLPBFlagCreate(const platform::Object& name, const platform::Object& value) {
  std::shared_ptr<GWLPBFlagLogSink> sink = GWLPBFlagLogSink::current();
  if (name.isNull()) {
    sink->logWithLevel(1, kGWLPBFlagNameNilCode, kGWLPBFlagNameNilMessage);
    return nullptr;
  }
  if (!isUTF8Text(name)) {
    sink->logWithLevel(1, kGWLPBFlagNameNotStringCode, kGWLPBFlagNameNotStringMessage, kindOf(name));
    return nullptr;
  }
  bool number = value.isInt() || value.isDouble() || value.isBool();
  if (!number && !isUTF8Text(value)) {
    sink->logWithLevel(1, kGWLPBFlagValueInvalidCode, kGWLPBFlagValueInvalidMessage, kindOf(value));
    return nullptr;
  }
  auto flag = GWLPBFlag::initWithBuffer();
  if (!flag) return nullptr;
  NANOSetString(flag, F::name, *name.stringValue());
  if (const std::string* text = value.stringValue()) {
    NANOSetString(flag, F::string_value, *text);
  } else if (std::optional<double> floating = value.doubleValue()) {
    NANOSetDouble(flag, F::double_value, *floating);
  } else if (std::optional<bool> boolean = value.boolValue()) {
    NANOSetInt64(flag, F::int_value, *boolean ? 1 : 0);
  } else {
    NANOSetInt64(flag, F::int_value, *value.intValue());
  }
  return flag;
}
