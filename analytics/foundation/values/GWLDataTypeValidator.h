// GWLDataTypeValidator — checks every name and value that enters the library.
//
// Each check takes the value first and an optional failure-code pointer,
// answers whether the value is valid, writes the failure code (0 when valid)
// and logs its own report through the library's monitor, whether or not a
// pointer is given. Reports begin with the subject's text ("Event name",
// "User property value", ...):
//
//   code   meaning                                             report
//   1      missing (nil, or empty where a character is needed) 13001 " is required and can't be nil/empty",
//                                                              13004 " cannot be nil" for values; an empty
//                                                              parameter or property value is not logged
//   2      too long (code points)                              13000 " is too long. ..."
//   3      a non-name character, or no leading letter           13002 / 13003
//   4      reserved name or prefix                             13006-13010
//   5      not text: text that is not valid UTF-8              13000 " must be of type NSString"
//   6      forwarded origin without "+kxw"                     none
//   7      too short                                           13000 " is too short. ..."
//   8      not a number                                        13011
//   9      not a three-letter currency code                    13012
//   10-13  array parameter refused                             13013
//   14     array element that is not a dictionary              13014
//
// Value reports are warnings (level 3), name reports errors (level 0).
// Lengths count Unicode code points. Letters are the Unicode letter
// categories, name characters letters, decimal digits (Nd) and "_"; ASCII is
// decided without asking ICU.
//
// Threads: the checks keep no state; any thread may call them (they report
// through the library's monitor, which any thread may use).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "analytics/foundation/values/GWLValue.h"
#include "analytics/foundation/values/GWLValueLimits.h"
#include "platform/core/Object.h"

enum GWLValidationSubject : int32_t {
  kGWLValidationSubjectEventName = 0,
  kGWLValidationSubjectEventOrigin = 1,
  kGWLValidationSubjectEventParameterName = 2,
  kGWLValidationSubjectEventParameterValue = 3,
  kGWLValidationSubjectUserPropertyName = 4,
  kGWLValidationSubjectUserPropertyValue = 5,
  kGWLValidationSubjectScreenParameterValue = 6,
  kGWLValidationSubjectConditionalUserPropertyOrigin = 7,
  kGWLValidationSubjectConditionalUserPropertyName = 8,
  kGWLValidationSubjectConditionalUserPropertyValue = 9,
};

enum GWLValidatorFailureCode : uint32_t {
  kGWLValidatorFailureNone = 0,
  kGWLValidatorFailureMissing = 1,
  kGWLValidatorFailureTooLong = 2,
  kGWLValidatorFailureInvalidCharacter = 3,
  kGWLValidatorFailureReserved = 4,
  kGWLValidatorFailureWrongType = 5,
  kGWLValidatorFailureMissingForwardedSuffix = 6,
  kGWLValidatorFailureTooShort = 7,
  kGWLValidatorFailureNotNumeric = 8,
  kGWLValidatorFailureNotCurrencyCode = 9,
  kGWLValidatorFailureArrayOnNonEcommerceEvent = 10,
  kGWLValidatorFailureArrayNameNotItems = 11,
  kGWLValidatorFailureTooManyArrayItems = 12,
  kGWLValidatorFailureNestedArray = 13,
  kGWLValidatorFailureArrayItemNotDictionary = 14,
};

// The suffix that marks an origin forwarded by the tag-management library.
inline constexpr std::string_view kGWLForwardedOriginSuffix = "+kxw";
inline constexpr int32_t kGWLMaxArrayParameterItems = 200;

// A name or text as callers hold it; nullopt stands for nil.
using GWLOptionalText = std::optional<std::string_view>;

// The subject's text: "Event name" ... "Conditional user property value", else "Object".
const char* GWLValidationSubjectText(int32_t subject);

class GWLDataTypeValidator {
 public:
  using FailureCode = GWLValidatorFailureCode;

  static bool isValidString(GWLOptionalText value, int32_t minLength, int32_t maxLength, int32_t type,
                            FailureCode* failureCode = nullptr);
  static bool isValidInternalName(GWLOptionalText name, int32_t maxLength, int32_t type,
                                  FailureCode* failureCode = nullptr);
  static bool isValidPublicName(GWLOptionalText name, int32_t maxLength, int32_t type,
                                FailureCode* failureCode = nullptr);
  // `value` null stands for nil.
  static bool isValidValue(const GWLValue* value, int32_t minLength, int32_t maxLength, int32_t type,
                           FailureCode* failureCode = nullptr);

  static bool isValidPublicEventName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidInternalEventName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidInternalEventOrigin(GWLOptionalText origin, FailureCode* failureCode = nullptr);
  static bool isValidForwardedEventOrigin(GWLOptionalText origin, FailureCode* failureCode = nullptr);
  static bool isValidPublicEventParameterName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidInternalEventParameterName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  // Strings at most `limits.maxPublicEventParameterValueLength`.
  static bool isValidPublicEventParameterValue(const GWLValue* value, const GWLValueLimits& limits,
                                               FailureCode* failureCode = nullptr);
  // Strings at most `limits.maxInternalEventParameterValueLength`.
  static bool isValidInternalEventParameterValue(const GWLValue* value, const GWLValueLimits& limits,
                                                 FailureCode* failureCode = nullptr);
  static bool isValidPublicUserAttributeName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidInternalUserAttributeName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidPublicUserAttributeValue(const GWLValue* value, FailureCode* failureCode = nullptr);
  // 36 code points; 256 for "_id" and "_hbraid"; 512 for "_psmvalue" and "_psmvalue_vrts".
  static bool isValidInternalUserAttributeValue(const GWLValue* value, GWLOptionalText name,
                                                FailureCode* failureCode = nullptr);
  // At most `limits.maxPublicEventParameterValueLength`.
  static bool isValidScreenParameterValue(GWLOptionalText value, const GWLValueLimits& limits,
                                          FailureCode* failureCode = nullptr);
  static bool isValidConditionalUserPropertyOrigin(GWLOptionalText origin, FailureCode* failureCode = nullptr);
  static bool isValidConditionalUserPropertyName(GWLOptionalText name, FailureCode* failureCode = nullptr);
  static bool isValidConditionalUserPropertyValue(const GWLValue* value, FailureCode* failureCode = nullptr);
  // An int64 or double value.
  static bool isValidNumericValue(const GWLValue* value, FailureCode* failureCode = nullptr);
  // A string value of three letters (any script, any case); no list of codes is consulted.
  static bool isValidCurrencyCode(const GWLValue* value, FailureCode* failureCode = nullptr);
  // An array parameter: not nested, on an ecommerce event, named "items", at
  // most 200 elements (checked in that order).
  static bool isValidArrayParamForEvent(GWLOptionalText eventName, GWLOptionalText paramName, uint64_t arrayCount,
                                        bool isNestedArrayParam, FailureCode* failureCode = nullptr);
  // An element of an array parameter must be a dictionary; writes the failure code only on failure.
  static bool isValidArrayParamItem(const platform::Object& item, FailureCode* failureCode = nullptr);
  // Whether the name begins with "corvane_", "halcyra_" or "ha_".
  static bool hasReservedPrefixes(std::string_view name);

  // Character classes.
  static bool isLetter(char32_t codePoint);
  static bool isNameCharacter(char32_t codePoint);
};
