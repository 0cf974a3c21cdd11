#include "analytics/foundation/storage/GWLDatabase.h"

#include <set>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLDatabaseInternal.h"
#include "analytics/wire/GWLPBEventFilter.h"
#include "analytics/wire/GWLPBPropertyFilter.h"
#include "analytics/wire/NANO.h"

using namespace gwl_database;

// ============================================================================
// Audiences
// ============================================================================

namespace {
std::optional<std::shared_ptr<GWLFilterResult>> filterResultFromRow(const platform::Dictionary& row,
                                                                    platform::Error* error) {
  const platform::Object* audienceID = field(row, "audience_id");
  if (row.empty() || !audienceID || !audienceID->intValue()) {
    GWLSetError(error, kData, "Received empty dictionary for getting filter result");
    return std::nullopt;
  }
  auto bytes = [&](const char* name) -> std::optional<std::vector<uint8_t>> {
    const platform::Object* value = field(row, name);
    if (value && value->bytesValue()) return *value->bytesValue();
    return std::nullopt;
  };
  return std::make_shared<GWLFilterResult>(int32Of(*audienceID->intValue()), bytes("current_results"),
                                           bytes("previous_results"));
}

template <class Filter, class Message>
std::optional<std::shared_ptr<Filter>> filterFromRow(const platform::Dictionary& row, platform::Error* error,
                                                     const char* nameColumn, const char* emptyMessage,
                                                     int32_t sessionField, int32_t dynamicField,
                                                     int32_t sequenceField) {
  const platform::Object* audienceID = field(row, "audience_id");
  const platform::Object* filterID = field(row, "filter_id");
  const platform::Object* name = field(row, nameColumn);
  const platform::Object* data = field(row, "data");
  if (row.empty() || !audienceID || !audienceID->intValue() || !filterID || !filterID->intValue() || !name ||
      !name->stringValue() || !data || !data->bytesValue()) {
    GWLSetError(error, kData, emptyMessage);
    return std::nullopt;
  }
  auto message = Message::initWithBuffer(std::span<const uint8_t>(*data->bytesValue()));
  const bool session = message && NANOGetBool(message, sessionField);
  const bool dynamic = message && NANOGetBool(message, dynamicField);
  const bool sequence = message && NANOGetBool(message, sequenceField);
  return std::make_shared<Filter>(int32Of(*audienceID->intValue()), int32Of(*filterID->intValue()),
                                  *name->stringValue(), *data->bytesValue(), session, dynamic, sequence);
}

std::optional<std::shared_ptr<GWLEventFilter>> eventFilterFromRow(const platform::Dictionary& row,
                                                                  platform::Error* error) {
  return filterFromRow<GWLEventFilter, GWLPBEventFilter>(
      row, error, "event_name", "Received empty dictionary for getting event filter",
      GWLPBEventFilter::Field::session_scoped, GWLPBEventFilter::Field::dynamic, GWLPBEventFilter::Field::sequence);
}

std::optional<std::shared_ptr<GWLPropertyFilter>> propertyFilterFromRow(const platform::Dictionary& row,
                                                                        platform::Error* error) {
  return filterFromRow<GWLPropertyFilter, GWLPBPropertyFilter>(
      row, error, "property_name", "Received empty dictionary for getting property filter",
      GWLPBPropertyFilter::Field::session_scoped, GWLPBPropertyFilter::Field::dynamic,
      GWLPBPropertyFilter::Field::sequence);
}
}  // namespace

std::optional<std::map<int32_t, std::shared_ptr<GWLFilterResult>>> GWLDatabase::allFilterResults(
    platform::Error* error) {
  auto all = allDataTypesFromTableWithName<std::shared_ptr<GWLFilterResult>>(kAudienceFilterValues, -1, error,
                                                                             filterResultFromRow);
  if (!all) return std::nullopt;
  std::map<int32_t, std::shared_ptr<GWLFilterResult>> results;
  for (auto& result : *all) results[result->audienceID()] = result;
  return results;
}

std::optional<std::vector<int32_t>> GWLDatabase::allAudienceIDs(platform::Error* error) {
  auto found =
      rows("SELECT audience_id FROM event_filters UNION SELECT audience_id FROM property_filters", {}, error);
  if (!found) return std::nullopt;
  std::vector<int32_t> ids;
  for (const auto& row : *found) {
    const platform::Object* id = field(row, "audience_id");
    if (!id || !id->intValue()) {
      GWLSetError(error, kArg, "Received nil audience ID for querying all audience IDs");
      return std::nullopt;
    }
    ids.push_back(int32Of(*id->intValue()));
  }
  return ids;
}

std::optional<std::vector<std::shared_ptr<GWLEventFilter>>> GWLDatabase::eventFiltersForEventName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty event name for getting event filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<std::shared_ptr<GWLEventFilter>>(kEventFilters, "event_name",
                                                                     platform::Object(name), error, eventFilterFromRow);
}

std::optional<std::vector<std::shared_ptr<GWLPropertyFilter>>> GWLDatabase::propertyFiltersForPropertyName(
    const std::string& name, platform::Error* error) {
  if (name.empty()) {
    GWLSetError(error, kArg, "Received empty property name for getting property filters");
    return std::nullopt;
  }
  return dataTypesFromTableWithName<std::shared_ptr<GWLPropertyFilter>>(
      kPropertyFilters, "property_name", platform::Object(name), error, propertyFilterFromRow);
}

