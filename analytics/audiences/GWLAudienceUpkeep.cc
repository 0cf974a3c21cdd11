// GWLAudience: replacing the stored definitions, results for a bundle, and
// the session-scoped reset.
#include <algorithm>
#include <utility>

#include "analytics/audiences/GWLAudience.h"
#include "analytics/audiences/GWLAudienceDefinition.h"
#include "analytics/audiences/GWLAudienceEvaluation.h"
#include "analytics/audiences/GWLAudienceLog.h"
#include "analytics/audiences/GWLAudienceMessageDescription.h"
#include "analytics/foundation/config/GWLRemoteConfig.h"
#include "analytics/foundation/storage/GWLDatabase.h"
#include "analytics/foundation/values/GWLNameTables.h"
#include "analytics/wire/GWLPBAudience.h"
#include "analytics/wire/GWLPBAudienceLeafFilterResult.h"
#include "analytics/wire/GWLPBDynamicFilterResultTimestamp.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/GWLPBResultData.h"
#include "analytics/wire/GWLPBSequenceFilterResultTimestamp.h"
#include "analytics/wire/NANO.h"

namespace {

template <class M>
std::vector<NANOValue> valuesOf(const std::vector<std::shared_ptr<M>>& messages) {
  return std::vector<NANOValue>(messages.begin(), messages.end());
}

// The internal name of a public one, else the name itself.
std::optional<std::string> translated(const GWLNameMap& map, const std::optional<std::string>& name) {
  if (!name) return name;
  auto found = map.find(*name);
  return found == map.end() ? name : std::optional<std::string>(found->second);
}

std::shared_ptr<GWLEventFilter> eventFilterRow(int32_t audienceID, const std::shared_ptr<GWLPBEventFilter>& filter) {
  using Field = GWLPBEventFilter::Field;
  const auto name = translated(GWLPublicToInternalEventNameMap(), NANOGetString(filter, Field::event_name));
  NANOSetString(filter, Field::event_name, name);
  auto conditions =
      NANOGetMessageArray<GWLPBFilter>(filter, Field::filters).value_or(std::vector<std::shared_ptr<GWLPBFilter>>{});
  bool renamed = false;
  for (const auto& condition : conditions) {
    if (!NANOHasField(condition, GWLPBFilter::Field::parameter_name)) continue;
    const auto parameter = NANOGetString(condition, GWLPBFilter::Field::parameter_name);
    const auto internal = translated(GWLPublicToInternalParameterNameMap(), parameter);
    if (internal == parameter) continue;
    NANOSetString(condition, GWLPBFilter::Field::parameter_name, internal);
    renamed = true;
  }
  if (renamed) NANOSetArray(filter, Field::filters, valuesOf(conditions));
  return std::make_shared<GWLEventFilter>(audienceID, NANOGetInt32(filter, Field::filter_id), name.value_or(""),
                                          filter->protoBuffer().value_or(std::vector<uint8_t>{}),
                                          NANOGetBool(filter, Field::session_scoped),
                                          NANOGetBool(filter, Field::dynamic), NANOGetBool(filter, Field::sequence));
}

std::shared_ptr<GWLPropertyFilter> propertyFilterRow(int32_t audienceID,
                                                     const std::shared_ptr<GWLPBPropertyFilter>& filter) {
  using Field = GWLPBPropertyFilter::Field;
  const auto name =
      translated(GWLPublicToInternalUserPropertyNameMap(), NANOGetString(filter, Field::property_name));
  NANOSetString(filter, Field::property_name, name);
  return std::make_shared<GWLPropertyFilter>(audienceID, NANOGetInt32(filter, Field::filter_id), name.value_or(""),
                                             filter->protoBuffer().value_or(std::vector<uint8_t>{}),
                                             NANOGetBool(filter, Field::session_scoped),
                                             NANOGetBool(filter, Field::dynamic),
                                             NANOGetBool(filter, Field::sequence));
}

// Filter rows in ascending audience and filter ID.
template <class Filter>
void sortRows(std::vector<std::shared_ptr<Filter>>& rows) {
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    return std::pair(a->audienceID(), a->filterID()) < std::pair(b->audienceID(), b->filterID());
  });
}

std::shared_ptr<GWLPBResultData> decodedResults(const std::optional<std::vector<uint8_t>>& bytes) {
  if (!bytes || bytes->empty()) return nullptr;
  return GWLPBResultData::initWithBuffer(*bytes);
}

// Keeps only the last time of the first sequence record when it holds more
// than one; whether it did.
bool shortenFirstSequenceRecord(const std::shared_ptr<GWLPBResultData>& data) {
  auto records = NANOGetMessageArray<GWLPBSequenceFilterResultTimestamp>(
      data, GWLPBResultData::Field::sequence_filter_timestamps);
  if (!records || records->empty()) return false;
  const auto& first = records->front();
  auto times = NANOGetArray(first, GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps);
  if (!times || times->size() <= 1) return false;
  NANOSetArray(first, GWLPBSequenceFilterResultTimestamp::Field::eval_timestamps,
               std::vector<NANOValue>{times->back()});
  NANOSetArray(data, GWLPBResultData::Field::sequence_filter_timestamps, valuesOf(*records));
  return true;
}

