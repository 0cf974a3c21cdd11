// What one audience filter costs on the worker queue: an event filter with
// typical conditions, a regular-expression condition (compiled on every
// evaluation), the worst a hostile expression can take before its limit ends
// it, and the check of a full definition.
#include <benchmark/benchmark.h>

#include <string>

#include "analytics/audiences/GWLAudienceDefinition.h"
#include "analytics/audiences/GWLAudienceFilterEvaluation.h"
#include "analytics/audiences/GWLAudienceNumberFilter.h"
#include "analytics/audiences/GWLAudienceStringFilter.h"
#include "analytics/foundation/core/GWLASLLogger.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/core/GWLMonitor.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBNumberFilter.h"
#include "analytics/wire/GWLPBStringFilter.h"
#include "analytics/wire/NANO.h"
#include "platform/dispatch/Clock.h"

namespace {

class SilentLogger : public GWLASLLogger {
 public:
  void logMessage(const std::string&, const std::string&, int64_t, int64_t) override {}
};

GWLAudienceFilterEnvironment quietEnvironment() {
  static std::shared_ptr<GWLMonitor> monitor = [] {
    GWLMonitor::Dependencies dependencies;  // no preferences: nothing is stored
    dependencies.clock = std::make_shared<platform::ManualClock>();
    return GWLMonitor::create(6, std::make_shared<SilentLogger>(), 1, dependencies);
  }();
  GWLAudienceFilterEnvironment environment;
  environment.monitor = monitor;
  return environment;
}

std::shared_ptr<GWLPBStringFilter> stringFilter(int32_t type, const std::string& expression) {
  auto filter = GWLPBStringFilter::initWithMessageInfo();
  NANOSetInt32(filter, GWLPBStringFilter::Field::match_type, type);
  NANOSetString(filter, GWLPBStringFilter::Field::expression, expression);
  return filter;
}

std::shared_ptr<GWLPBNumberFilter> numberFilter(int32_t type, const std::string& value, const std::string& maximum) {
  auto filter = GWLPBNumberFilter::initWithMessageInfo();
  NANOSetInt32(filter, GWLPBNumberFilter::Field::comparison_type, type);
  NANOSetString(filter, type == 4 ? GWLPBNumberFilter::Field::min_comparison_value
                                  : GWLPBNumberFilter::Field::comparison_value,
                value);
  if (type == 4) NANOSetString(filter, GWLPBNumberFilter::Field::max_comparison_value, maximum);
  return filter;
}

std::shared_ptr<GWLPBFilter> condition(const std::string& parameter, std::shared_ptr<GWLPBStringFilter> text,
                                       std::shared_ptr<GWLPBNumberFilter> number) {
  auto filter = GWLPBFilter::initWithMessageInfo();
  if (text) NANOSetMessage(filter, GWLPBFilter::Field::string_filter, text);
  if (number) NANOSetMessage(filter, GWLPBFilter::Field::number_filter, number);
  NANOSetString(filter, GWLPBFilter::Field::parameter_name, parameter);
  return filter;
}

std::shared_ptr<GWLPBEventFilter> purchaseFilter(int32_t filterID) {
  auto filter = GWLPBEventFilter::initWithMessageInfo();
  NANOSetInt32(filter, GWLPBEventFilter::Field::filter_id, filterID);
  NANOSetString(filter, GWLPBEventFilter::Field::event_name, "purchase");
  std::vector<NANOValue> conditions;
  conditions.emplace_back(std::shared_ptr<NANOMessageBase>(condition("value", nullptr, numberFilter(4, "9.99", "100"))));
  conditions.emplace_back(std::shared_ptr<NANOMessageBase>(condition("currency", stringFilter(5, "EUR"), nullptr)));
  conditions.emplace_back(std::shared_ptr<NANOMessageBase>(condition("quantity", nullptr, numberFilter(2, "1", ""))));
  NANOSetArray(filter, GWLPBEventFilter::Field::filters, conditions);
  NANOSetMessage(filter, GWLPBEventFilter::Field::event_count_filter, numberFilter(2, "2", ""));
  return filter;
}

void BM_EventFilterWithThreeConditions(benchmark::State& state) {
  const auto environment = quietEnvironment();
  auto filter = purchaseFilter(0);
  GWLParameters parameters{{"value", GWLValue::initWithDouble(19.5)},
                           {"currency", *GWLValue::initWithString("eur")},
                           {"quantity", GWLValue::initWithInt64(3)}};
  auto aggregates = GWLEventAggregates::initWithName("purchase", 5, 0, 2, 0);
  for (auto _ : state) {
    auto result = GWLAudienceEvaluateEventFilter(filter, "purchase", parameters, aggregates, environment);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_EventFilterWithThreeConditions);

void BM_RegularExpressionCondition(benchmark::State& state) {
  const auto environment = quietEnvironment();
  auto filter = stringFilter(1, "^(summer|winter)_sale_[0-9]{2,4}$");
  const std::string value = "winter_sale_2024";
  for (auto _ : state) {
    auto result = GWLAudienceEvaluateStringFilter(filter, std::string_view(value), environment);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_RegularExpressionCondition);

// The longest a hostile expression holds the worker queue on one value.
void BM_RunawayExpressionUntilItsLimit(benchmark::State& state) {
  const auto environment = quietEnvironment();
  auto filter = stringFilter(1, "(a+)+$");
  const std::string value = std::string(40, 'a') + "b";
  for (auto _ : state) {
    auto result = GWLAudienceEvaluateStringFilter(filter, std::string_view(value), environment);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_RunawayExpressionUntilItsLimit)->Unit(benchmark::kMillisecond);

void BM_DoubleComparison(benchmark::State& state) {
  const auto environment = quietEnvironment();
  auto filter = numberFilter(3, "+19.99", "");
  for (auto _ : state) {
    auto result = GWLAudienceEvaluateDoubleNumberFilter(filter, 19.99, environment);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_DoubleComparison);

// A definition at the default limit: ten event filters of three conditions.
void BM_DefinitionCheck(benchmark::State& state) {
  const auto environment = quietEnvironment();
  auto audience = GWLPBAudience::initWithMessageInfo();
  NANOSetInt32(audience, GWLPBAudience::Field::audience_id, 1);
  std::vector<NANOValue> filters;
  for (int32_t i = 0; i < 10; ++i) filters.push_back(purchaseFilter(i));
  NANOSetArray(audience, GWLPBAudience::Field::event_filters, filters);
  for (auto _ : state) {
    const bool valid = GWLAudienceValidateDefinition(audience, {}, environment);
    benchmark::DoNotOptimize(valid);
  }
}
BENCHMARK(BM_DefinitionCheck);

}  // namespace
