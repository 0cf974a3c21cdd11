// GWLDatabase — the measurement database: one SQLite file,
// "halcyra-gauge-well.sql" in the library's directory under Application
// Support, that keeps everything the engine holds between runs.
//
//   app_metadata            one row (rowid 1): bundle indexes and times, the daily
//                           counters, the stored configuration and its time
//   raw_events_metadata     bundle metadata of raw events, once per fingerprint
//   raw_events              recorded events in recording order
//   events                  aggregates per event name (events_snapshot: a copy
//                           taken around a bundling pass)
//   user_attributes         user properties (at most 1000)
//   queue                   gzip-compressed bundles waiting for upload
//   event_filters, property_filters, audience_filter_values
//                           audience definitions and evaluation results
//   purchase_transactions, subscriptions
//                           purchases already reported (the newest 1000 each)
//   conditional_properties  conditional user properties (at most 1000)
//   main_event_params       main events of complex events
//   odm_values              on-device measurement values (at most 10)
//
// Tables are created, completed with later columns and migrated at every
// opening. Every write is a single statement; a group of writes that must
// succeed or fail together runs inside `performTransaction`, which is
// exclusive and does not nest.
//
// The stored configuration: `updateRemoteConfig` keeps the encoded
// GWLPBMeasurementConfig and stamps it with the current time,
// `queryMeasurementConfigWithError` answers it (null without error when none
// is stored, null with code 2 when the stored bytes do not decode),
// `updateRemoteConfigSuccessfulTimestamp` moves the stamp after a fetch that
// found the configuration unchanged, and `lastRemoteConfigUpdateTimestamp`
// reads the stamp. The entity tag and last-modified text of the configuration
// download are kept with the persisted settings (GWLPersistedConfig), not here.
//
// The implementation lies in one file per section of the class below
// (GWLDatabase.cc for opening, generic rows, app metadata and the stored
// configuration; GWLDatabaseRawEvents.cc, GWLDatabaseQueue.cc, ... for the others).
//
// The database is used from the worker queue only and takes no lock. Every
// failing operation answers false, nullopt or null and fills `error` (when
// given) with an error of the library's domain; what an operation answers
// never depends on whether the caller passed `error`.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analytics/foundation/core/GWLError.h"
#include "analytics/foundation/storage/GWLAppMetadata.h"
#include "analytics/foundation/storage/GWLDailyCounts.h"
#include "analytics/foundation/storage/GWLEventAggregates.h"
#include "analytics/foundation/storage/GWLEventFilter.h"
#include "analytics/foundation/storage/GWLFilterResult.h"
#include "analytics/foundation/storage/GWLPropertyFilter.h"
#include "analytics/foundation/storage/GWLSqliteStore.h"
#include "analytics/foundation/values/GWLConditionalUserProperty.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace platform {
class Clock;
}
class GWLEvent;
class GWLPBMeasurementBundle;
class GWLPBMeasurementConfig;
class GWLPersistedConfig;
class GWLRawEventData;
class GWLRemoteConfig;
class GWLUserAttribute;

inline constexpr const char* kGWLDatabaseFileName = "halcyra-gauge-well.sql";

// A queued bundle read back: the decoded bundle (its retry count in field 35)
// and the row id of its queue row.
struct GWLQueuedBundle {
  std::shared_ptr<GWLPBMeasurementBundle> bundle;
  int64_t rowID = 0;
};

class GWLDatabase {
 public:
  struct Dependencies {
    std::shared_ptr<platform::Clock> clock;  // the system clock when null
    // The settings in force (maxEventsStored, maxQueueTime,
    // databaseDeleteStaleBundlesInterval); the engine's when empty.
    std::function<std::shared_ptr<GWLRemoteConfig>()> remoteConfig;
  };
  template <class T>
  using Converter = std::function<std::optional<T>(const platform::Dictionary& row, platform::Error* error)>;

  // Opens the database file `name` in the library's directory; null when the
  // name is empty or the database could not be opened.
  [[nodiscard]] static std::shared_ptr<GWLDatabase> initWithDatabaseName(const std::string& name,
                                                           std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                           platform::Error* error = nullptr);
  [[nodiscard]] static std::shared_ptr<GWLDatabase> initWithDatabaseName(const std::string& name,
                                                           std::shared_ptr<GWLPersistedConfig> persistedConfig,
                                                           Dependencies dependencies,
                                                           platform::Error* error = nullptr);

