// GWLAudience: construction and the evaluation of events and user properties.
// The upkeep of definitions and results is in GWLAudienceUpkeep.cc.
#include "analytics/audiences/GWLAudience.h"

#include <utility>

#include "analytics/audiences/GWLAudienceEvaluation.h"
#include "analytics/audiences/GWLAudienceLog.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/foundation/config/GWLMeasurementRegistry.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/core/GWLLibraryMonitor.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLEvent.h"
#include "analytics/foundation/values/GWLLogTexts.h"
#include "analytics/foundation/values/GWLUserAttribute.h"
#include "analytics/wire/GWLPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/NANO.h"

namespace {

// One event against the stored event filters of its name.
struct EventEvaluation {
  using Filter = GWLEventFilter;
  static constexpr const GWLAudienceLogLine& kReadFilters = kGWLAudienceLogQueryEventFilters;
  static constexpr const GWLAudienceLogLine& kReadResult = kGWLAudienceLogQueryEventFilterResult;
  static constexpr const GWLAudienceLogLine& kSaveResults = kGWLAudienceLogSaveEventFilterResults;

  const std::string& eventName;
  const GWLParameters& parameters;
  const std::shared_ptr<GWLEventAggregates>& aggregates;
  double timestamp;

  std::string nameForLog() const { return GWLEventNameForLog(eventName); }
  std::optional<std::vector<std::shared_ptr<GWLEventFilter>>> readFilters(GWLDatabase& database,
                                                                         platform::Error* error) const {
    return database.eventFiltersForEventName(eventName, error);
  }
  std::optional<bool> evaluate(const GWLEventFilter& filter, const GWLAudienceFilterEnvironment& environment) const {
    return GWLAudienceEvaluateStoredEventFilter(filter, parameters, aggregates, environment);
  }
  // An event filter that held once keeps holding.
  static bool storedResult(bool result, bool wasTrue, const GWLEventFilter&) { return result || wasTrue; }
};

// One user property against the stored property filters of its name.
struct PropertyEvaluation {
  using Filter = GWLPropertyFilter;
  static constexpr const GWLAudienceLogLine& kReadFilters = kGWLAudienceLogQueryPropertyFilters;
  static constexpr const GWLAudienceLogLine& kReadResult = kGWLAudienceLogQueryPropertyFilterResult;
  static constexpr const GWLAudienceLogLine& kSaveResults = kGWLAudienceLogSavePropertyFilterResults;

  const std::shared_ptr<GWLUserAttribute>& attribute;
  double timestamp;

  std::string nameForLog() const { return GWLUserPropertyNameForLog(attribute ? attribute->name() : std::string()); }
  std::optional<std::vector<std::shared_ptr<GWLPropertyFilter>>> readFilters(GWLDatabase& database,
                                                                            platform::Error* error) const {
    return database.propertyFiltersForPropertyName(attribute ? attribute->name() : std::string(), error);
  }
  std::optional<bool> evaluate(const GWLPropertyFilter& filter,
                               const GWLAudienceFilterEnvironment& environment) const {
    return GWLAudienceEvaluateStoredPropertyFilter(filter, attribute, environment);
  }
  // A property filter that stops matching turns false only when it is
  // dynamic and not session scoped.
  static bool storedResult(bool result, bool wasTrue, const GWLPropertyFilter& filter) {
    return GWLAudienceTakesNewPropertyResult(result, filter) ? result : wasTrue;
  }
};

}  // namespace

GWLAudience::GWLAudience(std::shared_ptr<GWLDatabase> database, Dependencies dependencies)
    : database_(std::move(database)), dependencies_(std::move(dependencies)) {}

std::shared_ptr<GWLAudience> GWLAudience::initWithDatabase(std::shared_ptr<GWLDatabase> database,
                                                           Dependencies dependencies) {
  if (!database) return nullptr;
  return std::shared_ptr<GWLAudience>(new GWLAudience(std::move(database), std::move(dependencies)));
}

