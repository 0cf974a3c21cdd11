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

// One audience's row during an evaluation: as read, and its words as the
// evaluation has rewritten them.
struct AudienceRow {
  explicit AudienceRow(std::shared_ptr<GWLFilterResult> row) : stored(std::move(row)) {
    if (hasStoredResults()) {
      decoded = GWLPBResultData::initWithBuffer(*stored->currentResults());
      words = GWLAudienceResultWords::of(decoded);
    }
  }

  bool hasStoredResults() const {
    return stored && stored->currentResults() && !stored->currentResults()->empty();
  }

  // Whether the filter has been evaluated and holds. Stored results without
  // status or results words log 6023 and hold nothing.
  bool holds(int32_t filterID, int32_t audienceID, const GWLAudienceFilterEnvironment& environment) const {
    if (!rewritten && !hasStoredResults()) return false;
    if (words.status.empty() || words.results.empty()) {
      environment.log(kGWLAudienceLogResultMissingWords, {audienceID, GWLAudienceMessageDescription(decoded.get())});
      return false;
    }
    return GWLAudienceResultWords::isSet(words.status, filterID) &&
           GWLAudienceResultWords::isSet(words.results, filterID);
  }

  std::shared_ptr<GWLFilterResult> stored;
  std::shared_ptr<GWLPBResultData> decoded;
  GWLAudienceResultWords words;
  bool rewritten = false;
};

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
  std::optional<bool> evaluate(const GWLPropertyFilter& filter, const GWLAudienceFilterEnvironment& environment) const {
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
                                        GWLAudienceFilterEnvironment environment) {
  platform::Error error;
  auto filters = evaluation.readFilters(*database_, &error);
  if (!filters) {
    if (!GWLAudienceCallFailed(error)) return true;  // no answer and no error: nothing to evaluate
    environment.log(Evaluation::kReadFilters, {evaluation.nameForLog(), error});
    return false;
  }

  auto cache = givenCache ? givenCache : std::make_shared<GWLAudienceTimestampsCache>(environment.monitor);
  environment.regexCache = cache->regexCache();
  // Each audience's row is read once (or found missing once) and rewritten
  // in memory; the rewritten rows are saved together at the end.
  std::map<int32_t, AudienceRow> rows;
  for (const auto& filter : *filters) {
    if (!filter) continue;
    // A filter ID no configuration can give comes from a damaged row.
    if (!GWLAudienceIsValidFilterID(filter->filterID())) {
      GWLAudienceLogCorruptFilter(*filter, environment);
      continue;
    }
    const int32_t audienceID = filter->audienceID();
    auto found = rows.find(audienceID);
    if (found == rows.end()) {
      platform::Error readError;
      auto stored = database_->filterResultForAudienceID(audienceID, &readError);
      if (!stored && GWLAudienceCallFailed(readError)) {
        environment.log(Evaluation::kReadResult, {evaluation.nameForLog(), readError});
        return false;
      }
      found = rows.emplace(audienceID, AudienceRow(std::move(stored))).first;
    }
    AudienceRow& row = found->second;

    const bool wasTrue = row.holds(filter->filterID(), audienceID, environment);
    if (!GWLAudienceShouldEvaluateFilter(wasTrue, *filter)) continue;
    const std::optional<bool> result = evaluation.evaluate(*filter, environment);
    // Without a result the filter keeps its bits and times, and its row is
    // not rewritten for it.
    if (!result) continue;
    cache->populateCachedTimestamps(row.stored, audienceID);
    if (*result) cache->addEvaluationTimestamp(evaluation.timestamp, *filter);
    row.words.setBits(filter->filterID(), true, Evaluation::storedResult(*result, wasTrue, *filter));
    row.rewritten = true;
  }

  std::vector<std::shared_ptr<GWLFilterResult>> rewritten;
  for (const auto& [audienceID, row] : rows) {
    if (!row.rewritten) continue;
    rewritten.push_back(resultRow(audienceID, row.words, *cache,
                                  row.stored ? row.stored->previousResults() : std::nullopt));
  }
  if (rewritten.empty()) return true;
  platform::Error saveError;
  if (!database_->updateFilterResults(rewritten, &saveError) && GWLAudienceCallFailed(saveError)) {
    environment.log(Evaluation::kSaveResults, {evaluation.nameForLog(), saveError});
    return false;
  }
  return true;
}

bool GWLAudience::isFilterResult(const std::shared_ptr<GWLFilterResult>& row, int32_t filterID,
                                 const GWLAudienceFilterEnvironment& environment) {
  if (!row) return false;
  return AudienceRow(row).holds(filterID, row->audienceID(), environment);
}

std::shared_ptr<GWLFilterResult> GWLAudience::updatedFilterResultWithFilterID(
    int32_t filterID, int32_t audienceID, const std::shared_ptr<GWLFilterResult>& currentFilterResult,
    std::optional<bool> newEvaluationResult, const GWLAudienceTimestampsCache& cache) {
  AudienceRow row(currentFilterResult);
  row.words.setBits(filterID, newEvaluationResult.has_value(), newEvaluationResult.value_or(false));
  return resultRow(audienceID, row.words, cache,
                   currentFilterResult ? currentFilterResult->previousResults() : std::nullopt);
}

std::shared_ptr<GWLFilterResult> GWLAudience::resultRow(int32_t audienceID, const GWLAudienceResultWords& words,
                                                        const GWLAudienceTimestampsCache& cache,
                                                        std::optional<std::vector<uint8_t>> previousResults) {
  auto data = GWLPBResultData::initWithMessageInfo();
  words.writeTo(data);
  auto dynamic = cache.dynamicTimestampsForAudienceID(audienceID);
  NANOSetArray(data, GWLPBResultData::Field::dynamic_filter_timestamps,
               std::vector<NANOValue>(dynamic.begin(), dynamic.end()));
  if (auto sequence = cache.sequenceTimestampsForAudienceID(audienceID)) {
    NANOSetArray(data, GWLPBResultData::Field::sequence_filter_timestamps,
                 std::vector<NANOValue>(sequence->begin(), sequence->end()));
  }
  return std::make_shared<GWLFilterResult>(audienceID, data->protoBuffer(), std::move(previousResults));
}
