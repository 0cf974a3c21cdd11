#include "analytics/foundation/values/GWLDataTypeValidator.h"

#include <unicode/uchar.h>

#include <string>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "platform/text/Utf8.h"

namespace {

constexpr int64_t kInvalidStringCode = 13000;
constexpr int64_t kMissingStringCode = 13001;
constexpr int64_t kInvalidNameCharacterCode = 13002;
constexpr int64_t kNameMustStartWithLetterCode = 13003;
constexpr int64_t kNilValueCode = 13004;
constexpr int64_t kReservedEventNameCode = 13006;
constexpr int64_t kReservedEventPrefixCode = 13007;
constexpr int64_t kReservedParameterPrefixCode = 13008;
constexpr int64_t kReservedUserPropertyNameCode = 13009;
constexpr int64_t kReservedUserPropertyPrefixCode = 13010;
constexpr int64_t kNotNumericCode = 13011;
constexpr int64_t kNotCurrencyCode = 13012;
constexpr int64_t kInvalidArrayParameterCode = 13013;
constexpr int64_t kInvalidArrayItemCode = 13014;

constexpr const char* kNilSuffix = " is required and can't be nil";
constexpr const char* kNotStringSuffix = " must be of type NSString";
constexpr const char* kEmptySuffix = " is required and can't be empty";
constexpr const char* kTooLongSuffix = " is too long. The maximum supported length is %d";
constexpr const char* kTooShortSuffix = " is too short. The minimum supported length is %d";
constexpr const char* kNameCharactersSuffix = " must contain only letters, numbers, or underscores";
constexpr const char* kStartWithLetterSuffix = " must start with a letter";
constexpr const char* kValueNilSuffix = " cannot be nil";
constexpr const char* kNotNumericSuffix = " must be specified with a numeric type. value";
constexpr const char* kNotCurrencySuffix = " must contain a %d-letter ISO_4217 currency code. value";
constexpr const char* kArrayNameSuffix =
    " is an invalid ecommerce items. The name of array parameters for ecommerce should be \"%@\". Invalid parameter "
    "name";
constexpr const char* kReservedEventNameMessage = "Event name is reserved. Ignoring event";
constexpr const char* kReservedEventPrefixMessage = "Event name uses reserved prefix. Ignoring event";
constexpr const char* kReservedParameterPrefixMessage = "Parameter name uses reserved prefix. Ignoring parameter";
constexpr const char* kReservedUserPropertyNameMessage = "User property name is reserved. Ignoring user property";
constexpr const char* kReservedUserPropertyPrefixMessage =
    "User property name uses reserved prefix. Ignoring user property";
constexpr const char* kNestedArrayMessage = "Nested array parameters are not allowed. Name";
constexpr const char* kArrayOnNonEcommerceMessage =
    "Only ecommerce events are allowed to contain array parameters. Invalid ecommerce name";
constexpr const char* kTooManyItemsMessage =
    "Array parameter has too many items. The maximum number of supported items is %d. Invalid array size";
constexpr const char* kArrayItemMessage = "Array param must be a dictionary. Parameters";

constexpr std::string_view kItemsParameterName = "items";
constexpr int32_t kCurrencyCodeLength = 3;

using FailureCode = GWLValidatorFailureCode;

void setFailure(FailureCode* failureCode, FailureCode value) {
  if (failureCode) *failureCode = value;
}

// The subject text followed by the suffix, with "%d" and "%@" filled.
std::string compose(int32_t subject, std::string_view suffix, std::optional<int64_t> number = std::nullopt,
                    std::string_view text = {}) {
  std::string message = std::string(GWLValidationSubjectText(subject)) + std::string(suffix);
  if (number) {
    if (auto at = message.find("%d"); at != std::string::npos) message.replace(at, 2, std::to_string(*number));
  }
  if (auto at = message.find("%@"); at != std::string::npos) message.replace(at, 2, text);
  return message;
}

std::string fill(std::string message, int64_t number) {
  if (auto at = message.find("%d"); at != std::string::npos) message.replace(at, 2, std::to_string(number));
  return message;
}

void report(int64_t level, int64_t code, const std::string& message) {
  GWLLibraryMonitor::monitor()->logWithLevel(level, code, message);
}

void report(int64_t level, int64_t code, const std::string& message, const GWLLogContext& context) {
  GWLLibraryMonitor::monitor()->logWithLevel(level, code, message, context);
}

bool isValueSubject(int32_t subject) {
  return subject == kGWLValidationSubjectEventParameterValue || subject == kGWLValidationSubjectUserPropertyValue;
}

int64_t levelForSubject(int32_t subject) { return isValueSubject(subject) ? kGWLLevelWarning : kGWLLevelError; }

bool hasOnlyNameCharacters(std::string_view name) {
  for (size_t offset = 0; offset < name.size();) {
    auto decoded = platform::utf8::decode(name, offset);
    if (!decoded.valid || !GWLDataTypeValidator::isNameCharacter(decoded.codePoint)) return false;
    offset += decoded.length;
  }
  return true;
}

// The nil check of every value rule.
bool validateValueObject(const GWLValue* value, int32_t subject, FailureCode* failureCode) {
  if (!value) {
    setFailure(failureCode, kGWLValidatorFailureMissing);
    report(kGWLLevelWarning, kNilValueCode, compose(subject, kValueNilSuffix));
    return false;
  }
  return true;
}

}  // namespace