std::shared_ptr<GWLFilterResult> GWLDatabase::filterResultForAudienceID(int32_t audienceID, platform::Error* error) {
  auto found = dataTypesFromTableWithName<std::shared_ptr<GWLFilterResult>>(
      kAudienceFilterValues, "audience_id", platform::Object(int64_t{audienceID}), error, filterResultFromRow);
  if (!found || found->empty()) return nullptr;
  return found->front();
}

std::optional<std::map<int32_t, std::vector<int32_t>>> GWLDatabase::allSessionScopedFilters(platform::Error* error) {
  auto found = rows(
      "SELECT audience_id, filter_id FROM event_filters WHERE session_scoped = 1 UNION SELECT audience_id, filter_id "
      "FROM property_filters WHERE session_scoped = 1",
      {}, error);
  if (!found) return std::nullopt;
  std::map<int32_t, std::vector<int32_t>> filters;
  for (const auto& row : *found) {
    const platform::Object* audienceID = field(row, "audience_id");
    const platform::Object* filterID = field(row, "filter_id");
    if (!audienceID || !filterID || !audienceID->intValue() || !filterID->intValue()) continue;
    filters[int32Of(*audienceID->intValue())].push_back(int32Of(*filterID->intValue()));
  }
  return filters;
}

bool GWLDatabase::updateEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty event filters to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& filter : filters) {
    if (!filter) return fail(error, kData, "Received empty event filter for getting dictionary representation");
    if (filter->eventName().empty()) {
      return fail(error, kData, "Received event filter with empty event name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return fail(error, kData, "Received event filter with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{filter->audienceID()}},
                                {"filter_id", int64_t{filter->filterID()}},
                                {"event_name", filter->eventName()},
                                {"data", filter->data()},
                                {"session_scoped", int64_t{filter->isSessionScoped() ? 1 : 0}}};
    if (!store_->upsertRecord(row, kEventFilters, error)) return false;
  }
  return true;
}

bool GWLDatabase::updatePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty property filters to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& filter : filters) {
    if (!filter) return fail(error, kData, "Received empty property filter for getting dictionary representation");
    if (filter->propertyName().empty()) {
      return fail(error, kData,
                  "Received property filter with empty property name for getting dictionary representation");
    }
    if (filter->data().empty()) {
      return fail(error, kData, "Received property filter with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{filter->audienceID()}},
                                {"filter_id", int64_t{filter->filterID()}},
                                {"property_name", filter->propertyName()},
                                {"data", filter->data()},
                                {"session_scoped", int64_t{filter->isSessionScoped() ? 1 : 0}}};
    if (!store_->upsertRecord(row, kPropertyFilters, error)) return false;
  }
  return true;
}

bool GWLDatabase::updateFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return fail(error, kArg, "Received empty filter results to update");
  if (storeFailed(error, "Database not open")) return false;
  for (const auto& result : results) {
    if (!result) return fail(error, kData, "Received empty filter result for getting dictionary representation");
    if (!result->currentResults() || result->currentResults()->empty()) {
      return fail(error, kData, "Received filter result with empty data for getting dictionary representation");
    }
    platform::Dictionary row = {{"audience_id", int64_t{result->audienceID()}},
                                {"current_results", *result->currentResults()}};
    const auto& previous = result->previousResults();
    row.emplace("previous_results", previous && !previous->empty() ? platform::Object(*previous) : platform::Object());
    if (!store_->upsertRecord(row, kAudienceFilterValues, error)) return false;
  }
  return true;
}

bool GWLDatabase::deleteFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                                      platform::Error* error) {
  if (results.empty()) return fail(error, kArg, "Received empty filter results to delete");
  std::set<int32_t> ids;
  for (const auto& result : results) {
    if (!result) return fail(error, kArg, "Received unknown type to delete filter result");
    ids.insert(result->audienceID());
  }
  std::string list;
  for (int32_t id : ids) list += (list.empty() ? "" : ",") + std::to_string(id);
  return deleteWhere(kAudienceFilterValues, "audience_id IN (" + list + ")", {}, error);
}

namespace {
template <class Filter>
std::optional<std::string> filterKeyCondition(const std::vector<std::shared_ptr<Filter>>& filters) {
  std::string condition;
  for (const auto& filter : filters) {
    if (!filter) return std::nullopt;
    condition += (condition.empty() ? "" : " OR ") + std::string("(audience_id=") +
                 std::to_string(filter->audienceID()) + " AND filter_id=" + std::to_string(filter->filterID()) + ")";
  }
  return condition;
}
}  // namespace

bool GWLDatabase::deleteEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                                     platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty event filters to delete");
  auto condition = filterKeyCondition(filters);
  if (!condition) return fail(error, kArg, "Received unknown type to delete event filter");
  return deleteWhere(kEventFilters, *condition, {}, error);
}

bool GWLDatabase::deletePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                                        platform::Error* error) {
  if (filters.empty()) return fail(error, kArg, "Received empty property filters to delete");
  auto condition = filterKeyCondition(filters);
  if (!condition) return fail(error, kArg, "Received unknown type to delete property filter");
  return deleteWhere(kPropertyFilters, *condition, {}, error);
}

bool GWLDatabase::deleteAllEventFilters(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kEventFilters, error);
}

bool GWLDatabase::deleteAllPropertyFilters(platform::Error* error) {
  if (storeFailed(error, "Database not open")) return false;
  return store_->deleteAllRecordsFromTableWithName(kPropertyFilters, error);
}