std::shared_ptr<GWLRemoteConfig> GWLAudience::remoteConfig() const {
  if (dependencies_.remoteConfig) {
    if (auto config = dependencies_.remoteConfig()) return config;
  }
  return GWLMeasurementRegistry::remoteConfig();
}

GWLAudienceFilterEnvironment GWLAudience::environment() const {
  auto monitor = dependencies_.monitor ? dependencies_.monitor : GWLLibraryMonitor::monitor();
  if (auto config = remoteConfig()) return GWLAudienceFilterEnvironment::withRemoteConfig(*config, monitor);
  GWLAudienceFilterEnvironment environment;
  environment.monitor = std::move(monitor);
  return environment;
}

std::shared_ptr<GWLAudienceTimestampsCache> GWLAudience::newTimestampsCache() {
  return std::make_shared<GWLAudienceTimestampsCache>(environment().monitor);
}

bool GWLAudience::evaluateFiltersForEvent(const std::shared_ptr<GWLEvent>& event,
                                          const std::shared_ptr<GWLEventAggregates>& aggregates,
                                          const std::shared_ptr<GWLAudienceTimestampsCache>& cache) {
  if (!event) return evaluateFiltersForEventName(std::string(), GWLParameters{}, aggregates, 0, cache);
  return evaluateFiltersForEventName(event->name(), event->parameters(), aggregates, event->timestamp(), cache);
}

bool GWLAudience::evaluateFiltersForEventName(const std::string& eventName, const GWLParameters& parameters,
                                              const std::shared_ptr<GWLEventAggregates>& aggregates,
                                              double eventTimestamp,
                                              const std::shared_ptr<GWLAudienceTimestampsCache>& cache) {
  EventEvaluation evaluation{eventName, parameters, aggregates, eventTimestamp};
  return evaluateStoredFilters(evaluation, cache, environment());
}

bool GWLAudience::evaluateFiltersForUserProperty(const std::shared_ptr<GWLUserAttribute>& attribute,
                                                 const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                                                 double evaluationTimestamp) {
  PropertyEvaluation evaluation{attribute, evaluationTimestamp};
  return evaluateStoredFilters(evaluation, cache, environment());
}

bool GWLAudience::evaluateFiltersForNanoUserProperty(const std::shared_ptr<GWLPBUserAttribute>& attribute,
                                                     const std::shared_ptr<GWLAudienceTimestampsCache>& cache,
                                                     std::optional<double> evaluationTime) {
  auto userAttribute = GWLAudienceUserAttributeFromWire(attribute);
  if (!userAttribute) {
    environment().log(kGWLAudienceLogNanoUserPropertyUnreadable);
    return false;
  }
  return evaluateFiltersForUserProperty(userAttribute, cache,
                                        evaluationTime.value_or(userAttribute->lastSetTimestamp()));
}

