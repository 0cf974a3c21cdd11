#include "analytics/audiences/GWLAudienceFilterEvaluation.h"

#include <cmath>

#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/audiences/GWLAudienceNumberFilter.h"
#include "analytics/audiences/GWLAudienceStringFilter.h"
#include "analytics/foundation/values/GWLDecimalNumber.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/NANO.h"

namespace {

using FilterField = GWLPBFilter::Field;
using EventFilterField = GWLPBEventFilter::Field;
using PropertyFilterField = GWLPBPropertyFilter::Field;

std::string describe(const std::shared_ptr<NANOMessageBase>& message) {
  return GWLAudienceMessageDescription(message.get());
}

// The string field, when present and readable.
std::optional<std::string> presentString(NANOMessageRef message, int32_t index) {
  if (!NANOHasField(message, index)) return std::nullopt;
  return NANOGetString(message, index);
}

std::optional<bool> evaluateNumber(const std::shared_ptr<GWLPBFilter>& filter,
                                   const std::shared_ptr<GWLPBNumberFilter>& numberFilter, const GWLValue& value,
                                   const GWLAudienceFilterEnvironment& environment) {
  if (const std::string* text = value.stringValue()) {
    if (!GWLIsDecimalString(*text)) {
      environment.log(kGWLAudienceLogStringNotNumeric, {value.description(), describe(filter)});
      return std::nullopt;
    }
    auto decimal = GWLDecimalNumberFromString(*text);
    if (!decimal) return std::nullopt;  // the reader has said why
    return GWLAudienceEvaluateDecimalNumberFilter(numberFilter, *decimal, environment);
  }
  if (value.isDouble()) {
    const double number = value.doubleValue();
    if (!std::isfinite(number)) {
      environment.log(kGWLAudienceLogNotWithinDoubleRange, {value.description(), describe(filter)});
      return std::nullopt;
    }
    return GWLAudienceEvaluateDoubleNumberFilter(numberFilter, number, environment);
  }
  if (value.isInt64()) return GWLAudienceEvaluateIntegerNumberFilter(numberFilter, value.int64Value(), environment);
  return std::nullopt;  // an array has no number
}

}  // namespace

std::optional<bool> GWLAudienceEvaluateParameterValue(const std::shared_ptr<GWLPBFilter>& filter,
                                                      const GWLValue& value,
                                                      const GWLAudienceFilterEnvironment& environment) {
  auto numberFilter = filter ? NANOGetMessage<GWLPBNumberFilter>(filter, FilterField::number_filter) : nullptr;
  auto stringFilter = filter ? NANOGetMessage<GWLPBStringFilter>(filter, FilterField::string_filter) : nullptr;
  std::optional<bool> result;
  if (numberFilter) {
    result = evaluateNumber(filter, numberFilter, value, environment);
  } else if (stringFilter) {
    if (const std::string* text = value.stringValue()) {
      result = GWLAudienceEvaluateStringFilter(stringFilter, std::string_view(*text), environment);
    } else {
      environment.log(kGWLAudienceLogValueNotString, {value.description(), describe(filter)});
    }
  } else {
    environment.log(kGWLAudienceLogNoCondition, {value.description(), describe(filter)});
  }
  if (result && NANOHasField(filter, FilterField::complement) && NANOGetBool(filter, FilterField::complement)) {
    result = !*result;
  }
  return result;
}