const char* GWLValidationSubjectText(int32_t subject) {
  switch (subject) {
    case kGWLValidationSubjectEventName:
      return "Event name";
    case kGWLValidationSubjectEventOrigin:
      return "Event origin";
    case kGWLValidationSubjectEventParameterName:
      return "Event parameter name";
    case kGWLValidationSubjectEventParameterValue:
      return "Event parameter value";
    case kGWLValidationSubjectUserPropertyName:
      return "User property name";
    case kGWLValidationSubjectUserPropertyValue:
      return "User property value";
    case kGWLValidationSubjectScreenParameterValue:
      return "Screen parameter value";
    case kGWLValidationSubjectConditionalUserPropertyOrigin:
      return "Conditional user property origin";
    case kGWLValidationSubjectConditionalUserPropertyName:
      return "Conditional user property name";
    case kGWLValidationSubjectConditionalUserPropertyValue:
      return "Conditional user property value";
    default:
      return "Object";
  }
}

bool GWLDataTypeValidator::isLetter(char32_t codePoint) {
  if (codePoint < 0x80) return (codePoint >= 'a' && codePoint <= 'z') || (codePoint >= 'A' && codePoint <= 'Z');
  return (U_GET_GC_MASK(static_cast<UChar32>(codePoint)) & U_GC_L_MASK) != 0;
}

bool GWLDataTypeValidator::isNameCharacter(char32_t codePoint) {
  if (codePoint < 0x80) {
    return (codePoint >= 'a' && codePoint <= 'z') || (codePoint >= 'A' && codePoint <= 'Z') ||
           (codePoint >= '0' && codePoint <= '9') || codePoint == '_';
  }
  return (U_GET_GC_MASK(static_cast<UChar32>(codePoint)) & (U_GC_L_MASK | U_GC_ND_MASK)) != 0;
}

bool GWLDataTypeValidator::hasReservedPrefixes(std::string_view name) {
  return name.starts_with("corvane_") || name.starts_with("halcyra_") || name.starts_with("ha_");
}