template <class Evaluation>
bool GWLAudience::evaluateStoredFilters(Evaluation& evaluation,
                                        const std::shared_ptr<GWLAudienceTimestampsCache>& givenCache,
                                        const GWLAudienceFilterEnvironment& environment) {
  platform::Error error;
  auto filters = evaluation.readFilters(*database_, &error);
  if (!filters) {
    if (!GWLAudienceCallFailed(error)) return true;  // no answer and no error: nothing to evaluate
    environment.log(Evaluation::kReadFilters, {evaluation.nameForLog(), error});
    return false;
  }

  auto cache = givenCache ? givenCache : std::make_shared<GWLAudienceTimestampsCache>(environment.monitor);
  // Rows rewritten during this call, and rows read but not yet rewritten.
  std::map<int32_t, std::shared_ptr<GWLFilterResult>> updated;
  std::map<int32_t, std::shared_ptr<GWLFilterResult>> fetched;
  for (const auto& filter : *filters) {
    if (!filter) continue;
    // A filter ID no configuration can give comes from a damaged row.
    if (!GWLAudienceIsValidFilterID(filter->filterID())) {
      GWLAudienceLogCorruptFilter(*filter, environment);
      continue;
    }
    const int32_t audienceID = filter->audienceID();
    std::shared_ptr<GWLFilterResult> current;
    if (auto found = updated.find(audienceID); found != updated.end()) {
      current = found->second;
    } else if (auto fetchedRow = fetched.find(audienceID); fetchedRow != fetched.end()) {
      current = fetchedRow->second;
    } else {
      platform::Error readError;
      current = database_->filterResultForAudienceID(audienceID, &readError);
      if (!current && GWLAudienceCallFailed(readError)) {
        environment.log(Evaluation::kReadResult, {evaluation.nameForLog(), readError});
        return false;
      }
      if (current) fetched[audienceID] = current;
    }

    const bool wasTrue = isFilterResult(current, filter->filterID(), environment);
    if (!GWLAudienceShouldEvaluateFilter(wasTrue, *filter)) continue;
    const std::optional<bool> result = evaluation.evaluate(*filter, environment);
    // Without a result the filter keeps its bits and times, and its row is
    // not rewritten for it.
    if (!result) continue;
    cache->populateCachedTimestamps(current, audienceID);
    if (*result) cache->addEvaluationTimestamp(evaluation.timestamp, *filter);
    const bool stored = Evaluation::storedResult(*result, wasTrue, *filter);
    updated[audienceID] = updatedFilterResultWithFilterID(filter->filterID(), audienceID, current, stored, *cache);
    fetched.erase(audienceID);
  }

  if (updated.empty()) return true;
  std::vector<std::shared_ptr<GWLFilterResult>> rows;
  rows.reserve(updated.size());
  for (auto& [audienceID, row] : updated) rows.push_back(row);
  platform::Error saveError;
  if (!database_->updateFilterResults(rows, &saveError) && GWLAudienceCallFailed(saveError)) {
    environment.log(Evaluation::kSaveResults, {evaluation.nameForLog(), saveError});
    return false;
  }
  return true;
}

bool GWLAudience::isFilterResult(const std::shared_ptr<GWLFilterResult>& row, int32_t filterID,
                                 const GWLAudienceFilterEnvironment& environment) {
  if (!row || !row->currentResults() || row->currentResults()->empty()) return false;
  auto data = GWLPBResultData::initWithBuffer(*row->currentResults());
  const GWLAudienceResultWords words = GWLAudienceResultWords::of(data);
  if (words.status.empty() || words.results.empty()) {
    environment.log(kGWLAudienceLogResultMissingWords, {row->audienceID(), GWLAudienceMessageDescription(data.get())});
    return false;
  }
  return GWLAudienceResultWords::isSet(words.status, filterID) &&
         GWLAudienceResultWords::isSet(words.results, filterID);
}

std::shared_ptr<GWLFilterResult> GWLAudience::updatedFilterResultWithFilterID(
    int32_t filterID, int32_t audienceID, const std::shared_ptr<GWLFilterResult>& currentFilterResult,
    std::optional<bool> newEvaluationResult, const GWLAudienceTimestampsCache& cache) {
  std::shared_ptr<GWLPBResultData> stored;
  if (currentFilterResult && currentFilterResult->currentResults() &&
      !currentFilterResult->currentResults()->empty()) {
    stored = GWLPBResultData::initWithBuffer(*currentFilterResult->currentResults());
  }
  GWLAudienceResultWords words = GWLAudienceResultWords::of(stored);
  words.setBits(filterID, newEvaluationResult.has_value(), newEvaluationResult.value_or(false));

  auto data = GWLPBResultData::initWithMessageInfo();
  words.writeTo(data);
  auto dynamic = cache.dynamicTimestampsForAudienceID(audienceID);
  NANOSetArray(data, GWLPBResultData::Field::dynamic_filter_timestamps,
               std::vector<NANOValue>(dynamic.begin(), dynamic.end()));
  if (auto sequence = cache.sequenceTimestampsForAudienceID(audienceID)) {
    NANOSetArray(data, GWLPBResultData::Field::sequence_filter_timestamps,
                 std::vector<NANOValue>(sequence->begin(), sequence->end()));
  }
  return std::make_shared<GWLFilterResult>(
      audienceID, data->protoBuffer(),
      currentFilterResult ? currentFilterResult->previousResults() : std::nullopt);
}