  // ---- opening and transactions ----
  // Deletes the file and opens a new, empty database in its place.
  [[nodiscard]] bool reset(platform::Error* error = nullptr);
  [[nodiscard]] bool initializeDatabaseResourcesWithContext(const std::string& context, const std::string& databasePath,
                                              platform::Error* error = nullptr);
  [[nodiscard]] bool ensureAllTables();
  [[nodiscard]] bool initializeAppMetadata();
  // Runs `block` in one exclusive transaction; false (report 12056) when it
  // answered false, threw, or the transaction could not begin or commit.
  [[nodiscard]] bool performTransaction(const std::function<bool()>& block);
  GWLSqliteStore* sqliteStore() const { return store_.get(); }
  // Today's day index: floor((now - midnight offset) / 86400).
  int32_t currentDayIndex() const;

  // ---- generic row operations ----
  template <class T>
  [[nodiscard]] std::optional<std::vector<T>> allDataTypesFromTableWithName(const std::string& table, int64_t tableLimit,
                                                              platform::Error* error, const Converter<T>& convert);
  template <class T>
  [[nodiscard]] std::optional<std::vector<T>> dataTypesFromTableWithName(const std::string& table, const std::string& columnName,
                                                           const std::optional<platform::Object>& columnValue,
                                                           platform::Error* error, const Converter<T>& convert);
  [[nodiscard]] bool insertDataType(const platform::Dictionary& dataType, const std::string& table,
                      platform::Error* error = nullptr);
  [[nodiscard]] bool upsertDataType(const platform::Dictionary& dataType, const std::string& table, const std::string& columnName,
                      const platform::Object& columnValue, int64_t tableLimit, platform::Error* error = nullptr);
  [[nodiscard]] bool updateDataType(const platform::Dictionary& dataType, const std::string& table, const std::string& columnName,
                      const platform::Object& columnValue, platform::Error* error = nullptr);