// Drops the time records of the given filters from one timestamp list.
template <class Record>
void dropTimestamps(const std::shared_ptr<GWLPBResultData>& data, int32_t field,
                    const std::vector<int32_t>& filterIDs) {
  auto records = NANOGetMessageArray<Record>(data, field).value_or(std::vector<std::shared_ptr<Record>>{});
  std::erase_if(records, [&](const std::shared_ptr<Record>& record) {
    const int32_t filterID = NANOGetInt32(record, Record::Field::filter_id);
    return std::find(filterIDs.begin(), filterIDs.end(), filterID) != filterIDs.end();
  });
  NANOSetArray(data, field, valuesOf(records));
}

}  // namespace

bool GWLAudience::updateAudiences(const Audiences& audiences) {
  const GWLAudienceFilterEnvironment environment = this->environment();
  const int32_t maxAudienceCount = remoteConfig()->maxAudienceCount();
  if (audiences.size() > static_cast<size_t>(std::max(maxAudienceCount, 0))) {
    environment.log(kGWLAudienceLogTooManyAudiences, {static_cast<int64_t>(audiences.size())});
    return true;
  }

  std::set<int32_t> accepted;
  std::vector<std::shared_ptr<GWLEventFilter>> eventFilters;
  std::vector<std::shared_ptr<GWLPropertyFilter>> propertyFilters;
  for (const auto& audience : audiences) {
    platform::Error invalid;
    if (!GWLAudienceValidateDefinition(audience, accepted, environment, &invalid)) {
      environment.log(kGWLAudienceLogInvalidDefinition, {GWLAudienceMessageDescription(audience.get()), invalid});
      continue;
    }
    const int32_t audienceID = NANOGetInt32(audience, GWLPBAudience::Field::audience_id);
    accepted.insert(audienceID);
    // The list getters hand out copies: the configuration's messages stay as they came.
    for (const auto& filter : NANOGetMessageArray<GWLPBEventFilter>(audience, GWLPBAudience::Field::event_filters)
                                  .value_or(std::vector<std::shared_ptr<GWLPBEventFilter>>{})) {
      eventFilters.push_back(eventFilterRow(audienceID, filter));
    }
    for (const auto& filter :
         NANOGetMessageArray<GWLPBPropertyFilter>(audience, GWLPBAudience::Field::property_filters)
             .value_or(std::vector<std::shared_ptr<GWLPBPropertyFilter>>{})) {
      propertyFilters.push_back(propertyFilterRow(audienceID, filter));
    }
  }
  sortRows(eventFilters);
  sortRows(propertyFilters);

  if (!maybeDeleteStaleFilterResults(accepted)) return false;

  struct Step {
    const GWLAudienceLogLine& line;
    std::function<bool(platform::Error*)> run;
  };
  const Step steps[] = {
      {kGWLAudienceLogDeleteEventFilters, [&](platform::Error* e) { return database_->deleteAllEventFilters(e); }},
      {kGWLAudienceLogDeletePropertyFilters,
       [&](platform::Error* e) { return database_->deleteAllPropertyFilters(e); }},
      {kGWLAudienceLogSaveEventFilters,
       [&](platform::Error* e) { return eventFilters.empty() || database_->updateEventFilters(eventFilters, e); }},
      {kGWLAudienceLogSavePropertyFilters,
       [&](platform::Error* e) {
         return propertyFilters.empty() || database_->updatePropertyFilters(propertyFilters, e);
       }},
  };
  for (const auto& step : steps) {
    platform::Error error;
    if (!step.run(&error) && GWLAudienceCallFailed(error)) {
      environment.log(step.line, {error});
      return false;
    }
  }
  return true;
}

bool GWLAudience::maybeDeleteStaleFilterResults(const std::set<int32_t>& acceptedAudienceIDs) {
  const GWLAudienceFilterEnvironment environment = this->environment();
  platform::Error error;
  auto results = database_->allFilterResults(&error);
  if (!results) {
    if (!GWLAudienceCallFailed(error)) return true;
    environment.log(kGWLAudienceLogQueryResultsForUpdate, {error});
    return false;
  }
  const int32_t limit = remoteConfig()->maxFilterResultCount();
  if (results->size() <= static_cast<size_t>(std::max(limit, 0))) return true;

  environment.log(kGWLAudienceLogTooManyResults, {static_cast<int64_t>(results->size()), limit});
  // The stored filters are still those of the configuration being replaced.
  platform::Error idsError;
  auto storedIDs = database_->allAudienceIDs(&idsError);
  if (!storedIDs && GWLAudienceCallFailed(idsError)) {
    environment.log(kGWLAudienceLogQueryAudienceIDs, {idsError});
    return false;
  }
  std::set<int32_t> known = acceptedAudienceIDs;
  if (storedIDs) known.insert(storedIDs->begin(), storedIDs->end());
  std::vector<std::shared_ptr<GWLFilterResult>> stale;
  for (const auto& [audienceID, row] : *results) {
    if (!known.count(audienceID)) stale.push_back(row);
  }
  if (stale.empty()) return true;
  platform::Error deleteError;
  if (!database_->deleteFilterResults(stale, &deleteError) && GWLAudienceCallFailed(deleteError)) {
    environment.log(kGWLAudienceLogDeleteStaleResults, {deleteError});
    return false;
  }
  return true;
}

