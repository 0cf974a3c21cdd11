#include "analytics/foundation/values/GWLEvent.h"

#include <cfloat>

#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/core/GWLMilliseconds.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/wire/GWLPBEvent.h"
#include "analytics/wire/GWLPBEventParam.h"
#include "analytics/wire/NANO.h"
#include "platform/text/Utf8.h"

namespace {

constexpr int64_t kParameterWithoutNameCode = 15000;
constexpr const char* kParameterWithoutNameMessage = "Ignoring parameter. Parameter name is nil. Event name";
constexpr int64_t kOriginNotStringCode = 15001;
constexpr const char* kOriginNotStringMessage =
    "Cannot create an event from event proto. Origin parameter is not a string. Event name";
constexpr int64_t kUnknownParameterTypeCode = 15002;
constexpr const char* kUnknownParameterTypeMessage =
    "Unknown event parameter type from converting an event proto into GWLEvent instance. Event param name";
constexpr int64_t kPreviousAfterCurrentCode = 16002;
constexpr const char* kPreviousAfterCurrentMessage = "Event created with previous timestamp after current timestamp";
constexpr int64_t kInvalidScreenClassCode = 16003;
constexpr const char* kInvalidScreenClassMessage = "Received invalid screen class";
constexpr int64_t kInvalidScreenNameCode = 16004;
constexpr const char* kInvalidScreenNameMessage = "Received invalid screen name";
constexpr int64_t kInvalidParamValueCode = 16005;
constexpr const char* kInvalidParamValueMessage = "Invalid event param value. Event name, param name";
constexpr int64_t kRealtimeNotInt64Code = 16006;
constexpr const char* kRealtimeNotInt64Message = "Realtime parameter must be an int64. Event name";
constexpr int64_t kNestedParamsCode = 16007;
constexpr const char* kNestedParamsMessage = "Nested params cannot have more than 1 level. Event name, param name";

std::shared_ptr<GWLMonitor> monitor() { return GWLLibraryMonitor::monitor(); }

bool isInt64One(const GWLParameters& parameters, const char* name) {
  auto found = parameters.find(name);
  return found != parameters.end() && found->second.isInt64() && found->second.int64Value() == 1;
}

void setFlag(GWLParameters& parameters, const char* name, bool on) {
  if (on) parameters.insert_or_assign(name, GWLValue::initWithInt64(1));
  else parameters.erase(name);
}

// One wire parameter of an item, or null (reported) for what an item cannot carry.
std::shared_ptr<GWLPBEventParam> itemParam(const std::string& eventName, const std::string& name,
                                           const platform::Object& value) {
  auto param = GWLPBEventParam::initWithMessageInfo();
  NANOSetString(param, GWLPBEventParam::Field::name, name);
  switch (value.type()) {
    case platform::Object::Type::Double:
      NANOSetDouble(param, GWLPBEventParam::Field::double_value, *value.doubleValue());
      return param;
    case platform::Object::Type::Int:
      NANOSetInt64(param, GWLPBEventParam::Field::int_value, *value.intValue());
      return param;
    case platform::Object::Type::String:
      if (!platform::utf8::isValid(*value.stringValue())) break;
      NANOSetString(param, GWLPBEventParam::Field::string_value, *value.stringValue());
      return param;
    case platform::Object::Type::Array:
      monitor()->logWithLevel(kGWLLevelErrorSilent, kNestedParamsCode, kNestedParamsMessage, eventName, name);
      return nullptr;
    default:
      break;
  }
  monitor()->logWithLevel(kGWLLevelErrorSilent, kInvalidParamValueCode, kInvalidParamValueMessage, eventName,
                          platform::utf8::replacingInvalid(name));
  return nullptr;
}

std::shared_ptr<GWLPBEventParam> wireParam(const std::string& eventName, const std::string& name,
                                           const GWLValue& value) {
  auto param = GWLPBEventParam::initWithMessageInfo();
  NANOSetString(param, GWLPBEventParam::Field::name, name);
  switch (value.valueType()) {
    case kGWLValueTypeDouble:
      NANOSetDouble(param, GWLPBEventParam::Field::double_value, value.doubleValue());
      break;
    case kGWLValueTypeInt64:
      NANOSetInt64(param, GWLPBEventParam::Field::int_value, value.int64Value());
      break;
    case kGWLValueTypeString:
      NANOSetString(param, GWLPBEventParam::Field::string_value, *value.stringValue());
      break;
    case kGWLValueTypeArray: {
      std::vector<NANOValue> elements;
      for (const platform::Object& element : *value.arrayValue()) {
        const platform::Dictionary* item = element.dictionaryValue();
        if (!item) {
          monitor()->logWithLevel(kGWLLevelErrorSilent, kInvalidParamValueCode, kInvalidParamValueMessage, eventName,
                                  name);
          continue;
        }
        std::vector<NANOValue> itemParams;
        for (const auto& [itemName, itemValue] : *item) {
          if (!platform::utf8::isValid(itemName)) {
            monitor()->logWithLevel(kGWLLevelErrorSilent, kInvalidParamValueCode, kInvalidParamValueMessage, eventName,
                                    platform::utf8::replacingInvalid(itemName));
            continue;
          }
          if (auto converted = itemParam(eventName, itemName, itemValue)) {
            itemParams.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(converted)));
          }
        }
        auto wrapper = GWLPBEventParam::initWithMessageInfo();
        NANOSetArray(wrapper, GWLPBEventParam::Field::param_value, itemParams);
        elements.emplace_back(std::shared_ptr<NANOMessageBase>(std::move(wrapper)));
      }
      NANOSetArray(param, GWLPBEventParam::Field::param_value, elements);
      break;
    }
  }
  return param;
}