  // ---- app metadata and daily counts ----
  [[nodiscard]] std::shared_ptr<GWLAppMetadata> queryAppMetadata(platform::Error* error = nullptr);
  [[nodiscard]] bool updateAppMetadata(const std::shared_ptr<GWLAppMetadata>& metadata, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<GWLDailyCounts> dailyCounts(platform::Error* error = nullptr);
  [[nodiscard]] bool updateDailyCounts(const GWLDailyCounts& counts, platform::Error* error = nullptr);

  // ---- raw events ----
  [[nodiscard]] bool insertIfNotExistsRawEventMetadata(const GWLPBMeasurementBundle& metadata, platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLPBMeasurementBundle> queryRawEventsMetadataWithFingerprint(int64_t fingerprint,
                                                                                platform::Error* error = nullptr);
  [[nodiscard]] bool deleteRawEventMetadataWithMetadataFingerprint(int64_t fingerprint, platform::Error* error = nullptr);
  [[nodiscard]] bool deleteUnusedRawEventsMetadata(platform::Error* error = nullptr);
  [[nodiscard]] bool insertRawEvent(const std::shared_ptr<GWLEvent>& event, int64_t metadataFingerprint, bool isRealtime,
                      platform::Error* error = nullptr);
  [[nodiscard]] bool updateRawEvent(const std::shared_ptr<GWLRawEventData>& rawEvent, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> allRawEventsWithError(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLRawEventData>>> rawEventsWithMetadataFingerprint(
      int64_t fingerprint, platform::Error* error, const GWLRowFilter& eventFilter);
  [[nodiscard]] std::shared_ptr<GWLRawEventData> rawEventDataFromDictionary(const platform::Dictionary& row,
                                                              platform::Error* error = nullptr);
  // nullopt without error when there are no raw events.
  [[nodiscard]] std::optional<int64_t> nextMetadataFingerprintToProcess(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> containsRawEventWithMetadataFingerprint(int64_t fingerprint, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> isRawEventsTableEmpty(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> containsRealtimeRawEventsWithError(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<double> queryLatestRawEventTime(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteRawEventsWithMaxRowID(int64_t rowID, platform::Error* error = nullptr);
  // Keeps the newest maxEventsStored - 1 raw events; answers how many went.
  [[nodiscard]] std::optional<int64_t> deleteRawEventsOverAbsoluteLimit(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteStaleRawEventsDataOlderThanMaxAge(double maxAge, platform::Error* error = nullptr);

  // ---- upload queue ----
  [[nodiscard]] bool insertBundle(const GWLPBMeasurementBundle& bundle, bool isRealtime, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<GWLQueuedBundle>> queryBundlesWithCountLimit(int64_t countLimit, int64_t sizeLimit,
                                                                         platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<GWLQueuedBundle>> queryBundlesWithRowIDs(const std::vector<int64_t>& rowIDs,
                                                                     platform::Error* error = nullptr);
  [[nodiscard]] bool deleteBundlesWithRowIDs(const std::vector<int64_t>& rowIDs, platform::Error* error = nullptr);
  [[nodiscard]] bool incrementRetryCounterForBundlesWithIDs(const std::vector<int64_t>& rowIDs, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> isQueuedBundleTableEmpty(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> containsRealtimeBundlesWithError(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<double> queryLatestBundleTime(platform::Error* error = nullptr);
  // true when stale data were deleted, false when the last deletion is too
  // recent, nullopt on failure.
  [[nodiscard]] std::optional<bool> maybeDeleteStaleData(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteStaleBundlesOlderThanMaxAge(double maxAge, platform::Error* error = nullptr);

  // ---- event aggregates ----
  [[nodiscard]] std::shared_ptr<GWLEventAggregates> eventAggregatesWithName(const std::string& name,
                                                              platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLEventAggregates> eventAggregatesSnapshotWithName(const std::string& name,
                                                                      platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLEventAggregates> eventAggregatesWithName(const std::string& name, const std::string& table,
                                                              platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLEventAggregates>>> allEventAggregates(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> publicEventCount(platform::Error* error = nullptr);
  [[nodiscard]] bool updateEventAggregates(const std::shared_ptr<GWLEventAggregates>& aggregates, platform::Error* error = nullptr);
  [[nodiscard]] bool clearCurrentSessionCounts(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteAllEventAggregates(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteAllEventAggregatesInSnapshot(platform::Error* error = nullptr);
  [[nodiscard]] bool createEventsSnapshotTable(platform::Error* error = nullptr);
  [[nodiscard]] bool restoreFromEventsSnapshotTable(platform::Error* error = nullptr);

  // ---- user attributes ----
  [[nodiscard]] std::optional<int64_t> publicUserAttributeCount(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> userAttributeCountForOrigin(const std::string& origin, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> containsUserAttributeWithName(const std::string& name, platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLUserAttribute> userAttributeWithName(const std::string& name, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> allLifetimeValueUserAttributes(
      platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLUserAttribute>>> userAttributesIncludingInternal(
      bool includeInternal, platform::Error* error = nullptr);
  [[nodiscard]] bool updateUserAttribute(const std::shared_ptr<GWLUserAttribute>& attribute, platform::Error* error = nullptr);
  [[nodiscard]] bool deleteUserAttributeWithName(const std::string& name, platform::Error* error = nullptr);

  // ---- audiences ----
  [[nodiscard]] std::optional<std::map<int32_t, std::shared_ptr<GWLFilterResult>>> allFilterResults(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<int32_t>> allAudienceIDs(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLEventFilter>>> eventFiltersForEventName(
      const std::string& name, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::vector<std::shared_ptr<GWLPropertyFilter>>> propertyFiltersForPropertyName(
      const std::string& name, platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLFilterResult> filterResultForAudienceID(int32_t audienceID, platform::Error* error = nullptr);
  [[nodiscard]] std::optional<std::map<int32_t, std::vector<int32_t>>> allSessionScopedFilters(platform::Error* error = nullptr);
  [[nodiscard]] bool updateEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                          platform::Error* error = nullptr);
  [[nodiscard]] bool updatePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                             platform::Error* error = nullptr);
  [[nodiscard]] bool updateFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                           platform::Error* error = nullptr);
  [[nodiscard]] bool deleteFilterResults(const std::vector<std::shared_ptr<GWLFilterResult>>& results,
                           platform::Error* error = nullptr);
  [[nodiscard]] bool deleteEventFilters(const std::vector<std::shared_ptr<GWLEventFilter>>& filters,
                          platform::Error* error = nullptr);
  [[nodiscard]] bool deletePropertyFilters(const std::vector<std::shared_ptr<GWLPropertyFilter>>& filters,
                             platform::Error* error = nullptr);
  [[nodiscard]] bool deleteAllEventFilters(platform::Error* error = nullptr);
  [[nodiscard]] bool deleteAllPropertyFilters(platform::Error* error = nullptr);

  // ---- stored configuration ----
  [[nodiscard]] bool updateRemoteConfig(const GWLPBMeasurementConfig& config, platform::Error* error = nullptr);
  [[nodiscard]] bool updateRemoteConfigSuccessfulTimestamp(double timestamp, platform::Error* error = nullptr);
  [[nodiscard]] std::shared_ptr<GWLPBMeasurementConfig> queryMeasurementConfigWithError(platform::Error* error = nullptr);
  // nullopt without error when no time is stored.
  [[nodiscard]] std::optional<double> lastRemoteConfigUpdateTimestamp(platform::Error* error = nullptr);

  // ---- purchases and subscriptions ----
  // true: stored as new; false: a duplicate or empty; nullopt: failure.
  [[nodiscard]] std::optional<bool> insertIfNotDuplicatePurchaseFingerprint(const std::string& fingerprint,
                                                              platform::Error* error = nullptr);
  [[nodiscard]] std::optional<bool> insertIfNotDuplicateSubscriptionID(const std::string& subscriptionID,
                                                         platform::Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> deleteSubscriptionsOverLimit(platform::Error* error = nullptr);

  // ---- conditional user properties ----
  [[nodiscard]] std::shared_ptr<GWLConditionalUserProperty> conditionalUserPropertyWithName(const std::string& name,
                                                                              platform::Error* error = nullptr);
  [[nodiscard]] bool updateConditionalUserProperty(const std::shared_ptr<GWLConditionalUserProperty>& property,
                                     platform::Error* error = nullptr);
  [[nodiscard]] bool deleteConditionalUserPropertyWithName(const std::string& name, platform::Error* error = nullptr);
  using ConditionalUserProperties = std::vector<std::shared_ptr<GWLConditionalUserProperty>>;
  [[nodiscard]] std::optional<ConditionalUserProperties> timedOutConditionalUserPropertiesWithError(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<ConditionalUserProperties> expiredConditionalUserPropertiesWithError(platform::Error* error = nullptr);
  [[nodiscard]] std::optional<ConditionalUserProperties> triggeredConditionalUserPropertiesWithEventName(
      const std::string& eventName, platform::Error* error = nullptr);
  // Names beginning with `prefix` and origins equal to `origin`, both up to
  // ASCII case; "%" and "_" in either match only themselves.
  [[nodiscard]] std::optional<ConditionalUserProperties> conditionalUserPropertiesWithPrefix(
      const std::optional<std::string>& prefix, const std::optional<std::string>& origin,
      platform::Error* error = nullptr);
  [[nodiscard]] std::optional<ConditionalUserProperties> conditionalUserPropertiesWithCondition(
      const std::string& condition, const platform::Array& parameterValues, platform::Error* error = nullptr);

  // ---- complex events ----
  // The main event and its count of children; nullopt without error when none is stored.
  [[nodiscard]] std::optional<std::pair<std::shared_ptr<GWLEvent>, int64_t>> mainEventAndChildCountPairWithEventID(
      int64_t eventID, platform::Error* error = nullptr);
  [[nodiscard]] bool updateComplexEventForAudienceEvaluationWithEventID(int64_t eventID, int64_t childEventCount,
                                                          const std::shared_ptr<GWLEvent>& mainEvent,
                                                          platform::Error* error = nullptr);
  [[nodiscard]] bool deleteComplexEventForAudienceEvaluationWithEventID(int64_t eventID, platform::Error* error = nullptr);

  // ---- on-device measurement values ----
  // A copy of the row (rowid, name, value, set_timestamp); nullopt when none.
  [[nodiscard]] std::optional<platform::Dictionary> ODMValueWithName(const std::string& name, platform::Error* error = nullptr);
  [[nodiscard]] bool updateODMValue(const std::string& value, const std::string& name, double setTimestamp,
                      platform::Error* error = nullptr);
  [[nodiscard]] bool deleteODMValueWithName(const std::string& name, platform::Error* error = nullptr);

  // The measurement value of a user attribute or conditional property: a
  // string, a double, or any other value as a 64-bit integer.
  static platform::Object objectForColumn(const GWLValue& value);

 private:
  GWLDatabase(std::shared_ptr<GWLPersistedConfig> persistedConfig, Dependencies dependencies);
  double now() const;
  std::shared_ptr<GWLRemoteConfig> remoteConfig() const;
  [[nodiscard]] std::optional<std::vector<platform::Dictionary>> rows(const std::string& query, const platform::Array& parameters,
                                                        platform::Error* error);
  [[nodiscard]] std::optional<platform::Object> number(const std::string& query, const platform::Array& parameters,
                                         platform::Error* error);
  [[nodiscard]] std::optional<bool> flag(const std::string& query, const platform::Array& parameters, platform::Error* error);
  [[nodiscard]] bool deleteWhere(const std::string& table, const std::string& condition, const platform::Array& parameters,
                   platform::Error* error);
  [[nodiscard]] std::optional<GWLQueuedBundle> queuedBundleFromRow(const platform::Dictionary& row, platform::Error* error);
  [[nodiscard]] std::shared_ptr<GWLConditionalUserProperty> conditionalUserPropertyFromRow(const platform::Dictionary& row,
                                                                             platform::Error* error);
  [[nodiscard]] std::optional<bool> insertIfNotDuplicate(const std::string& table, const std::string& column,
                                           const std::string& value, platform::Error* error);
  [[nodiscard]] bool storeFailed(platform::Error* error, const char* message);

  std::unique_ptr<GWLSqliteStore> store_;
  std::shared_ptr<GWLPersistedConfig> persistedConfig_;
  Dependencies dependencies_;
};

template <class T>
[[nodiscard]] std::optional<std::vector<T>> GWLDatabase::allDataTypesFromTableWithName(const std::string& table,
                                                                         int64_t tableLimit, platform::Error* error,
                                                                         const Converter<T>& convert) {
  if (!convert) {
    platform::setError(error, platform::Error(kGWLErrorDomain, 1,
                                              "Received nil block to get all data types"));
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, * FROM " + table + " ORDER BY rowid LIMIT " + std::to_string(tableLimit), {},
                    error);
  if (!found) return std::nullopt;
  std::vector<T> objects;
  for (const auto& row : *found) {
    if (auto object = convert(row, error)) objects.push_back(std::move(*object));
  }
  return objects;
}

template <class T>
[[nodiscard]] std::optional<std::vector<T>> GWLDatabase::dataTypesFromTableWithName(const std::string& table,
                                                                      const std::string& columnName,
                                                                      const std::optional<platform::Object>& columnValue,
                                                                      platform::Error* error,
                                                                      const Converter<T>& convert) {
  const char* problem = table.empty()        ? "Received empty table name to create data type from table"
                        : columnName.empty() ? "Received empty column name to create data type from table"
                        : !columnValue       ? "Received nil column value to create data type from table"
                                             : nullptr;
  if (problem) {
    platform::setError(error, platform::Error(kGWLErrorDomain, 1, problem));
    return std::nullopt;
  }
  if (!convert) {
    platform::setError(error, platform::Error(kGWLErrorDomain, 2,
                                              "Received nil block to create data type from table"));
    return std::nullopt;
  }
  auto found = rows("SELECT rowid, * FROM " + table + " WHERE " + columnName + " = ?", {*columnValue}, error);
  if (!found) return std::nullopt;
  std::vector<T> objects;
  for (const auto& row : *found) {
    if (auto object = convert(row, error)) objects.push_back(std::move(*object));
  }
  if (!found->empty() && objects.empty()) {
    platform::setError(error, platform::Error(kGWLErrorDomain, 2,
                                              "Failed to initialize data types from dictionaries"));
    return std::nullopt;
  }
  return objects;
}
