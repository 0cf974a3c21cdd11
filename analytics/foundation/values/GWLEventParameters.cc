#include "analytics/foundation/values/GWLEventParameters.h"

#include <algorithm>
#include <set>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/NANO.h"
#include "platform/text/Utf8.h"

namespace {

constexpr int64_t kUnsupportedParameterValueCode = 18015;
constexpr const char* kUnsupportedParameterValueMessage =
    "Event parameter value must be of type NSString, NSNumber or NSArray. Type";
constexpr int64_t kItemCustomParametersCode = 18016;
constexpr const char* kItemCustomParametersMessage = "Item cannot contain custom parameters";
constexpr int64_t kTooManyParametersCode = 18017;
constexpr const char* kTooManyParametersMessage = "Event cannot contain more than %d parameters";
constexpr int64_t kMissingCurrencyCode = 18014;
constexpr const char* kMissingCurrencyMessage =
    "Value parameter discarded. You must also supply a 3-letter ISO_4217 currency code in the currency parameter.";
constexpr int64_t kParameterExistsCode = 23156;
constexpr const char* kParameterExistsMessage = "Event parameter already exists. Parameter name";

constexpr size_t kMaxParameterNameLength = 40;
constexpr const char* kEllipsis = "...";
constexpr const char* kValueParameter = "value";
constexpr const char* kCurrencyParameter = "currency";

std::shared_ptr<GWLMonitor> monitor() { return GWLLibraryMonitor::monitor(); }

bool contains(const GWLParameters& parameters, const char* name) { return parameters.find(name) != parameters.end(); }

bool isPublicNameQuiet(std::string_view name) { return !name.empty() && name[0] != '_'; }

// The name as an error value can hold it: text that is not valid UTF-8 has
// its ill-formed bytes replaced.
std::string printable(std::string_view text) { return platform::utf8::replacingInvalid(text); }

size_t nonNegative(int32_t setting) { return setting < 0 ? 0 : static_cast<size_t>(setting); }

// A caller's value as a typed one; arrays stay plain (`wasValue` false) so the
// sanitiser checks them.
std::optional<GWLValue> typedValue(const GWLRawParameter& raw, bool* wasValue) {
  if (const GWLValue* value = std::get_if<GWLValue>(&raw)) {
    *wasValue = true;
    return *value;
  }
  *wasValue = false;
  return GWLValue::valueFromObject(std::get<platform::Object>(raw), true);
}

}  // namespace