// A screen class or name: a string, plain or typed. Answers the text, or
// nullopt (reported when it is a string that fails the check).
std::optional<std::string> screenText(const GWLRawParameter& raw, const GWLValueLimits& limits, int64_t code,
                                      const char* message) {
  const std::string* text = nullptr;
  if (const GWLValue* value = std::get_if<GWLValue>(&raw)) text = value->stringValue();
  else text = std::get<platform::Object>(raw).stringValue();
  if (!text) return std::nullopt;
  if (!GWLDataTypeValidator::isValidScreenParameterValue(*text, limits)) {
    monitor()->logWithLevel(kGWLLevelWarning, code, message, GWLLogContext(platform::utf8::replacingInvalid(*text)));
    return std::nullopt;
  }
  return *text;
}

}  // namespace

std::shared_ptr<GWLEvent> GWLEvent::initWithOrigin(GWLOptionalText origin, bool isPublic, GWLOptionalText name,
                                                   double timestamp, double previousTimestamp,
                                                   const GWLRawParameters& parameters, const GWLValueLimits& limits) {
  GWLValidatorFailureCode failureCode = kGWLValidatorFailureNone;
  if (!GWLDataTypeValidator::isValidForwardedEventOrigin(origin, &failureCode)) {
    if (failureCode != kGWLValidatorFailureMissingForwardedSuffix ||
        !GWLDataTypeValidator::isValidInternalEventOrigin(origin)) {
      return nullptr;
    }
  }
  if (isPublic && !GWLDataTypeValidator::isValidPublicEventName(name)) return nullptr;
  if (!GWLDataTypeValidator::isValidInternalEventName(name)) return nullptr;
  if (timestamp < previousTimestamp) {
    monitor()->logWithLevel(kGWLLevelWarningSilent, kPreviousAfterCurrentCode, kPreviousAfterCurrentMessage);
  }

  std::shared_ptr<GWLEvent> event(new GWLEvent());
  event->origin_ = std::string(*origin);
  event->name_ = std::string(*name);
  event->timestamp_ = timestamp;
  event->previousTimestamp_ = previousTimestamp;
  event->limits_ = limits;
  if (auto sanitized = GWLSanitizeEventParameters(parameters, event->name_, isPublic, false, limits)) {
    event->parameters_ = std::move(*sanitized);
  }
  event->parameters_.insert_or_assign(kGWLEventOriginParameter, *GWLValue::initWithString(event->origin_));
  if (event->shouldValidateParams() &&
      !GWLCheckValueAndCurrency(event->parameters_, event->shouldRequireValueParam(), limits)) {
    event->parameters_.erase(kGWLEventConversionParameter);
  }
  return event;
}

std::shared_ptr<GWLEvent> GWLEvent::initWithOrigin(GWLOptionalText origin, bool isPublic, GWLOptionalText name,
                                                   double timestamp, double previousTimestamp,
                                                   const platform::Dictionary& parameters,
                                                   const GWLValueLimits& limits) {
  return initWithOrigin(origin, isPublic, name, timestamp, previousTimestamp,
                        GWLRawParametersFromDictionary(parameters), limits);
}

std::shared_ptr<GWLEvent> GWLEvent::copyWithPreviousTimestamp(double previousTimestamp) const {
  return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp,
                        GWLRawParametersFromParameters(parameters_), limits_);
}

std::shared_ptr<GWLEvent> GWLEvent::copyWithParameters(const GWLRawParameters& parameters) const {
  return initWithOrigin(origin_, false, name_, timestamp_, previousTimestamp_, parameters, limits_);
}

std::shared_ptr<GWLEvent> GWLEvent::copy() const { return copyWithPreviousTimestamp(previousTimestamp_); }

bool GWLEvent::shouldValidateParams() const {
  return isConversion() || name_ == "ad_impression" || name_ == "_ai";
}

bool GWLEvent::shouldRequireValueParam() const {
  return (name_ == "in_app_purchase" || name_ == "_iap") && origin_ == "app";
}