std::optional<GWLAudience::LeafResults> GWLAudience::resultsForBundling() {
  const GWLAudienceFilterEnvironment environment = this->environment();
  platform::Error error;
  auto results = database_->allFilterResults(&error);
  if (!results && GWLAudienceCallFailed(error)) {
    environment.log(kGWLAudienceLogQueryResultsForBundling, {error});
    return std::nullopt;
  }

  LeafResults leaves;
  std::vector<std::shared_ptr<GWLFilterResult>> rolled;
  using LeafField = GWLPBAudienceLeafFilterResult::Field;
  for (const auto& [audienceID, row] : results.value_or(std::map<int32_t, std::shared_ptr<GWLFilterResult>>{})) {
    auto current = decodedResults(row->currentResults());
    if (!current) {
      environment.log(kGWLAudienceLogCurrentResultsNil, {audienceID});
      continue;
    }
    if (!GWLAudienceHasAnyResultBit(GWLAudienceResultWords::of(current).status)) {
      environment.log(kGWLAudienceLogCurrentStatusZero, {audienceID});
      continue;
    }
    auto leaf = GWLPBAudienceLeafFilterResult::initWithMessageInfo();
    NANOSetInt32(leaf, LeafField::audience_id, audienceID);
    std::optional<std::vector<uint8_t>> newCurrent = row->currentResults();
    const auto& previousBytes = row->previousResults();
    if (previousBytes && !previousBytes->empty()) {
      NANOSetBool(leaf, LeafField::no_previous_results, false);
      auto previous = decodedResults(previousBytes);
      if (previous && previous->protoBuffer() == current->protoBuffer()) {
        // Unchanged: no previous results, and the first sequence record
        // keeps only its last time from now on.
        if (shortenFirstSequenceRecord(current)) newCurrent = current->protoBuffer();
      } else if (previous) {
        NANOSetMessage(leaf, LeafField::previous_results, previous);
      }
    } else {
      NANOSetBool(leaf, LeafField::no_previous_results, true);
    }
    NANOSetMessage(leaf, LeafField::current_results, current);
    leaves.push_back(std::move(leaf));
    rolled.push_back(std::make_shared<GWLFilterResult>(audienceID, newCurrent, row->currentResults()));
  }

  if (!rolled.empty()) {
    platform::Error saveError;
    if (!database_->updateFilterResults(rolled, &saveError) && GWLAudienceCallFailed(saveError)) {
      environment.log(kGWLAudienceLogSaveBundledResults, {saveError});
      return std::nullopt;
    }
  }
  return leaves;
}

bool GWLAudience::clearEvaluationResultsForSessionScopedFilters() {
  const GWLAudienceFilterEnvironment environment = this->environment();
  platform::Error error;
  auto sessionScoped = database_->allSessionScopedFilters(&error);
  if (!sessionScoped) {
    if (!GWLAudienceCallFailed(error)) return true;
    environment.log(kGWLAudienceLogQuerySessionScopedFilters, {error});
    return false;
  }
  platform::Error resultsError;
  auto results = database_->allFilterResults(&resultsError);
  if (!results) {
    if (!GWLAudienceCallFailed(resultsError)) return true;
    environment.log(kGWLAudienceLogQueryResultsForReset, {resultsError});
    return false;
  }

  for (const auto& [audienceID, filterIDs] : *sessionScoped) {
    auto found = results->find(audienceID);
    if (found == results->end()) continue;
    const auto& row = found->second;
    auto data = decodedResults(row->currentResults());
    if (!data) data = GWLPBResultData::initWithMessageInfo();
    GWLAudienceResultWords words = GWLAudienceResultWords::of(data);
    for (int32_t filterID : filterIDs) words.clearBits(filterID);

    platform::Error writeError;
    if (GWLAudienceHasAnyResultBit(words.status)) {
      words.writeTo(data);
      dropTimestamps<GWLPBDynamicFilterResultTimestamp>(data, GWLPBResultData::Field::dynamic_filter_timestamps,
                                                        filterIDs);
      dropTimestamps<GWLPBSequenceFilterResultTimestamp>(data, GWLPBResultData::Field::sequence_filter_timestamps,
                                                         filterIDs);
      auto reset = std::make_shared<GWLFilterResult>(audienceID, data->protoBuffer(), row->currentResults());
      if (!database_->updateFilterResults({reset}, &writeError) && GWLAudienceCallFailed(writeError)) {
        environment.log(kGWLAudienceLogUpdateResetResults, {writeError});
        return false;
      }
    } else if (!database_->deleteFilterResults({row}, &writeError) && GWLAudienceCallFailed(writeError)) {
      environment.log(kGWLAudienceLogDeleteResetResults, {writeError});
      return false;
    }
  }
  return true;
}