std::optional<GWLParameters> GWLSanitizeEventParameters(const GWLRawParameters& parameters, GWLOptionalText eventName,
                                                        bool isPublic, bool isItem, const GWLValueLimits& limits) {
  if (parameters.empty()) return std::nullopt;
  const auto& reservedEvents = GWLPublicToInternalEventNameMap();
  const bool internalLimits =
      eventName && (reservedEvents.find(*eventName) != reservedEvents.end() || eventName->starts_with("_"));

  std::set<std::string> removed;
  GWLParameters changes;
  for (const auto& [name, raw] : parameters) {
    if (!GWLValidateParameterName(name, isPublic, changes)) {
      removed.insert(name);
      continue;
    }
    bool wasValue = false;
    std::optional<GWLValue> value = typedValue(raw, &wasValue);
    if (!value) {
      removed.insert(name);
      const auto& object = std::get<platform::Object>(raw);
      monitor()->logWithLevel(kGWLLevelWarning, kUnsupportedParameterValueCode, kUnsupportedParameterValueMessage,
                              GWLLogContext(std::string(platform::typeName(object.type()))));
      continue;
    }

    GWLValidatorFailureCode failureCode = kGWLValidatorFailureNone;
    bool keep = true;
    if (isPublic && !GWLDataTypeValidator::isValidPublicEventParameterValue(&*value, limits, &failureCode)) {
      keep = false;
    }
    if (keep && name == kGWLEventErrorValueParameter) {
      // The library's own error value is cut to the internal limit rather than refused.
      const size_t limit = nonNegative(limits.maxInternalEventParameterValueLength);
      if (const std::string* text = value->stringValue()) {
        const size_t length = platform::utf8::codePointCount(*text);
        if (length > limit && !(length == limit + 3 && text->ends_with(kEllipsis))) {
          GWLSetErrorValueParameters(changes, *text, limit, *text);
        }
      }
    } else if (keep && internalLimits &&
               !GWLDataTypeValidator::isValidInternalEventParameterValue(&*value, limits, &failureCode)) {
      keep = false;
    }
    if (keep && !wasValue) {
      if (const platform::Array* array = value->arrayValue()) {
        auto sanitized = GWLSanitizeArrayParameter(*array, name, eventName, changes, isItem, isPublic, limits,
                                                   &failureCode);
        if (sanitized) value = std::move(*sanitized);
        else keep = false;
      }
    }
    if (failureCode == kGWLValidatorFailureTooLong && !contains(changes, kGWLEventErrorParameter)) {
      const std::string* text = value->stringValue();
      GWLRecordParameterError(changes, kGWLEventErrorInvalidParameterValue, name, kMaxParameterNameLength,
                              text ? std::optional<std::string_view>(*text) : std::nullopt);
    }
    if (value->isArray() && failureCode != kGWLValidatorFailureNone) {
      GWLRecordArrayParameterError(changes, failureCode, name, eventName);
    }
    if (!keep) {
      removed.insert(name);
      continue;
    }
    if (!wasValue) changes.insert_or_assign(name, *value);
  }

  if (removed.size() == parameters.size()) return changes;

  GWLParameters result;
  for (const auto& [name, raw] : parameters) {
    if (removed.count(name)) continue;
    if (const GWLValue* value = std::get_if<GWLValue>(&raw)) result.insert_or_assign(name, *value);
  }
  for (auto& [name, value] : changes) result.insert_or_assign(name, value);

  if (isItem) {
    const size_t limit = nonNegative(limits.maxItemScopedCustomParameters);
    if (GWLCountPublicParameters(result, true) > limit) {
      GWLTrimPublicParameters(result, limit, true);
      GWLSetErrorCodeIfAbsent(result, limit == 0 ? kGWLEventErrorCustomParamsInArrayElement
                                                 : kGWLEventErrorItemScopedCustomParameterLimitReached);
      monitor()->logWithLevel(kGWLLevelError, kItemCustomParametersCode, kItemCustomParametersMessage);
    }
  } else {
    const size_t limit = nonNegative(limits.maxPublicEventParams);
    if (GWLCountPublicParameters(result) > limit) {
      GWLTrimPublicParameters(result, limit);
      GWLSetErrorCodeIfAbsent(result, kGWLEventErrorParameterLimitReached);
      std::string message = kTooManyParametersMessage;
      message.replace(message.find("%d"), 2, std::to_string(limit));
      monitor()->logWithLevel(kGWLLevelErrorSampled, kTooManyParametersCode, message);
    }
  }
  return result;
}

std::optional<GWLParameters> GWLSanitizeParameters(const GWLRawParameters& parameters, bool isPublic,
                                                   const GWLValueLimits& limits) {
  return GWLSanitizeEventParameters(parameters, std::nullopt, isPublic, false, limits);
}

bool GWLValidateParameterName(std::string_view name, bool isPublic, GWLParameters& errors) {
  GWLValidatorFailureCode failureCode = kGWLValidatorFailureNone;
  bool valid = (!isPublic || GWLDataTypeValidator::isValidPublicEventParameterName(name, &failureCode)) &&
               GWLDataTypeValidator::isValidInternalEventParameterName(name, &failureCode);
  if (valid) return true;
  if (failureCode != kGWLValidatorFailureNone && !contains(errors, kGWLEventErrorParameter)) {
    const std::string text = printable(name);
    const bool tooLong = platform::utf8::codePointCount(text) > kMaxParameterNameLength;
    GWLRecordParameterError(errors,
                            failureCode == kGWLValidatorFailureReserved ? kGWLEventErrorParameterNameIsReserved
                                                                        : kGWLEventErrorInvalidParameterName,
                            text, kMaxParameterNameLength,
                            tooLong ? std::optional<std::string_view>(text) : std::nullopt);
  }
  return false;
}