bool GWLEvent::isConversion() const { return isInt64One(parameters_, kGWLEventConversionParameter); }

void GWLEvent::setConversion(bool conversion) {
  if (conversion) {
    if (!GWLCheckValueAndCurrency(parameters_, shouldRequireValueParam(), limits_)) return;
    parameters_.insert_or_assign(kGWLEventConversionParameter, GWLValue::initWithInt64(1));
    auto error = parameters_.find(kGWLEventErrorParameter);
    if (error != parameters_.end() && error->second.isInt64() &&
        error->second.int64Value() == kGWLEventErrorConversionEventLimitReached) {
      parameters_.erase(error);
    }
    return;
  }
  if (parameters_.erase(kGWLEventConversionParameter) > 0) {
    GWLSetErrorCodeIfAbsent(parameters_, kGWLEventErrorConversionEventLimitReached);
  }
}

bool GWLEvent::isRealtime() const {
  auto found = parameters_.find(kGWLEventRealtimeParameter);
  if (found == parameters_.end()) return false;
  if (!found->second.isInt64()) {
    monitor()->logWithLevel(kGWLLevelErrorSilent, kRealtimeNotInt64Code, kRealtimeNotInt64Message,
                            GWLLogContext(name_));
    return false;
  }
  return found->second.int64Value() == 1;
}

void GWLEvent::setRealtime(bool realtime) { setFlag(parameters_, kGWLEventRealtimeParameter, realtime); }

bool GWLEvent::isDebug() const { return isInt64One(parameters_, kGWLEventDebugParameter); }

void GWLEvent::setDebug(bool debug) { setFlag(parameters_, kGWLEventDebugParameter, debug); }

void GWLEvent::applyParameters(const GWLRawParameters& parameters, bool isPublic) {
  auto sanitized = GWLSanitizeParameters(parameters, isPublic, limits_);
  if (!sanitized || sanitized->empty()) return;
  for (auto& [name, value] : *sanitized) parameters_.try_emplace(name, std::move(value));
}

bool GWLEvent::addScreenParameters(const GWLRawParameters& screenParameters) {
  if (screenParameters.empty() || GWLHasScreenParameters(parameters_)) return false;
  auto screenID = screenParameters.find(kGWLScreenIDParameter);
  if (screenID == screenParameters.end()) return false;
  std::optional<std::string> screenClass;
  if (auto found = screenParameters.find(kGWLScreenClassParameter); found != screenParameters.end()) {
    screenClass = screenText(found->second, limits_, kInvalidScreenClassCode, kInvalidScreenClassMessage);
    if (!screenClass) return false;
  }
  std::optional<GWLValue> id;
  if (const GWLValue* value = std::get_if<GWLValue>(&screenID->second)) {
    if (value->isInt64()) id = *value;
  } else {
    const platform::Object& object = std::get<platform::Object>(screenID->second);
    if (object.isInt() || object.isDouble() || object.isBool()) id = GWLValue::valueFromObject(object);
  }
  if (!id) return false;
  std::optional<std::string> screenName;
  if (auto found = screenParameters.find(kGWLScreenNameParameter); found != screenParameters.end()) {
    screenName = screenText(found->second, limits_, kInvalidScreenNameCode, kInvalidScreenNameMessage);
    if (!screenName) return false;
  }
  parameters_.insert_or_assign(kGWLScreenIDParameter, *id);
  if (screenClass) parameters_.insert_or_assign(kGWLScreenClassParameter, *GWLValue::initWithString(*screenClass));
  if (screenName) parameters_.insert_or_assign(kGWLScreenNameParameter, *GWLValue::initWithString(*screenName));
  return true;
}

GWLEditableEvent GWLEvent::editEvent() const {
  GWLEditableEvent edited;
  const auto& publicNames = GWLInternalToPublicEventNameMap();
  auto publicName = publicNames.find(name_);
  edited.name = publicName == publicNames.end() ? name_ : publicName->second;
  edited.timestamp = timestamp_;
  for (const auto& [name, value] : parameters_) {
    const platform::Array* items = value.arrayValue();
    if (!items) {
      edited.parameters.emplace(name, value.objectValue());
      continue;
    }
    platform::Array editedItems;
    for (const platform::Object& element : *items) {
      const platform::Dictionary* item = element.dictionaryValue();
      if (!item) continue;
      platform::Dictionary editedItem;
      for (const auto& [itemName, itemValue] : *item) {
        if (itemValue.isInt() || itemValue.isDouble() || itemValue.isString()) editedItem.emplace(itemName, itemValue);
      }
      editedItems.emplace_back(std::move(editedItem));
    }
    edited.parameters.emplace(name, std::move(editedItems));
  }
  return edited;
}