bool GWLDataTypeValidator::isValidString(GWLOptionalText value, int32_t minLength, int32_t maxLength, int32_t type,
                                         FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  const int64_t level = levelForSubject(type);
  if (!value) {
    setFailure(failureCode, kGWLValidatorFailureMissing);
    report(level, kMissingStringCode, compose(type, kNilSuffix));
    return false;
  }
  // Text that is not valid UTF-8 is no text at all: refused here, at the
  // library's boundary, so that it never reaches storage or the wire.
  if (!platform::utf8::isValid(*value)) {
    setFailure(failureCode, kGWLValidatorFailureWrongType);
    report(level, kInvalidStringCode, compose(type, kNotStringSuffix),
           GWLLogContext(platform::utf8::replacingInvalid(*value)));
    return false;
  }
  if (value->empty() && minLength >= 1) {
    setFailure(failureCode, kGWLValidatorFailureMissing);
    if (!isValueSubject(type)) report(level, kMissingStringCode, compose(type, kEmptySuffix));
    return false;
  }
  const int64_t length = static_cast<int64_t>(platform::utf8::codePointCount(*value));
  if (length > maxLength) {
    setFailure(failureCode, kGWLValidatorFailureTooLong);
    report(level, kInvalidStringCode, compose(type, kTooLongSuffix, maxLength), GWLLogContext(std::string(*value)));
    return false;
  }
  if (length < minLength) {
    setFailure(failureCode, kGWLValidatorFailureTooShort);
    report(level, kInvalidStringCode, compose(type, kTooShortSuffix, minLength), GWLLogContext(std::string(*value)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidInternalName(GWLOptionalText name, int32_t maxLength, int32_t type,
                                               FailureCode* failureCode) {
  if (!isValidString(name, 1, maxLength, type, failureCode)) return false;
  if (!hasOnlyNameCharacters(*name)) {
    setFailure(failureCode, kGWLValidatorFailureInvalidCharacter);
    report(kGWLLevelError, kInvalidNameCharacterCode, compose(type, kNameCharactersSuffix),
           GWLLogContext(std::string(*name)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidPublicName(GWLOptionalText name, int32_t maxLength, int32_t type,
                                             FailureCode* failureCode) {
  if (!isValidInternalName(name, maxLength, type, failureCode)) return false;
  if (!isLetter(platform::utf8::decode(*name, 0).codePoint)) {
    setFailure(failureCode, kGWLValidatorFailureInvalidCharacter);
    report(kGWLLevelError, kNameMustStartWithLetterCode, compose(type, kStartWithLetterSuffix),
           GWLLogContext(std::string(*name)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidValue(const GWLValue* value, int32_t minLength, int32_t maxLength, int32_t type,
                                        FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  if (!validateValueObject(value, type, failureCode)) return false;
  if (const std::string* text = value->stringValue()) {
    return isValidString(*text, minLength, maxLength, type, failureCode);
  }
  return true;
}

bool GWLDataTypeValidator::isValidPublicEventName(GWLOptionalText name, FailureCode* failureCode) {
  if (!isValidPublicName(name, 40, kGWLValidationSubjectEventName, failureCode)) return false;
  if (*name == "screen_view") return true;
  const auto& reserved = GWLPublicToInternalEventNameMap();
  const auto& allowed = GWLAllowedReservedEventNameMap();
  if (reserved.find(*name) != reserved.end() && allowed.find(*name) == allowed.end()) {
    setFailure(failureCode, kGWLValidatorFailureReserved);
    report(kGWLLevelError, kReservedEventNameCode, kReservedEventNameMessage, GWLLogContext(std::string(*name)));
    return false;
  }
  if (hasReservedPrefixes(*name)) {
    setFailure(failureCode, kGWLValidatorFailureReserved);
    report(kGWLLevelError, kReservedEventPrefixCode, kReservedEventPrefixMessage, GWLLogContext(std::string(*name)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidInternalEventName(GWLOptionalText name, FailureCode* failureCode) {
  return isValidInternalName(name, 40, kGWLValidationSubjectEventName, failureCode);
}

bool GWLDataTypeValidator::isValidInternalEventOrigin(GWLOptionalText origin, FailureCode* failureCode) {
  return isValidInternalName(origin, 32, kGWLValidationSubjectEventOrigin, failureCode);
}

bool GWLDataTypeValidator::isValidForwardedEventOrigin(GWLOptionalText origin, FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  if (!origin || origin->empty()) {
    setFailure(failureCode, kGWLValidatorFailureMissing);
    return false;
  }
  if (!origin->ends_with(kGWLForwardedOriginSuffix)) {
    setFailure(failureCode, kGWLValidatorFailureMissingForwardedSuffix);
    return false;
  }
  return isValidInternalName(origin->substr(0, origin->size() - kGWLForwardedOriginSuffix.size()), 32,
                             kGWLValidationSubjectEventOrigin, failureCode);
}

bool GWLDataTypeValidator::isValidPublicEventParameterName(GWLOptionalText name, FailureCode* failureCode) {
  if (!isValidPublicName(name, 40, kGWLValidationSubjectEventParameterName, failureCode)) return false;
  if (hasReservedPrefixes(*name)) {
    setFailure(failureCode, kGWLValidatorFailureReserved);
    report(kGWLLevelError, kReservedParameterPrefixCode, kReservedParameterPrefixMessage,
           GWLLogContext(std::string(*name)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidInternalEventParameterName(GWLOptionalText name, FailureCode* failureCode) {
  return isValidInternalName(name, 40, kGWLValidationSubjectEventParameterName, failureCode);
}

bool GWLDataTypeValidator::isValidPublicEventParameterValue(const GWLValue* value, const GWLValueLimits& limits,
                                                            FailureCode* failureCode) {
  return isValidValue(value, 0, limits.maxPublicEventParameterValueLength, kGWLValidationSubjectEventParameterValue,
                      failureCode);
}

bool GWLDataTypeValidator::isValidInternalEventParameterValue(const GWLValue* value, const GWLValueLimits& limits,
                                                              FailureCode* failureCode) {
  return isValidValue(value, 0, limits.maxInternalEventParameterValueLength, kGWLValidationSubjectEventParameterValue,
                      failureCode);
}

bool GWLDataTypeValidator::isValidPublicUserAttributeName(GWLOptionalText name, FailureCode* failureCode) {
  if (!isValidPublicName(name, 24, kGWLValidationSubjectUserPropertyName, failureCode)) return false;
  const auto& reserved = GWLPublicToInternalUserPropertyNameMap();
  if (reserved.find(*name) != reserved.end()) {
    setFailure(failureCode, kGWLValidatorFailureReserved);
    report(kGWLLevelError, kReservedUserPropertyNameCode, kReservedUserPropertyNameMessage,
           GWLLogContext(std::string(*name)));
    return false;
  }
  if (hasReservedPrefixes(*name)) {
    setFailure(failureCode, kGWLValidatorFailureReserved);
    report(kGWLLevelError, kReservedUserPropertyPrefixCode, kReservedUserPropertyPrefixMessage,
           GWLLogContext(std::string(*name)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidInternalUserAttributeName(GWLOptionalText name, FailureCode* failureCode) {
  return isValidInternalName(name, 24, kGWLValidationSubjectUserPropertyName, failureCode);
}

bool GWLDataTypeValidator::isValidPublicUserAttributeValue(const GWLValue* value, FailureCode* failureCode) {
  return isValidValue(value, 1, 36, kGWLValidationSubjectUserPropertyValue, failureCode);
}

bool GWLDataTypeValidator::isValidInternalUserAttributeValue(const GWLValue* value, GWLOptionalText name,
                                                             FailureCode* failureCode) {
  int32_t maxLength = 36;
  if (name == "_id" || name == "_hbraid") maxLength = 256;
  if (name == "_psmvalue" || name == "_psmvalue_vrts") maxLength = 512;
  return isValidValue(value, 1, maxLength, kGWLValidationSubjectUserPropertyValue, failureCode);
}

bool GWLDataTypeValidator::isValidScreenParameterValue(GWLOptionalText value, const GWLValueLimits& limits,
                                                       FailureCode* failureCode) {
  return isValidString(value, 1, limits.maxPublicEventParameterValueLength, kGWLValidationSubjectScreenParameterValue,
                       failureCode);
}

bool GWLDataTypeValidator::isValidConditionalUserPropertyOrigin(GWLOptionalText origin, FailureCode* failureCode) {
  return isValidInternalName(origin, 32, kGWLValidationSubjectConditionalUserPropertyOrigin, failureCode);
}

bool GWLDataTypeValidator::isValidConditionalUserPropertyName(GWLOptionalText name, FailureCode* failureCode) {
  return isValidInternalName(name, 24, kGWLValidationSubjectConditionalUserPropertyName, failureCode);
}

bool GWLDataTypeValidator::isValidConditionalUserPropertyValue(const GWLValue* value, FailureCode* failureCode) {
  return isValidValue(value, 1, 36, kGWLValidationSubjectConditionalUserPropertyValue, failureCode);
}

bool GWLDataTypeValidator::isValidNumericValue(const GWLValue* value, FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  if (!validateValueObject(value, kGWLValidationSubjectEventParameterValue, failureCode)) return false;
  if (value->isInt64() || value->isDouble()) return true;
  setFailure(failureCode, kGWLValidatorFailureNotNumeric);
  const std::string* text = value->stringValue();
  report(kGWLLevelWarning, kNotNumericCode, compose(kGWLValidationSubjectEventParameterValue, kNotNumericSuffix),
         text ? GWLLogContext(*text) : GWLLogContext());
  return false;
}

bool GWLDataTypeValidator::isValidCurrencyCode(const GWLValue* value, FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  if (!validateValueObject(value, kGWLValidationSubjectEventParameterValue, failureCode)) return false;
  if (const std::string* text = value->stringValue();
      text && platform::utf8::utf16Length(*text) == static_cast<size_t>(kCurrencyCodeLength)) {
    bool letters = true;
    for (size_t offset = 0; offset < text->size() && letters;) {
      auto decoded = platform::utf8::decode(*text, offset);
      letters = decoded.valid && isLetter(decoded.codePoint);
      offset += decoded.length;
    }
    if (letters) return true;
  }
  setFailure(failureCode, kGWLValidatorFailureNotCurrencyCode);
  report(kGWLLevelWarning, kNotCurrencyCode,
         compose(kGWLValidationSubjectEventParameterValue, kNotCurrencySuffix, kCurrencyCodeLength),
         GWLLogContext(value->description()));
  return false;
}

bool GWLDataTypeValidator::isValidArrayParamForEvent(GWLOptionalText eventName, GWLOptionalText paramName,
                                                     uint64_t arrayCount, bool isNestedArrayParam,
                                                     FailureCode* failureCode) {
  setFailure(failureCode, kGWLValidatorFailureNone);
  const GWLLogContext nameContext = paramName ? GWLLogContext(std::string(*paramName)) : GWLLogContext();
  if (isNestedArrayParam) {
    setFailure(failureCode, kGWLValidatorFailureNestedArray);
    report(kGWLLevelError, kInvalidArrayParameterCode, kNestedArrayMessage, nameContext);
    return false;
  }
  if (!eventName || !GWLIsEcommerceEventName(*eventName)) {
    setFailure(failureCode, kGWLValidatorFailureArrayOnNonEcommerceEvent);
    report(kGWLLevelError, kInvalidArrayParameterCode, kArrayOnNonEcommerceMessage,
           eventName ? GWLLogContext(std::string(*eventName)) : GWLLogContext());
    return false;
  }
  if (paramName != kItemsParameterName) {
    setFailure(failureCode, kGWLValidatorFailureArrayNameNotItems);
    report(kGWLLevelError, kInvalidArrayParameterCode,
           compose(kGWLValidationSubjectEventParameterName, kArrayNameSuffix, std::nullopt, kItemsParameterName),
           nameContext);
    return false;
  }
  if (arrayCount > static_cast<uint64_t>(kGWLMaxArrayParameterItems)) {
    setFailure(failureCode, kGWLValidatorFailureTooManyArrayItems);
    report(kGWLLevelError, kInvalidArrayParameterCode, fill(kTooManyItemsMessage, kGWLMaxArrayParameterItems),
           GWLLogContext(arrayCount > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(arrayCount)));
    return false;
  }
  return true;
}

bool GWLDataTypeValidator::isValidArrayParamItem(const platform::Object& item, FailureCode* failureCode) {
  if (item.isDictionary()) return true;
  setFailure(failureCode, kGWLValidatorFailureArrayItemNotDictionary);
  report(kGWLLevelError, kInvalidArrayItemCode, kArrayItemMessage,
         GWLLogContext(platform::utf8::replacingInvalid(item.description())));
  return false;
}