std::optional<GWLValue> GWLSanitizeArrayParameter(const platform::Array& array, std::string_view name,
                                                  GWLOptionalText eventName, GWLParameters& errors, bool isNested,
                                                  bool isPublic, const GWLValueLimits& limits,
                                                  GWLValidatorFailureCode* failureCode) {
  GWLValidatorFailureCode code = kGWLValidatorFailureNone;
  size_t count = array.size();
  if (!GWLDataTypeValidator::isValidArrayParamForEvent(eventName, name, count, isNested, &code)) {
    if (failureCode) *failureCode = code;
    if (code != kGWLValidatorFailureTooManyArrayItems) return std::nullopt;
    count = static_cast<size_t>(kGWLMaxArrayParameterItems);
  } else if (failureCode) {
    *failureCode = code;
  }
  platform::Array items;
  for (size_t index = 0; index < count; ++index) {
    const platform::Object& element = array[index];
    if (!GWLDataTypeValidator::isValidArrayParamItem(element, failureCode)) {
      std::string elementName = std::string(name) + "[" + std::to_string(index) + "]";
      GWLRecordParameterError(errors, kGWLEventErrorInvalidParameterValue, elementName, kMaxParameterNameLength,
                              std::nullopt);
      continue;
    }
    auto item = GWLSanitizeEventParameters(GWLRawParametersFromDictionary(*element.dictionaryValue()), eventName,
                                           isPublic, true, limits);
    if (item) items.emplace_back(GWLDictionaryFromParameters(*item));
  }
  return GWLValue::initWithArray(std::move(items));
}

bool GWLCheckValueAndCurrency(GWLParameters& parameters, bool requireValue, const GWLValueLimits& limits) {
  auto value = parameters.find(kValueParameter);
  if (!requireValue && value == parameters.end()) return true;
  const size_t limit = nonNegative(limits.maxInternalEventParameterValueLength);
  if (!GWLDataTypeValidator::isValidNumericValue(value == parameters.end() ? nullptr : &value->second)) {
    if (value != parameters.end()) parameters.erase(value);
    GWLRecordParameterError(parameters, kGWLEventErrorValueIsNotNumeric, kValueParameter, limit, std::nullopt);
    return false;
  }
  auto currency = parameters.find(kCurrencyParameter);
  if (!GWLDataTypeValidator::isValidCurrencyCode(currency == parameters.end() ? nullptr : &currency->second)) {
    monitor()->logWithLevel(kGWLLevelWarning, kMissingCurrencyCode, kMissingCurrencyMessage);
    parameters.erase(kValueParameter);
    GWLRecordParameterError(parameters, kGWLEventErrorCurrencyCodeIsMissingOrInvalid, kCurrencyParameter, limit,
                            std::nullopt);
    return false;
  }
  return true;
}

size_t GWLCountPublicParameters(const GWLParameters& parameters, bool customItemOnly) {
  return static_cast<size_t>(std::count_if(parameters.begin(), parameters.end(), [&](const auto& entry) {
    return isPublicNameQuiet(entry.first) && !(customItemOnly && GWLIsStandardItemParameterName(entry.first));
  }));
}

void GWLTrimPublicParameters(GWLParameters& parameters, size_t limit, bool customItemOnly) {
  size_t count = GWLCountPublicParameters(parameters, customItemOnly);
  for (auto it = parameters.end(); count > limit && it != parameters.begin();) {
    --it;
    if (isPublicNameQuiet(it->first) && !(customItemOnly && GWLIsStandardItemParameterName(it->first))) {
      it = parameters.erase(it);
      --count;
    }
  }
}