std::optional<bool> GWLAudienceEvaluateParameterValue(const std::shared_ptr<GWLPBFilter>& filter,
                                                      const GWLValue& value) {
  return GWLAudienceEvaluateParameterValue(filter, value, GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluateEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter,
                                                   const std::string& eventName, const GWLParameters& parameters,
                                                   const std::shared_ptr<GWLEventAggregates>& aggregates,
                                                   const GWLAudienceFilterEnvironment& environment) {
  if (!filter) {
    environment.log(kGWLAudienceLogEventFilterNil, {eventName});
    return std::nullopt;
  }
  if (eventName.empty()) {
    environment.log(kGWLAudienceLogEventNameNil, {describe(filter)});
    return std::nullopt;
  }
  if (presentString(filter, EventFilterField::event_name) != eventName) {
    environment.log(kGWLAudienceLogEventNameMismatch, {eventName, describe(filter)});
    return std::nullopt;
  }
  auto countFilter = NANOGetMessage<GWLPBNumberFilter>(filter, EventFilterField::event_count_filter);
  auto conditions = NANOGetMessageArray<GWLPBFilter>(filter, EventFilterField::filters);
  const bool hasConditions = conditions && !conditions->empty();
  if (!countFilter && !hasConditions) return true;

  if (countFilter) {
    if (!aggregates || aggregates->name() != eventName) {
      environment.log(kGWLAudienceLogAggregatesNameMismatch,
                      {aggregates ? GWLLogContext(aggregates->name()) : GWLLogContext(), eventName, describe(filter)});
      return std::nullopt;
    }
    const bool sessionScoped = NANOGetBool(filter, EventFilterField::session_scoped);
    const int32_t count = sessionScoped ? aggregates->currentSessionCount() : aggregates->lifetimeCount();
    auto result = GWLAudienceEvaluateIntegerNumberFilter(countFilter, count, environment);
    if (result != true) return result;
  }

  if (!hasConditions) return true;
  for (const auto& condition : *conditions) {
    auto parameterName = presentString(condition, FilterField::parameter_name);
    if (!parameterName) {
      environment.log(kGWLAudienceLogNoParameterName, {eventName, describe(filter)});
      return std::nullopt;
    }
    auto parameter = parameters.find(*parameterName);
    if (parameter == parameters.end()) {
      environment.log(kGWLAudienceLogMissingParameter,
                      {eventName, platform::Object(GWLDictionaryFromParameters(parameters)), describe(condition)});
      return std::nullopt;
    }
    if (parameter->second.isString() && !NANOHasField(condition, FilterField::string_filter)) {
      environment.log(kGWLAudienceLogStringParameterWithoutStringFilter,
                      {eventName, platform::Object(GWLDictionaryFromParameters(parameters)), describe(condition)});
      return std::nullopt;
    }
    auto result = GWLAudienceEvaluateParameterValue(condition, parameter->second, environment);
    if (result != true) return result;
  }
  return true;
}

std::optional<bool> GWLAudienceEvaluateEventFilter(const std::shared_ptr<GWLPBEventFilter>& filter,
                                                   const std::string& eventName, const GWLParameters& parameters,
                                                   const std::shared_ptr<GWLEventAggregates>& aggregates) {
  return GWLAudienceEvaluateEventFilter(filter, eventName, parameters, aggregates,
                                        GWLAudienceFilterEnvironment::current());
}

std::optional<bool> GWLAudienceEvaluatePropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter,
                                                      const std::shared_ptr<GWLUserAttribute>& attribute,
                                                      const GWLAudienceFilterEnvironment& environment) {
  if (!filter) {
    environment.log(kGWLAudienceLogPropertyFilterNil, {attribute ? GWLLogContext(attribute->name()) : GWLLogContext()});
    return std::nullopt;
  }
  if (!attribute) {
    environment.log(kGWLAudienceLogUserPropertyNil, {describe(filter)});
    return std::nullopt;
  }
  if (presentString(filter, PropertyFilterField::property_name) != attribute->name()) {
    environment.log(kGWLAudienceLogPropertyNameMismatch, {attribute->name(), describe(filter)});
    return std::nullopt;
  }
  auto condition = NANOGetMessage<GWLPBFilter>(filter, PropertyFilterField::value_filter);
  if (!condition) {
    environment.log(kGWLAudienceLogPropertyFilterWithoutFilter, {describe(filter)});
    return std::nullopt;
  }
  const GWLValue& value = attribute->value();
  if (!value.isString() && !value.isInt64() && !value.isDouble()) {
    environment.log(kGWLAudienceLogUnknownPropertyType, {attribute->name()});
    return std::nullopt;
  }
  return GWLAudienceEvaluateParameterValue(condition, value, environment);
}

std::optional<bool> GWLAudienceEvaluatePropertyFilter(const std::shared_ptr<GWLPBPropertyFilter>& filter,
                                                      const std::shared_ptr<GWLUserAttribute>& attribute) {
  return GWLAudienceEvaluatePropertyFilter(filter, attribute, GWLAudienceFilterEnvironment::current());
}
