// Builders of audience and filter messages, and a fixture whose monitor
// records every printed line as (level, code).
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "analytics/audiences/GWLAudienceFilterEnvironment.h"
#include "analytics/foundation/values/ValuesTestSupport.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/NANO.h"

namespace audience_test {

// A three-valued answer as the tables write it.
enum class Answer { Yes, No, None };

inline Answer answerOf(std::optional<bool> result) {
  if (!result) return Answer::None;
  return *result ? Answer::Yes : Answer::No;
}

inline std::ostream& operator<<(std::ostream& out, Answer answer) {
  return out << (answer == Answer::Yes ? "YES" : answer == Answer::No ? "NO" : "no result");
}

// (level, code) of a monitor line.
using Line = std::pair<int64_t, int64_t>;
using Lines = std::vector<Line>;

// ---- Message builders ----

inline std::shared_ptr<GWLPBStringFilter> stringFilter(std::optional<int32_t> matchType,
                                                       std::optional<std::string> expression = std::nullopt,
                                                       std::optional<bool> caseSensitive = std::nullopt,
                                                       std::vector<std::string> list = {}) {
  auto filter = GWLPBStringFilter::initWithMessageInfo();
  using F = GWLPBStringFilter::Field;
  if (matchType) NANOSetInt32(filter, F::match_type, *matchType);
  if (expression) NANOSetString(filter, F::expression, *expression);
  if (caseSensitive) NANOSetBool(filter, F::case_sensitive, *caseSensitive);
  std::vector<NANOValue> items(list.begin(), list.end());
  NANOSetArray(filter, F::expression_list, items);
  return filter;
}

inline std::shared_ptr<GWLPBNumberFilter> numberFilter(std::optional<int32_t> comparisonType,
                                                       std::optional<std::string> value = std::nullopt,
                                                       std::optional<std::string> minimum = std::nullopt,
                                                       std::optional<std::string> maximum = std::nullopt) {
  auto filter = GWLPBNumberFilter::initWithMessageInfo();
  using F = GWLPBNumberFilter::Field;
  if (comparisonType) NANOSetInt32(filter, F::comparison_type, *comparisonType);
  if (value) NANOSetString(filter, F::comparison_value, *value);
  if (minimum) NANOSetString(filter, F::min_comparison_value, *minimum);
  if (maximum) NANOSetString(filter, F::max_comparison_value, *maximum);
  return filter;
}

inline std::shared_ptr<GWLPBNumberFilter> between(const std::string& minimum, const std::string& maximum) {
  return numberFilter(4, std::nullopt, minimum, maximum);
}

// A condition on a value; `parameterName` names the event parameter it tests.
inline std::shared_ptr<GWLPBFilter> condition(std::shared_ptr<GWLPBStringFilter> text,
                                              std::shared_ptr<GWLPBNumberFilter> number,
                                              std::optional<std::string> parameterName = std::nullopt,
                                              std::optional<bool> complement = std::nullopt) {
  auto filter = GWLPBFilter::initWithMessageInfo();
  using F = GWLPBFilter::Field;
  if (text) NANOSetMessage(filter, F::string_filter, text);
  if (number) NANOSetMessage(filter, F::number_filter, number);
  if (parameterName) NANOSetString(filter, F::parameter_name, *parameterName);
  if (complement) NANOSetBool(filter, F::complement, *complement);
  return filter;
}

inline std::shared_ptr<GWLPBFilter> textCondition(std::shared_ptr<GWLPBStringFilter> text,
                                                  std::optional<std::string> parameterName = std::nullopt) {
  return condition(std::move(text), nullptr, std::move(parameterName));
}

inline std::shared_ptr<GWLPBFilter> numberCondition(std::shared_ptr<GWLPBNumberFilter> number,
                                                    std::optional<std::string> parameterName = std::nullopt) {
  return condition(nullptr, std::move(number), std::move(parameterName));
}

inline std::shared_ptr<GWLPBEventFilter> eventFilter(std::optional<int32_t> filterID,
                                                     std::optional<std::string> eventName,
                                                     std::vector<std::shared_ptr<GWLPBFilter>> conditions = {},
                                                     std::shared_ptr<GWLPBNumberFilter> countFilter = nullptr,
                                                     bool sessionScoped = false) {
  auto filter = GWLPBEventFilter::initWithMessageInfo();
  using F = GWLPBEventFilter::Field;
  if (filterID) NANOSetInt32(filter, F::filter_id, *filterID);
  if (eventName) NANOSetString(filter, F::event_name, *eventName);
  NANOSetArray(filter, F::filters, std::vector<NANOValue>(conditions.begin(), conditions.end()));
  if (countFilter) NANOSetMessage(filter, F::event_count_filter, countFilter);
  if (sessionScoped) NANOSetBool(filter, F::session_scoped, true);
  return filter;
}

inline std::shared_ptr<GWLPBPropertyFilter> propertyFilter(std::optional<int32_t> filterID,
                                                           std::optional<std::string> propertyName,
                                                           std::shared_ptr<GWLPBFilter> valueFilter) {
  auto filter = GWLPBPropertyFilter::initWithMessageInfo();
  using F = GWLPBPropertyFilter::Field;
  if (filterID) NANOSetInt32(filter, F::filter_id, *filterID);
  if (propertyName) NANOSetString(filter, F::property_name, *propertyName);
  if (valueFilter) NANOSetMessage(filter, F::value_filter, valueFilter);
  return filter;
}

inline std::shared_ptr<GWLPBAudience> audience(std::optional<int32_t> audienceID,
                                               std::vector<std::shared_ptr<GWLPBEventFilter>> events,
                                               std::vector<std::shared_ptr<GWLPBPropertyFilter>> properties = {}) {
  auto message = GWLPBAudience::initWithMessageInfo();
  using F = GWLPBAudience::Field;
  if (audienceID) NANOSetInt32(message, F::audience_id, *audienceID);
  NANOSetArray(message, F::event_filters, std::vector<NANOValue>(events.begin(), events.end()));
  NANOSetArray(message, F::property_filters, std::vector<NANOValue>(properties.begin(), properties.end()));
  return message;
}

// ---- Fixture ----

class AudienceFiltersTest : public foundation_test::LibraryMonitorTest {
 protected:
  // Filters see this environment: the recording monitor and the default limits.
  GWLAudienceFilterEnvironment environment() const {
    GWLAudienceFilterEnvironment environment;
    environment.monitor = monitor_;
    return environment;
  }

  // (level, code) of every printed line since the last call.
  Lines lines() {
    Lines out;
    for (const auto& report : reports()) out.emplace_back(report.level, report.code);
    return out;
  }
};

}  // namespace audience_test