std::shared_ptr<GWLEvent> GWLEvent::eventFromEditEvent(const GWLEditableEvent& edited,
                                                       const GWLValueLimits& limits) {
  const auto& internalNames = GWLPublicToInternalEventNameMap();
  auto internalName = internalNames.find(edited.name);
  const std::string name = internalName == internalNames.end() ? edited.name : internalName->second;
  std::string origin = "app";
  if (auto given = edited.parameters.find(kGWLEventOriginParameter); given != edited.parameters.end()) {
    if (const std::string* text = given->second.stringValue()) origin = *text;
  }
  return initWithOrigin(origin, false, name, edited.timestamp, 0, edited.parameters, limits);
}

std::shared_ptr<GWLPBEvent> GWLEvent::protoEvent() const {
  auto proto = GWLPBEvent::initWithMessageInfo();
  NANOSetString(proto, GWLPBEvent::Field::name, name_);
  if (previousTimestamp_ > DBL_EPSILON) {
    NANOSetInt64(proto, GWLPBEvent::Field::previous_timestamp, GWLMillisecondsFromSeconds(previousTimestamp_));
  }
  NANOSetInt64(proto, GWLPBEvent::Field::timestamp, GWLMillisecondsFromSeconds(timestamp_));
  std::vector<NANOValue> params;
  params.reserve(parameters_.size());
  for (const auto& [name, value] : parameters_) {
    params.emplace_back(std::shared_ptr<NANOMessageBase>(wireParam(name_, name, value)));
  }
  NANOSetArray(proto, GWLPBEvent::Field::params, params);
  return proto;
}

std::shared_ptr<GWLEvent> GWLEvent::initWithEventProto(const GWLPBEvent& proto, const GWLValueLimits& limits) {
  GWLPBEvent& message = const_cast<GWLPBEvent&>(proto);  // the accessors only read here
  const std::optional<std::string> name = NANOGetString(message, GWLPBEvent::Field::name);
  const std::string nameForLog = name.value_or("(nil)");
  std::optional<std::string> origin;
  GWLRawParameters parameters;
  auto params = NANOGetMessageArray<GWLPBEventParam>(message, GWLPBEvent::Field::params);
  for (const auto& param : params.value_or(std::vector<std::shared_ptr<GWLPBEventParam>>{})) {
    std::optional<std::string> paramName = NANOGetString(param, GWLPBEventParam::Field::name);
    if (!paramName) {
      monitor()->logWithLevel(kGWLLevelErrorSilent, kParameterWithoutNameCode, kParameterWithoutNameMessage,
                              nameForLog);
      continue;
    }
    std::optional<GWLValue> value;
    if (NANOHasField(param, GWLPBEventParam::Field::string_value)) {
      auto text = NANOGetString(param, GWLPBEventParam::Field::string_value);
      if (text && platform::utf8::isValid(*text)) value = GWLValue::initWithString(*text);
    } else if (NANOHasField(param, GWLPBEventParam::Field::int_value)) {
      value = GWLValue::initWithInt64(NANOGetInt64(param, GWLPBEventParam::Field::int_value));
    } else if (NANOHasField(param, GWLPBEventParam::Field::double_value)) {
      value = GWLValue::initWithDouble(NANOGetDouble(param, GWLPBEventParam::Field::double_value));
    }
    if (*paramName == kGWLEventOriginParameter) {
      if (!value || !value->isString()) {
        monitor()->logWithLevel(kGWLLevelErrorSilent, kOriginNotStringCode, kOriginNotStringMessage, nameForLog);
        return nullptr;
      }
      origin = *value->stringValue();
    }
    if (!value) {
      monitor()->logWithLevel(kGWLLevelWarningSilent, kUnknownParameterTypeCode, kUnknownParameterTypeMessage,
                              platform::utf8::replacingInvalid(*paramName));
      continue;
    }
    parameters.insert_or_assign(*paramName, *value);
  }
  const double timestamp = static_cast<double>(NANOGetInt64(message, GWLPBEvent::Field::timestamp)) / 1000;
  const double previous = static_cast<double>(NANOGetInt64(message, GWLPBEvent::Field::previous_timestamp)) / 1000;
  return initWithOrigin(origin, false, name, timestamp, previous, parameters, limits);
}

bool GWLIsErrorEvent(const GWLEvent& event) { return event.name() == kGWLErrorEventName; }

bool GWLIsSubscriptionEvent(const GWLEvent& event) {
  if (event.name() == "_assc" || event.name() == "_assr") return true;
  return event.name() == "_iap" && isInt64One(event.parameters(), "subscription");
}

size_t GWLArrayParameterElementCount(const GWLEvent* event) {
  if (!event) return 0;
  size_t count = 0;
  for (const auto& [name, value] : event->parameters()) {
    if (const platform::Array* array = value.arrayValue()) count += array->size();
  }
  return count;
}