bool GWLHasScreenParameters(const GWLParameters& parameters) {
  return contains(parameters, kGWLScreenIDParameter) || contains(parameters, kGWLScreenClassParameter) ||
         contains(parameters, kGWLScreenNameParameter);
}

GWLParameters GWLScreenParametersFromParameters(const GWLParameters& parameters) {
  GWLParameters screen;
  for (const char* name : {kGWLScreenNameParameter, kGWLScreenClassParameter, kGWLScreenIDParameter}) {
    if (auto found = parameters.find(name); found != parameters.end()) screen.insert(*found);
  }
  return screen;
}

GWLParameters GWLRemoveVrtPrefixedParameters(const GWLParameters& parameters) {
  GWLParameters kept;
  for (const auto& entry : parameters) {
    if (!entry.first.starts_with("vrt_")) kept.insert(entry);
  }
  return kept;
}

bool GWLEventParamsContainName(const std::vector<std::shared_ptr<GWLPBEventParam>>& wireParams,
                               std::string_view name) {
  for (const auto& param : wireParams) {
    if (NANOGetString(param, GWLPBEventParam::Field::name) == name) {
      monitor()->logWithLevel(kGWLLevelWarningSampled, kParameterExistsCode, kParameterExistsMessage,
                              GWLLogContext(std::string(name)));
      return true;
    }
  }
  return false;
}

void GWLSetErrorCodeIfAbsent(GWLParameters& errors, int64_t code) {
  errors.try_emplace(kGWLEventErrorParameter, GWLValue::initWithInt64(code));
}

void GWLRecordParameterError(GWLParameters& errors, int64_t code, std::optional<std::string_view> value,
                             size_t maxLength, std::optional<std::string_view> lengthSource) {
  if (contains(errors, kGWLEventErrorValueParameter) || contains(errors, kGWLEventErrorLengthParameter) ||
      contains(errors, kGWLEventErrorParameter)) {
    return;
  }
  errors.insert_or_assign(kGWLEventErrorParameter, GWLValue::initWithInt64(code));
  GWLSetErrorValueParameters(errors, value, maxLength, lengthSource);
}

void GWLSetErrorValueParameters(GWLParameters& errors, std::optional<std::string_view> value, size_t maxLength,
                                std::optional<std::string_view> lengthSource) {
  if (contains(errors, kGWLEventErrorValueParameter) || contains(errors, kGWLEventErrorLengthParameter)) return;
  std::string text = value ? printable(*value) : std::string("(nil)");
  if (platform::utf8::codePointCount(text) > maxLength) {
    text = std::string(platform::utf8::truncatedToCodePoints(text, maxLength)) + kEllipsis;
  }
  errors.insert_or_assign(kGWLEventErrorValueParameter, *GWLValue::initWithString(text));
  if (lengthSource) {
    const auto length = platform::utf8::codePointCount(*lengthSource);
    errors.insert_or_assign(kGWLEventErrorLengthParameter, GWLValue::initWithInt64(static_cast<int64_t>(length)));
  }
}

void GWLRecordArrayParameterError(GWLParameters& errors, GWLValidatorFailureCode validatorCode,
                                  std::string_view name, GWLOptionalText eventName) {
  int64_t code = kGWLEventErrorNone;
  std::optional<std::string_view> value = name;
  switch (validatorCode) {
    case kGWLValidatorFailureArrayOnNonEcommerceEvent:
      code = kGWLEventErrorInvalidArrayParamEventName;
      value = eventName;
      break;
    case kGWLValidatorFailureArrayNameNotItems:
      code = kGWLEventErrorInvalidArrayParamName;
      break;
    case kGWLValidatorFailureTooManyArrayItems:
      code = kGWLEventErrorTooManyExtraParamEvents;
      break;
    case kGWLValidatorFailureNestedArray:
      code = kGWLEventErrorInvalidArrayParamNesting;
      break;
    default:
      return;
  }
  GWLRecordParameterError(errors, code, value, kMaxParameterNameLength, std::nullopt);
}
